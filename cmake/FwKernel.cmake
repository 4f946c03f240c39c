# fw_board_kernel_objects(NAME SOURCES a.c ... LIBS lib... DEFINITIONS D...)
# In the board build, a module's kernel C compiled as the board kernel builds
# modules (MIPS32, no PIC, no FPU, long calls), against the stand-in's
# headers, and the CTest check kernel_objects_NAME: the objects call no
# compiler run-time helper that the kernel lacks (64-bit division, floating point, atomics the
# CPU can't do inline). The objects are never linked.
function(fw_board_kernel_objects name)
  if(NOT CMAKE_CROSSCOMPILING OR NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^mips")
    return()
  endif()
  cmake_parse_arguments(K "" "" "SOURCES;LIBS;DEFINITIONS" ${ARGN})
  set(objects ${name}_kernel_objects)
  add_library(${objects} OBJECT ${K_SOURCES})
  target_link_libraries(${objects} PRIVATE ${K_LIBS})
  target_compile_definitions(${objects} PRIVATE ${K_DEFINITIONS})
  target_compile_options(${objects} PRIVATE
    -mno-mips16 -ffreestanding -fno-pic -mno-abicalls -G 0 -mlong-calls -msoft-float
    -fno-common -fno-strict-aliasing -fno-delete-null-pointer-checks)
  set_target_properties(${objects} PROPERTIES POSITION_INDEPENDENT_CODE OFF)
  # The stand-in's headers come from the hard-float C library, which has no
  # soft-float stub list; these objects link against nothing anyway.
  set(stub ${CMAKE_BINARY_DIR}/kernel_objects_include/gnu/stubs-o32_soft.h)
  file(WRITE ${stub} "/* empty: kernel objects are never linked */\n")
  target_include_directories(${objects} SYSTEM PRIVATE ${CMAKE_BINARY_DIR}/kernel_objects_include)
  if(FW_TESTS)
    execute_process(COMMAND ${CMAKE_C_COMPILER} -print-libgcc-file-name
      OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
    add_test(NAME kernel_objects_${name}
      COMMAND bash ${PROJECT_SOURCE_DIR}/tests/harness/check_kernel_objects.sh ${CMAKE_NM} ${libgcc}
              $<TARGET_OBJECTS:${objects}>
      COMMAND_EXPAND_LISTS)
    set_tests_properties(kernel_objects_${name} PROPERTIES LABELS "unit;kernel" TIMEOUT 60)
  endif()
endfunction()
