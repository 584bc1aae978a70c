# Writes the page's files into a C++ source (serve/assets.h): run by CMake as
#   cmake -DLIST=files.txt -DOUT=assets.cpp -P embed_assets.cmake
# where files.txt has a line PATH|TYPE|FILE for each file: each file's bytes
# as an array, and the table of paths that serve looks up.
file(STRINGS "${LIST}" FILES)
set(body "// Made by serve/embed_assets.cmake from the page's files: do not edit.\n#include \"serve/assets.h\"\n\nnamespace workbench {\nnamespace {\n")
set(table "")
set(n 0)
foreach(entry IN LISTS FILES)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 url)
  list(GET fields 1 type)
  list(GET fields 2 file)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  # Lines of 32 bytes, so that no line is too long for an editor.
  string(REGEX REPLACE "(('[^']+',){32})" "\\1\n" bytes "${bytes}")
  string(APPEND body "const char file_${n}[] = {\n${bytes}'\\0'};\n")
  string(APPEND table "    {\"${url}\", \"${type}\", std::string_view(file_${n}, ${size})},\n")
  math(EXPR n "${n} + 1")
endforeach()
string(APPEND body "const embedded_file files[] = {\n${table}};\n}  // namespace\n\n")
string(APPEND body "const embedded_file* embedded_asset(std::string_view path) {\n    for (const embedded_file& f : files) {\n        if (f.path == path) return &f;\n    }\n    return nullptr;\n}\n\n}  // namespace workbench\n")
file(WRITE "${OUT}.tmp" "${body}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
