# RapidJSON is header-only and comes from Debian's rapidjson-dev. The cross
# compilers must not see the whole of /usr/include, so the headers are exposed
# through a directory that holds only a link to them.
set(RAPIDJSON_HEADERS "/usr/include/rapidjson" CACHE PATH "RapidJSON headers")
if(NOT EXISTS "${RAPIDJSON_HEADERS}/document.h")
  message(FATAL_ERROR "RapidJSON headers not found in ${RAPIDJSON_HEADERS}; run tools/setup first")
endif()
set(_rapidjson_dir "${CMAKE_BINARY_DIR}/_rapidjson")
file(MAKE_DIRECTORY "${_rapidjson_dir}")
file(CREATE_LINK "${RAPIDJSON_HEADERS}" "${_rapidjson_dir}/rapidjson" SYMBOLIC)
add_library(rapidjson INTERFACE)
target_include_directories(rapidjson SYSTEM INTERFACE "${_rapidjson_dir}")
