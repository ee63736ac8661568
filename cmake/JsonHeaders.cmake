# nlohmann/json, header-only, from Debian's nlohmann-json3-dev. The cross compiler must not see
# the rest of /usr/include, so the target qb_json reaches it through a folder holding only a
# link to the nlohmann headers.
find_path(QB_NLOHMANN_JSON_DIR nlohmann/json.hpp
  PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(qb_json_include ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${qb_json_include})
file(CREATE_LINK ${QB_NLOHMANN_JSON_DIR}/nlohmann ${qb_json_include}/nlohmann SYMBOLIC)
add_library(qb_json INTERFACE)
target_include_directories(qb_json SYSTEM INTERFACE ${qb_json_include})
