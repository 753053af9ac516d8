# Writes a C++ source that holds the bytes of text files as char arrays, so
# the page's stylesheet and scripts stay real files in the tree.
#   cmake -DOUT=file.cpp -DASSETS="k_name=path;k_other=path" -P embed.cmake
set(body "// Generated from the page assets; do not edit.\n#include <stddef.h>\n")
foreach(pair IN LISTS ASSETS)
  string(FIND "${pair}" "=" eq)
  string(SUBSTRING "${pair}" 0 ${eq} name)
  math(EXPR from "${eq} + 1")
  string(SUBSTRING "${pair}" ${from} -1 path)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" hexlen)
  math(EXPR size "${hexlen} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND body "extern const char ${name}[] = {${bytes}0};\n")
  string(APPEND body "extern const size_t ${name}_size = ${size};\n")
endforeach()
file(WRITE "${OUT}.tmp" "${body}")
configure_file("${OUT}.tmp" "${OUT}" COPYONLY)
file(REMOVE "${OUT}.tmp")
