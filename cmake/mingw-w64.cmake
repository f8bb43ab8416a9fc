# Cross build for 64-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-x86-64).
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# The posix thread model is used: the win32 one has no std::thread, which the
# tests need. Everything is linked statically, so each exe is a single file
# that needs no DLL beyond the ones every Windows has.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QORVEX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QORVEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QORVEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QORVEX_MINGW_PREFIX}-windres)
set(CMAKE_AR ${QORVEX_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${QORVEX_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${QORVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# W functions by default, no min/max macros, Windows 10 as the oldest system
# the program supports. Given as flags so try_compile checks see them too.
set(QORVEX_WINDOWS_DEFINES "-DUNICODE -D_UNICODE -DNOMINMAX -D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00")
set(CMAKE_C_FLAGS_INIT "${QORVEX_WINDOWS_DEFINES}")
set(CMAKE_CXX_FLAGS_INIT "${QORVEX_WINDOWS_DEFINES}")
set(CMAKE_RC_FLAGS_INIT "${QORVEX_WINDOWS_DEFINES}")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Windows executables that the build or CTest runs on this machine (tests,
# GoogleTest's test discovery) go through Wine, in a private prefix inside the
# build folder so no one's ~/.wine is touched.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine_exec.sh --prefix ${CMAKE_BINARY_DIR}/wine-prefix --)

# Listing the GoogleTest cases of a Windows test exe needs Wine; do it when
# CTest runs rather than after every link, so building never needs Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
