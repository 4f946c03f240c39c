# Helpers every folder uses to declare its tests, so that they all run the same way.
include(CTest)
if(FW_TESTS)
  find_package(GTest REQUIRED)
  find_package(Threads REQUIRED)
endif()

# Cross-built for the board, the tests run under the emulator; those it can't
# run are listed with the reason in board_skips.txt and left out here.
set(FW_BOARD_SKIPS ${CMAKE_CURRENT_LIST_DIR}/board_skips.txt)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${FW_BOARD_SKIPS})
function(fw_board_skip_test name)
  if(NOT CMAKE_CROSSCOMPILING)
    return()
  endif()
  file(STRINGS ${FW_BOARD_SKIPS} lines REGEX "^${name}[ \t]")
  set(cases "")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^[^ \t]+[ \t]+([^ \t]+)[ \t]+[^ \t]")
      message(FATAL_ERROR "${FW_BOARD_SKIPS}: no case or no reason in \"${line}\"")
    endif()
    if(CMAKE_MATCH_1 STREQUAL "*")
      set_tests_properties(${name} PROPERTIES DISABLED ON)
      return()
    endif()
    list(APPEND cases ${CMAKE_MATCH_1})
  endforeach()
  if(cases)
    list(JOIN cases ":" filter)
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "GTEST_FILTER=-${filter}")
  endif()
endfunction()

# fw_add_gtest(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2)
# One GoogleTest binary, registered with CTest under NAME. It links the shared
# test helpers (tests/support: temporary folders, log capture, hex, matchers).
function(fw_add_gtest name)
  if(NOT FW_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} fw_test_support GTest::gtest GTest::gtest_main Threads::Threads
    fw_atomic)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES LABELS "unit;${T_LABELS}" TIMEOUT 300)
  fw_board_skip_test(${name})
endfunction()

# fw_test_program(VAR TARGET)
# Sets VAR to the path a test runs the program TARGET by. In a cross build the
# host kernel can't start the board's program: the path is then a host script
# that runs it under the emulator.
function(fw_test_program var target)
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(${var} "$<TARGET_FILE:${target}>" PARENT_SCOPE)
    return()
  endif()
  set(script ${CMAKE_BINARY_DIR}/test_programs/${target})
  set(${var} ${script} PARENT_SCOPE)
  # One script a program, however many folders ask for it.
  get_property(made GLOBAL PROPERTY FW_TEST_PROGRAM_${target})
  if(made)
    return()
  endif()
  set_property(GLOBAL PROPERTY FW_TEST_PROGRAM_${target} ON)
  set(words "")
  foreach(w IN LISTS CMAKE_CROSSCOMPILING_EMULATOR)
    string(APPEND words "'${w}' ")
  endforeach()
  file(GENERATE OUTPUT ${script}
    CONTENT "#!/bin/sh\nexec ${words}'$<TARGET_FILE:${target}>' \"$@\"\n"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endfunction()

# fw_add_e2e(NAME COMMAND cmd args...)
# An end-to-end scenario: the command runs the real programs, each scenario in
# namespaces of its own. It exits 77 where the host can't make namespaces.
# Scenarios run on the host only: namespaces and veth pairs are the host
# kernel's, out of an emulated board's reach.
function(fw_add_e2e name)
  if(NOT FW_TESTS OR CMAKE_CROSSCOMPILING)
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
