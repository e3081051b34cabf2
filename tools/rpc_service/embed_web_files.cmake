# Writes OUTPUT: a C++ source that holds each file of FILES (names of files
# in WEB_DIR, separated by commas) as bytes, with the path it is served at
# and its content type.
#   cmake -DWEB_DIR=... -DFILES=a.html,b.js -DOUTPUT=... -P embed_web_files.cmake

set(types_html "text/html; charset=utf-8")
set(types_js "text/javascript; charset=utf-8")
set(types_css "text/css; charset=utf-8")

string(REPLACE "," ";" FILES "${FILES}")
set(arrays "")
set(entries "")
set(index 0)
foreach(name IN LISTS FILES)
  file(READ "${WEB_DIR}/${name}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  get_filename_component(extension "${name}" EXT)
  string(SUBSTRING "${extension}" 1 -1 extension)
  if(NOT DEFINED types_${extension})
    message(FATAL_ERROR "no content type for ${name}")
  endif()
  string(APPEND arrays "const unsigned char kFile${index}[] = {${bytes}};\n")
  string(APPEND entries "    {\"/${name}\", \"${types_${extension}}\", kFile${index}, sizeof kFile${index}},\n")
  math(EXPR index "${index} + 1")
endforeach()

file(WRITE "${OUTPUT}.new" "// Generated from tools/rpc_service/web/ by embed_web_files.cmake.
#include \"tools/rpc_service/web_files.h\"

namespace {
${arrays}
const WebFile kFiles[] = {
${entries}};
}  // namespace

const WebFile* FindWebFile(const std::string& path) {
    for (const WebFile& file : kFiles) {
        if (path == file.path) return &file;
    }
    return nullptr;
}
")
# Only a changed source is rewritten, so an unchanged page rebuilds nothing.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
