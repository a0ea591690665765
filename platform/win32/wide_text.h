// The program's code page 1252 strings and the system's UTF-16 text, for the Windows platform
// layer and the Windows front ends. Code page 1252 itself is used, whatever ANSI code page the
// machine runs.
#pragma once

#include <string>
#include <vector>

namespace platform {

// text as UTF-16. Every byte of the code page has a character, so this cannot fail.
std::wstring Utf16OfCp1252(const std::string& text);

// wide as code page 1252, character for character, in out. False (out empty) when a character
// has no byte of its own: no look-alike stands in for it (Ł never becomes L), no '?' either, and
// an unpaired surrogate is refused.
bool Cp1252OfUtf16(const std::wstring& wide, std::string& out);

// The characters of wide that code page 1252 lacks, each once, in the order they first occur; a
// surrogate pair is one character, an unpaired surrogate one of its own.
std::vector<std::wstring> CharactersOutsideCp1252(const std::wstring& wide);

}  // namespace platform
