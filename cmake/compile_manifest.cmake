# Reads the carried manifest.json at build time into the engine's form, as C++
# data, so that a run does not parse it: every string of it becomes a byte
# array, every entry a row of views into them.
# Run as: cmake -DMANIFEST=manifest.json -DOUTPUT=out.cc -P compile_manifest.cmake
#
# What an entry becomes follows toEngineForm() (engine/manifest.cc): a patch's
# text is its insertTextBefore when that is a non-empty string, else its
# insertText when that is, else nothing. The unit test
# Manifest.CompiledFormEqualsTheParsedOne holds the two to the same result.
file(READ "${MANIFEST}" json)

set(arrays "")
set(count 0)

# Appends a byte array holding `value` and sets `out` to a view of it.
function(bytes_of value out)
  string(HEX "${value}" hex)
  string(LENGTH "${hex}" hexlen)
  math(EXPR size "${hexlen} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," data "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)"
         "\\1\n" data "${data}")
  string(APPEND arrays "const unsigned char kB${count}[] = {\n${data}0};\n")
  set(${out} "view(kB${count}, ${size})" PARENT_SCOPE)
  math(EXPR next "${count} + 1")
  set(count ${next} PARENT_SCOPE)
  set(arrays "${arrays}" PARENT_SCOPE)
endfunction()

# A string member, or "" when it is missing or null.
function(member out)
  string(JSON type ERROR_VARIABLE missing TYPE "${json}" ${ARGN})
  if(missing OR NOT type STREQUAL "STRING")
    set(${out} "" PARENT_SCOPE)
  else()
    string(JSON value GET "${json}" ${ARGN})
    set(${out} "${value}" PARENT_SCOPE)
  endif()
endfunction()

set(files "")
set(patch_tables "")
string(JSON file_count LENGTH "${json}" files)
math(EXPR last_file "${file_count} - 1")
foreach(f RANGE ${last_file})
  member(path files ${f} relativePath)
  bytes_of("${path}" path_view)
  string(JSON patch_count LENGTH "${json}" files ${f} patches)
  set(rows "")
  if(patch_count GREATER 0)
    math(EXPR last_patch "${patch_count} - 1")
    foreach(p RANGE ${last_patch})
      member(id files ${f} patches ${p} id)
      member(marker files ${f} patches ${p} marker)
      member(anchor files ${f} patches ${p} anchorAfter)
      member(before files ${f} patches ${p} insertTextBefore)
      member(text files ${f} patches ${p} insertText)
      if(NOT before STREQUAL "")
        set(text "${before}")
      endif()
      bytes_of("${id}" id_view)
      bytes_of("${marker}" marker_view)
      bytes_of("${anchor}" anchor_view)
      bytes_of("${text}" text_view)
      string(APPEND rows "    {${id_view}, ${marker_view}, ${anchor_view}, ${text_view}},\n")
    endforeach()
  endif()
  string(APPEND patch_tables "  static const CompiledPatchEntry patches${f}[] = {\n${rows}    {}};\n")
  string(APPEND files "    {${path_view}, patches${f}, ${patch_count}},\n")
endforeach()

set(dialogs "")
string(JSON dialog_count LENGTH "${json}" dlgFiles)
if(dialog_count GREATER 0)
  math(EXPR last_dialog "${dialog_count} - 1")
  foreach(d RANGE ${last_dialog})
    member(path dlgFiles ${d} relativePath)
    member(resource dlgFiles ${d} insertBlockResource)
    member(anchor dlgFiles ${d} anchorBefore)
    bytes_of("${path}" path_view)
    bytes_of("${resource}" resource_view)
    bytes_of("${anchor}" anchor_view)
    string(APPEND dialogs "    {${path_view}, ${resource_view}, ${anchor_view}},\n")
  endforeach()
endif()

file(WRITE "${OUTPUT}.tmp" "// Generated at build time from payload/manifest.json. Do not edit.
#include \"compiled_manifest.h\"

namespace qorvex {
namespace {

${arrays}
std::string_view view(const unsigned char* bytes, std::size_t size) {
  return std::string_view(reinterpret_cast<const char*>(bytes), size);
}

}  // namespace

const CompiledManifest& compiledEmbeddedManifest() {
${patch_tables}  static const CompiledFileEntry files[] = {
${files}    {}};
  static const CompiledDialogEntry dialogs[] = {
${dialogs}    {}};
  static const CompiledManifest manifest{files, ${file_count}, dialogs, ${dialog_count}};
  return manifest;
}

}  // namespace qorvex
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
