# qv_library(<target> LABEL <ctest label> [DEPS <targets/libs>...] [TEST_DEPS <libs>...])
#
# One static library per folder: every .cpp/.c below the folder except those under tests/
# (and under any tests/ of a subfolder). The folder itself is a public include directory.
#
# Tests of the library:
#   tests/*.cpp      -> <target>_tests     label <LABEL>          (headless)
#   tests/gl/*.cpp   -> <target>_gl_tests  label <LABEL>-gl       (need a display; run under Xvfb)
#   tests/threads/*.cpp -> <target>_threads_tests  label threads  (threaded; also
#                       built and run under ThreadSanitizer by the Tsan build type, which defines
#                       only these test programs; the target qv_threads_tests builds them all)
# A tests/main.cpp (or tests/gl/main.cpp, tests/threads/main.cpp) replaces GoogleTest's default main;
# a drawing test program's main calls qvtest::runGLTests (qv_gl_test_support, GLTestProgram.h, made
# by platform/framework and linked into every test program).
# Shared test helpers can go in tests/support/*.cpp; they are linked into every test program.
function(qv_library target)
  cmake_parse_arguments(Q "" "LABEL" "DEPS;TEST_DEPS" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  list(FILTER srcs EXCLUDE REGEX "/tests/")
  list(FILTER srcs EXCLUDE REGEX "/fuzz/")
  if(NOT srcs)
    set(stub ${CMAKE_CURRENT_BINARY_DIR}/${target}_empty.cpp)
    if(NOT EXISTS ${stub})
      file(WRITE ${stub} "// This library has no sources yet.\nnamespace { [[maybe_unused]] int qv_empty_library = 0; }\n")
    endif()
    set(srcs ${stub})
  endif()
  add_library(${target} STATIC ${srcs})
  target_include_directories(${target} PUBLIC ${dir})
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  target_link_libraries(${target} PUBLIC ${Q_DEPS} Threads::Threads)

  if(QV_TESTS)
    if(NOT CMAKE_BUILD_TYPE STREQUAL "Tsan")
      _qv_test_program(${target}_tests ${dir}/tests "${Q_LABEL}" ${target} "${Q_TEST_DEPS}")
      _qv_test_program(${target}_gl_tests ${dir}/tests/gl "${Q_LABEL}-gl" ${target} "${Q_TEST_DEPS}")
    endif()
    _qv_test_program(${target}_threads_tests ${dir}/tests/threads threads ${target}
      "${Q_TEST_DEPS}")
    if(TARGET ${target}_threads_tests)
      add_dependencies(qv_threads_tests ${target}_threads_tests)
    endif()
  endif()
endfunction()

function(_qv_test_program name tdir label lib test_deps)
  file(GLOB tsrcs CONFIGURE_DEPENDS ${tdir}/*.cpp)
  if(NOT tsrcs)
    return()
  endif()
  get_filename_component(testroot ${CMAKE_CURRENT_SOURCE_DIR}/tests ABSOLUTE)
  file(GLOB support CONFIGURE_DEPENDS ${testroot}/support/*.cpp)
  add_executable(${name} ${tsrcs} ${support} ${CMAKE_SOURCE_DIR}/cmake/loopbackOnly.cpp)
  target_compile_options(${name} PRIVATE -Wall -Wextra)
  # Test code is compiled unoptimised in the sanitizer trees: it is most of what they compile and
  # little of what they run (the code under test keeps its optimisation).
  if(CMAKE_BUILD_TYPE MATCHES "^(Asan|Tsan)$")
    target_compile_options(${name} PRIVATE -O0)
  endif()
  target_include_directories(${name} PRIVATE ${testroot})
  if(EXISTS ${tdir}/main.cpp)
    target_link_libraries(${name} PRIVATE ${lib} ${test_deps} qv_gl_test_support GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE ${lib} ${test_deps} qv_gl_test_support GTest::gtest GTest::gmock
      GTest::gtest_main)
  endif()
  # Test folders come through a generated header (qvTestPaths.h), included only where used.
  file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${name}_paths/qvTestPaths.h CONTENT
"#pragma once\n#include \"qvBuildPaths.h\"\n#define QV_TEST_DATA_DIR \"${testroot}/data\"\n#define QV_TEST_BINARY_DIR \"${CMAKE_CURRENT_BINARY_DIR}\"\n")
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${name}_paths)
  # Every test gets its own writable tree and the sanitizer settings. They are set by running the
  # program through env(1): gtest_discover_tests splits an ENVIRONMENT property at its semicolons.
  # intercept_tls_get_addr=0: ASan records bogus TLS ranges for the GL driver, and the leak check
  # at exit then crashes now and then in programs that open a GL context.
  if(CMAKE_BUILD_TYPE STREQUAL "Tsan")
    # ThreadSanitizer needs its fixed memory layout, which address-space randomisation with many
    # bits breaks on some kernels ("unexpected memory mapping"): the program runs without it.
    # A report fails the test (exit code 66).
    set(emulator "env;XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-xdg/${name};QV_NETWORK_SCOPE=loopback;TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=${CMAKE_SOURCE_DIR}/cmake/tsan.supp")
    find_program(QV_SETARCH setarch)
    if(QV_SETARCH)
      list(APPEND emulator ${QV_SETARCH} ${CMAKE_HOST_SYSTEM_PROCESSOR} -R)
    endif()
  else()
    set(emulator "env;XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-xdg/${name};QV_NETWORK_SCOPE=loopback;ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:intercept_tls_get_addr=0;LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/cmake/lsan.supp:print_suppressions=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
  endif()
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${emulator}")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES
      LABELS "${label}"
      TIMEOUT 300)
endfunction()
