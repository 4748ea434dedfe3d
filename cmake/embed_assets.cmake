# Writes OUTPUT, a C++ source holding every file of ASSET_DIR as a byte array, and the table
# tarnel::web::find_asset() looks them up in (src/web/web_assets.h). Run with cmake -P at build
# time, so the page's files are part of the program and need no build step of their own.
file(GLOB assets RELATIVE ${ASSET_DIR} ${ASSET_DIR}/*)
list(SORT assets)
set(arrays "")
set(table "")
set(index 0)
foreach(name ${assets})
  file(READ ${ASSET_DIR}/${name} hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n    " bytes "${bytes}")
  if(name MATCHES "\\.html$")
    set(type "text/html; charset=utf-8")
  elseif(name MATCHES "\\.js$")
    set(type "text/javascript; charset=utf-8")
  elseif(name MATCHES "\\.css$")
    set(type "text/css; charset=utf-8")
  elseif(name MATCHES "\\.svg$")
    set(type "image/svg+xml")
  else()
    set(type "application/octet-stream")
  endif()
  string(APPEND arrays "const unsigned char asset_${index}[] = {\n    ${bytes}0};\n")
  string(APPEND table "    {\"/${name}\", \"${type}\", "
         "std::string_view(reinterpret_cast<const char*>(asset_${index}), ${size})},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.new "// Generated from src/web/assets by cmake/embed_assets.cmake; do not edit.
#include \"web/web_assets.h\"

namespace tarnel::web {

namespace {

${arrays}
const Asset kAssets[] = {
${table}};

}  // namespace

const Asset* find_asset(std::string_view path) {
    for (const Asset& asset : kAssets) {
        if (asset.path == path) {
            return &asset;
        }
    }
    return nullptr;
}

}  // namespace tarnel::web
")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUTPUT}.new ${OUTPUT})
file(REMOVE ${OUTPUT}.new)
