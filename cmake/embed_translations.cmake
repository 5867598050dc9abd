# Build step: checks the translation table and writes it out as a C++ byte array, together with
# the keys the program reads as identifiers, so that a misspelt key does not compile.
# Inputs: INPUT (the JSON file), OUTPUT (the .cpp to write), KEYS_HEADER (the .hpp to write).
file(READ "${INPUT}" table)
# Every key the program looks up; each language of the table must have each as a string.
set(read_keys title chooseMode modeDescription basic basicDescription advanced advancedDescription
              cancel failed launchQuestion rebootQuestion launchFailed msiLaunchApp logInUse
              installationInProgress
              helpHeading helpQuiet helpLanguage helpLog helpUpdate helpValidate helpPreview helpHelp
              languageUnknown)
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

# Writes `content` to `path` only when it changed, so that dependants are not rebuilt for nothing.
function(write_if_changed path content)
  file(WRITE "${path}.tmp" "${content}")
  file(COPY_FILE "${path}.tmp" "${path}" ONLY_IF_DIFFERENT)
  file(REMOVE "${path}.tmp")
endfunction()

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
write_if_changed("${OUTPUT}"
"// Generated from translations.json at build time.
#include \"texts/translation_table.hpp\"
namespace mirel {
namespace {
constexpr char bytes[${size}] = {${bytes}};
}  // namespace
const std::string_view TRANSLATION_TABLE(bytes, ${size});
}  // namespace mirel
")

list(LENGTH read_keys key_count)
set(enumerators "")
set(names "")
foreach(key IN LISTS read_keys)
  string(APPEND enumerators "    ${key},\n")
  string(APPEND names "    \"${key}\",\n")
endforeach()
write_if_changed("${KEYS_HEADER}"
"// Generated at build time from the list of keys that the build checks in translations.json.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace mirel {

// A key of the translation table; only keys that every language of the table has exist here.
enum class TextKey : unsigned char {
${enumerators}};

inline constexpr std::size_t TEXT_KEY_COUNT = ${key_count};

// The keys' names in the table, in the order of TextKey.
inline constexpr std::array<std::string_view, TEXT_KEY_COUNT> TEXT_KEY_NAMES = {
${names}};

[[nodiscard]] constexpr std::string_view text_key_name(TextKey key) {
    return TEXT_KEY_NAMES[static_cast<std::size_t>(key)];
}

}  // namespace mirel
")
