// Conversions between the program's code page 1252 strings and the UTF-8 names of POSIX file
// systems, and the case folding that file-name masks use.
#pragma once

#include <cstdint>
#include <string>

#include "platform/name_case.h"

namespace platform {
namespace posix {

// The Unicode code point of a code page 1252 byte (CodePointOf1252).
uint32_t Cp1252ToCodePoint(unsigned char c);
// The code page 1252 byte of a code point; false when the code page has no such character.
bool CodePointToCp1252(uint32_t cp, unsigned char& out);

// Decodes the strictly valid UTF-8 sequence at text[i] and moves i behind it; false (i unchanged)
// on malformed input: overlong forms, surrogates, values beyond U+10FFFF, cut-off sequences.
bool DecodeUtf8(const std::string& text, size_t& i, uint32_t& cp);

// Every byte of text as UTF-8.
std::string Cp1252ToUtf8(const std::string& text);
// The UTF-8 text in code page 1252. When text is not valid UTF-8, or holds a character the code
// page lacks, out receives text unchanged and the result is false.
bool Utf8ToCp1252(const std::string& text, std::string& out);
// Convenience form: the converted text, or text itself when it cannot be converted.
std::string Utf8ToCp1252OrRaw(const std::string& text);
// True when text is strictly valid UTF-8 (as DecodeUtf8 takes it).
bool IsUtf8(const std::string& text);
// True when every byte of text is a character of code page 1252: none of the five bytes it leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D).
bool AllDefinedInCp1252(const std::string& text);
// The first byte of text that code page 1252 leaves undefined, or -1 when there is none.
int FirstUndefinedCp1252Byte(const std::string& text);

// True when name matches mask case-insensitively; '*' matches any run of characters, '?' exactly
// one. As on Windows, "*" and "*.*" match every name and a mask ending in ".*" also matches the
// name without that ending ("readme.*" matches "readme").
bool MatchMask(const std::string& name, const std::string& mask);

}  // namespace posix
}  // namespace platform
