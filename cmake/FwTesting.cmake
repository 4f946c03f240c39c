# Helpers every folder uses to declare its tests, so that they all run the same way.
include(CTest)
if(FW_TESTS)
  find_package(GTest REQUIRED)
  find_package(Threads REQUIRED)
endif()

# fw_add_gtest(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2)
# One GoogleTest binary, registered with CTest under NAME. It links the shared
# test helpers (tests/support: temporary folders, log capture, hex, matchers).
function(fw_add_gtest name)
  if(NOT FW_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} fw_test_support GTest::gtest GTest::gtest_main Threads::Threads)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES LABELS "unit;${T_LABELS}" TIMEOUT 300)
endfunction()

# fw_add_e2e(NAME COMMAND cmd args...)
# An end-to-end scenario: the command runs the real programs, each scenario in
# namespaces of its own. It exits 77 where the host can't make namespaces.
function(fw_add_e2e name)
  if(NOT FW_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "TIMEOUT" "COMMAND;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${T_COMMAND})
  set_tests_properties(${name} PROPERTIES LABELS "e2e;${T_LABELS}" TIMEOUT ${T_TIMEOUT}
    SKIP_RETURN_CODE 77
    ENVIRONMENT "FW_BUILD_DIR=${CMAKE_BINARY_DIR};FW_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()

# fw_add_fuzzer(NAME SOURCES a.cpp LIBS lib1)
# A libFuzzer target; only with FW_FUZZ on a clang build.
function(fw_add_fuzzer name)
  if(NOT FW_FUZZ)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${T_LIBS})
endfunction()
