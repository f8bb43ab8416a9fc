# Provides GTest::gtest, GTest::gtest_main, GTest::gmock and GTest::gmock_main.
# A native build uses the installed GoogleTest. A cross build cannot link the
# host's libraries, so it compiles GoogleTest from the sources that Debian's
# googletest package puts in /usr/src/googletest (nothing is downloaded).
if(TARGET GTest::gtest)
  return()
endif()

if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest REQUIRED)
  return()
endif()

set(QORVEX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${QORVEX_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${QORVEX_GOOGLETEST_SOURCE}; "
                      "scripts/setup.sh installs the googletest package")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${QORVEX_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(library gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${library})
    add_library(GTest::${library} ALIAS ${library})
  endif()
endforeach()
