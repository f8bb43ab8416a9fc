# Turns text files into one C++ source with a table from file name to bytes.
string(REPLACE "|" ";" INPUTS "${INPUTS}")
# Run as: cmake -DOUTPUT=out.cc -DINPUTS="a|b|c" -P embed_texts.cmake
set(body "")
set(table "")
set(index 0)
foreach(input IN LISTS INPUTS)
  get_filename_component(name "${input}" NAME)
  file(READ "${input}" hex HEX)
  string(LENGTH "${hex}" hexlen)
  math(EXPR size "${hexlen} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
  string(APPEND body "alignas(8) const unsigned char kText${index}[] = {\n${bytes}0};\n")
  string(APPEND table "    {\"${name}\", std::string_view(reinterpret_cast<const char*>(kText${index}), ${size})},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated at build time from the carried text files. Do not edit.
#include <string_view>

#include \"payload.h\"

namespace qorvex {
namespace {
${body}
struct Entry {
  std::string_view name;
  std::string_view text;
};
const Entry kEntries[] = {
${table}};
}  // namespace

const std::string_view* findEmbeddedText(std::string_view name) {
  for (const Entry& entry : kEntries) {
    if (entry.name == name) return &entry.text;
  }
  return nullptr;
}

}  // namespace qorvex
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
