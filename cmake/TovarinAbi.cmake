# The window-system library's ABI on Linux: what libtovarin-ui.so.1 exports.
#
# The C API for hosts (the names in src/ui/c_api.symbols) is public and
# stable under the version node TOVUI_1. The C++ API that Plugin.so and the
# reference host use (namespace tovui: std::function, std::string and a
# Bitmap whose layout depends on the build) is exported only under
# TOVUI_PRIVATE_<version>_<id>, where the id is a hash of what fixes that
# ABI: the C++ API header, the compiler and the flags. Binaries linked
# against one build then refuse to load with any other build at load time
# ("version `TOVUI_PRIVATE_...' not found"), instead of misbehaving.
# Everything else (template instances of the standard library, internals)
# is local.

# Sets TOVUI_PRIVATE_NODE and writes the version script to <out>.
function(tovarin_ui_version_script out)
  set(_list ${PROJECT_SOURCE_DIR}/src/ui/c_api.symbols)
  set(_cxx_api ${PROJECT_SOURCE_DIR}/src/ui/ui.hpp)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_list} ${_cxx_api})
  file(STRINGS ${_list} _names REGEX "^tovui_[A-Za-z0-9_]+$")
  file(READ ${_cxx_api} _abi)
  string(TOUPPER "${CMAKE_BUILD_TYPE}" _config)
  string(APPEND _abi "${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION} ${CMAKE_CXX_FLAGS}"
         " ${CMAKE_CXX_FLAGS_${_config}} ${TOVARIN_SANITIZE} ${TOVARIN_FUZZ}")
  string(SHA256 _id "${_abi}")
  string(SUBSTRING ${_id} 0 12 _id)
  set(_node "TOVUI_PRIVATE_${PROJECT_VERSION}_${_id}")
  set(_map "TOVUI_1 {\n  global:\n")
  foreach(name ${_names})
    string(APPEND _map "    ${name};\n")
  endforeach()
  string(APPEND _map "};\n\n${_node} {\n  global:\n    extern \"C++\" {\n      tovui::*;\n    };\n"
         "  local:\n    *;\n};\n")
  file(CONFIGURE OUTPUT ${out} CONTENT "${_map}" @ONLY)
  set(TOVUI_PRIVATE_NODE ${_node} PARENT_SCOPE)
endfunction()
