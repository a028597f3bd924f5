# JSON for Modern C++ (Debian's nlohmann-json3-dev), header-only. The cross
# build for Windows takes the same headers: they depend on nothing but the
# standard library. Only the nlohmann folder is put on its include path,
# through a link in the build tree, never the host's /usr/include.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(nlohmann_json 3 REQUIRED)
  return()
endif()

find_path(DOV_NLOHMANN_DIR nlohmann/json.hpp PATHS /usr/include
          NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH REQUIRED)
set(dov_json_include ${CMAKE_BINARY_DIR}/nlohmann-json)
file(MAKE_DIRECTORY ${dov_json_include})
file(CREATE_LINK ${DOV_NLOHMANN_DIR}/nlohmann ${dov_json_include}/nlohmann
     SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE
                           ${dov_json_include})
