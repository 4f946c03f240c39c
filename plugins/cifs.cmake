# libzmoCifsVX: the SMB stack's plug-in. It runs the daemons and the control
# tool as programs and never links the SMB library itself.
add_library(zmoCifsVX_objects OBJECT
  ${CMAKE_CURRENT_SOURCE_DIR}/src/Cifs/ServerVX.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/Cifs/Firewall.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/Cifs/Controller.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/Cifs/Sync.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/Cifs/Command/Commands.cpp)
target_include_directories(zmoCifsVX_objects PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(zmoCifsVX_objects PUBLIC zmocore_stub)
add_library(zmoCifsVX MODULE ${CMAKE_CURRENT_SOURCE_DIR}/src/lib/libzmoCifsVX/libzmoCifsVX.cpp)
target_link_libraries(zmoCifsVX PRIVATE zmoCifsVX_objects)
set_target_properties(zmoCifsVX zmoCifsVX_objects PROPERTIES PREFIX "lib" OUTPUT_NAME "zmoCifsVX"
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

if(FW_TESTS)
  fw_add_gtest(cifs_plugin_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tests/cifs_plugin_test.cpp LIBS zmocore_stub)
  # Runs with the daemons up need their fixed pid files: a namespace of their own.
  add_executable(cifs_sync_ns ${CMAKE_CURRENT_SOURCE_DIR}/tests/cifs_sync_ns.cpp)
  target_link_libraries(cifs_sync_ns PRIVATE zmocore_stub fw_test_support GTest::gtest GTest::gtest_main
    Threads::Threads)
  fw_add_e2e(e2e_cifs_sync COMMAND ${CMAKE_SOURCE_DIR}/tests/harness/nsrun --
    $<TARGET_FILE:cifs_sync_ns> --gtest_color=no TIMEOUT 180)
  foreach(t cifs_plugin_test cifs_sync_ns)
    target_include_directories(${t} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/platform/core/tests)
    target_compile_definitions(${t} PRIVATE ZMOCORE_BIN="$<TARGET_FILE:zmocore>"
      CIFS_PLUGIN="$<TARGET_FILE:zmoCifsVX>")
    add_dependencies(${t} zmoCifsVX zmocore)
  endforeach()
endif()
