# Turns files into a C++ source holding their bytes, so the program opens no data file.
# Run as: cmake -DOUTPUT=<file.cpp> -DNAMESPACE=<ns> -DHEADER=<path> -DINPUTS=<a|b|...> -P EmbedFiles.cmake
# HEADER declares EmbeddedFile, kEmbeddedFiles and kEmbeddedFileCount in NAMESPACE.
cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" INPUTS "${INPUTS}")

set(body "")
set(table "")
set(index 0)
foreach(input IN LISTS INPUTS)
  file(READ "${input}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
  get_filename_component(name "${input}" NAME)
  string(APPEND body "alignas(4) const std::uint8_t kFile${index}[${size}] = {\n    ${bytes}};\n")
  string(APPEND table "    {\"${name}\", {kFile${index}, ${size}}},\n")
  math(EXPR index "${index} + 1")
endforeach()

file(WRITE "${OUTPUT}.tmp" "// Generated from the files it names; do not edit.
#include \"${HEADER}\"

namespace ${NAMESPACE} {

namespace {
${body}}  // namespace

const EmbeddedFile kEmbeddedFiles[] = {
${table}};
const std::size_t kEmbeddedFileCount = ${index};

}  // namespace ${NAMESPACE}
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
