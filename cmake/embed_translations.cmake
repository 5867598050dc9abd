# Build step: checks the translation table and writes it out as a C++ byte array.
# Inputs: INPUT (the JSON file), OUTPUT (the .cpp to write).
file(READ "${INPUT}" table)
set(read_keys title chooseMode modeDescription basic basicDescription advanced advancedDescription
              cancel failed launchQuestion rebootQuestion launchFailed msiLaunchApp)
foreach(language en tr)
  foreach(key IN LISTS read_keys)
    string(JSON value ERROR_VARIABLE problem GET "${table}" ${language} ${key})
    if(problem)
      message(FATAL_ERROR "${INPUT}: language \"${language}\", key \"${key}\": ${problem}")
    endif()
    string(JSON type TYPE "${table}" ${language} ${key})
    if(NOT type STREQUAL "STRING")
      message(FATAL_ERROR "${INPUT}: language \"${language}\", key \"${key}\" is not a string")
    endif()
  endforeach()
endforeach()

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from translations.json at build time.
#include \"texts/translation_table.hpp\"
namespace mirel {
namespace {
constexpr char bytes[${size}] = {${bytes}};
}  // namespace
const std::string_view TRANSLATION_TABLE(bytes, ${size});
}  // namespace mirel
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
