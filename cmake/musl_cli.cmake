# The Linux qorvex-patch linked statically against musl instead of glibc.
#
# A run takes a few milliseconds, and glibc's start-up is a large part of
# them in a virtual machine: it asks the processor about itself with some
# forty CPUID instructions, each of which traps to the hypervisor (about 5 us
# each on the project's machine). musl asks nothing. The C++ library's headers
# and archives on the system are glibc's; they are used as they are, with the
# few names they expect from glibc supplied (cli/musl).
#
# Sets QORVEX_MUSL_CLI, and for the objects of that program
# QORVEX_MUSL_COMPILE_OPTIONS, QORVEX_MUSL_LINK_FIRST and QORVEX_MUSL_LINK_LAST.
set(QORVEX_MUSL_CLI OFF)
option(QORVEX_USE_MUSL "Link the Linux qorvex-patch statically against musl where it is installed" ON)
if(NOT QORVEX_USE_MUSL OR QORVEX_SANITIZE OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux"
   OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR NOT CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  return()
endif()

find_path(QORVEX_MUSL_INCLUDE NAMES stdio.h PATHS /usr/include/x86_64-linux-musl /usr/lib/musl/include
          NO_DEFAULT_PATH)
find_path(QORVEX_MUSL_LIB NAMES libc.a PATHS /usr/lib/x86_64-linux-musl /usr/lib/musl/lib NO_DEFAULT_PATH)
find_path(QORVEX_KERNEL_ASM NAMES asm/unistd.h PATHS /usr/include/x86_64-linux-gnu /usr/include
          NO_DEFAULT_PATH)
if(NOT QORVEX_MUSL_INCLUDE OR NOT QORVEX_MUSL_LIB OR NOT QORVEX_KERNEL_ASM
   OR NOT EXISTS /usr/include/linux/openat2.h)
  message(STATUS "musl not found: qorvex-patch is linked against glibc")
  return()
endif()

# The kernel's headers, without glibc's beside them.
set(kernel ${CMAKE_BINARY_DIR}/musl-kernel-headers)
file(MAKE_DIRECTORY ${kernel})
file(CREATE_LINK /usr/include/linux ${kernel}/linux SYMBOLIC)
file(CREATE_LINK /usr/include/asm-generic ${kernel}/asm-generic SYMBOLIC)
file(CREATE_LINK ${QORVEX_KERNEL_ASM}/asm ${kernel}/asm SYMBOLIC)

# The C++ headers come before musl's, as they do before glibc's.
set(dirs ${CMAKE_SOURCE_DIR}/cli/musl/include)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=include
                OUTPUT_VARIABLE gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE)
foreach(dir ${CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES})
  if(dir MATCHES "/c\\+\\+/")
    list(APPEND dirs ${dir})
  endif()
endforeach()
list(APPEND dirs ${gcc_include} ${QORVEX_MUSL_INCLUDE} ${kernel})
# Spelled out for the probe; "SHELL:" keeps CMake from merging the repeated
# -isystem of the targets' options.
set(options -nostdinc)
# Each function and datum in a section of its own, and the linker drops those
# nothing uses: half the program's size, fewer pages to fault in at start.
set(target_options -nostdinc -ffunction-sections -fdata-sections)
foreach(dir ${dirs})
  list(APPEND options -isystem ${dir})
  list(APPEND target_options "SHELL:-isystem ${dir}")
endforeach()
list(APPEND options -include ${CMAKE_SOURCE_DIR}/cli/musl/glibc_names.h)
list(APPEND target_options "SHELL:-include ${CMAKE_SOURCE_DIR}/cli/musl/glibc_names.h")

foreach(piece crtbeginT.o crtend.o libstdc++.a libgcc.a libgcc_eh.a)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${piece}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(STATUS "musl: ${piece} not found: qorvex-patch is linked against glibc")
    return()
  endif()
  string(MAKE_C_IDENTIFIER ${piece} key)
  set(gcc_${key} ${path})
endforeach()
set(link_first -static -nostdlib -no-pie -Wl,--gc-sections ${QORVEX_MUSL_LIB}/crt1.o ${QORVEX_MUSL_LIB}/crti.o
    ${gcc_crtbeginT_o})
set(link_last -Wl,--start-group ${gcc_libstdc___a} ${gcc_libgcc_a} ${gcc_libgcc_eh_a}
    ${QORVEX_MUSL_LIB}/libc.a -Wl,--end-group ${gcc_crtend_o} ${QORVEX_MUSL_LIB}/crtn.o)

# A program that throws, catches, uses the containers and the file system
# library must build and run, or the glibc link is kept.
set(probe_dir ${CMAKE_BINARY_DIR}/musl-probe)
file(MAKE_DIRECTORY ${probe_dir})
file(WRITE ${probe_dir}/probe.cc [=[
#include <cstdio>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
int main() {
  std::map<std::string, int> counts;
  for (const char* word : {"a", "b", "a"}) ++counts[word];
  std::error_code ignored;
  const bool cwd = !std::filesystem::current_path(ignored).empty();
  try {
    throw std::runtime_error("caught");
  } catch (const std::exception& e) {
    std::printf("%s %d %d\n", e.what(), counts["a"], cwd ? 1 : 0);
  }
}
]=])
set(runtime_sources ${CMAKE_SOURCE_DIR}/cli/musl/glibc_symbols.cc ${CMAKE_SOURCE_DIR}/cli/musl/small_alloc.cc
    ${CMAKE_SOURCE_DIR}/cli/musl/fast_strings.cc ${CMAKE_SOURCE_DIR}/cli/musl/libc_exports.cc)
execute_process(
  COMMAND ${CMAKE_CXX_COMPILER} -std=c++23 -O2 ${options}
          -fno-builtin -fno-tree-loop-distribute-patterns ${link_first} ${probe_dir}/probe.cc
          ${runtime_sources} ${link_last} -o ${probe_dir}/probe
  RESULT_VARIABLE built OUTPUT_VARIABLE built_output ERROR_VARIABLE built_output)
if(built EQUAL 0)
  execute_process(COMMAND ${probe_dir}/probe RESULT_VARIABLE ran OUTPUT_VARIABLE said
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT built EQUAL 0 OR NOT ran EQUAL 0 OR NOT said STREQUAL "caught 2 1")
  message(STATUS "musl: the probe program failed: qorvex-patch is linked against glibc")
  return()
endif()

message(STATUS "qorvex-patch is linked statically against musl")
set(QORVEX_MUSL_CLI ON)
set(QORVEX_MUSL_COMPILE_OPTIONS ${target_options})
set(QORVEX_MUSL_LINK_FIRST ${link_first})
set(QORVEX_MUSL_LINK_LAST ${link_last})
set(QORVEX_MUSL_RUNTIME_SOURCES ${runtime_sources})
