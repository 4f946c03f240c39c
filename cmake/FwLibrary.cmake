# How the shared libraries (libzmo, the access-control stand-in, libmirel,
# libvx) are built: they export their C interface and nothing else.
#
# A library's sources are an OBJECT library NAME_objects; the SHARED library
# NAME is made of those objects. Both compile with hidden visibility, so only
# what a public header marks with the library's export macro (ZMO_API,
# ZMO_ACL_API, MIREL_API, VX_API) leaves it; a linker version script hides the
# C++ template code the standard headers would export all the same. A test
# that needs internals links NAME_objects instead of NAME.
#
# fw_export_only_interface(NAME OBJECTS NAME_objects HEADERS DIR MACROS M...)
# also adds the CTest check exports_NAME: nm -D --defined-only lists no C++
# (_Z) symbol and no name that a header of DIR does not declare with one of
# the macros M.
set(FW_EXPORTS_MAP ${CMAKE_CURRENT_LIST_DIR}/c_interface_only.map)
function(fw_export_only_interface name)
  cmake_parse_arguments(T "" "OBJECTS;HEADERS" "MACROS" ${ARGN})
  set_target_properties(${name} ${T_OBJECTS} PROPERTIES
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_link_options(${name} PRIVATE -Wl,--version-script=${FW_EXPORTS_MAP})
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${FW_EXPORTS_MAP})
  if(FW_TESTS)
    add_test(NAME exports_${name}
      COMMAND bash ${PROJECT_SOURCE_DIR}/tests/harness/check_exports.sh $<TARGET_FILE:${name}> ${T_HEADERS} ${T_MACROS})
    set_tests_properties(exports_${name} PROPERTIES LABELS "unit;exports" TIMEOUT 60)
  endif()
endfunction()
