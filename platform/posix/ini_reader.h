// Reading values from ini files with the rules of the Windows profile functions, so that the POSIX
// build reads the batch control file exactly as the Windows build does:
// - lines are separated by LF; blanks (space, tab, CR, VT, FF, ^Z) around every line are ignored;
// - "[name]" opens a section (the name runs to the last ']'); section and key names compare
//   case-insensitively, and the names asked for are taken without surrounding blanks;
// - "key = value": blanks around the key and before the value are stripped; a line without '='
//   carries no value; lines beginning with ';' are comments (they never match a key name);
// - only the first section of a name is searched, and in it the first line of the key wins;
// - one pair of equal surrounding quotes (' or ") is removed from the value;
// - a value is cut to the caller's buffer (511 characters for a 512-byte buffer).
// Files beginning with a UTF-8 or UTF-16 byte-order mark are converted to code page 1252.
#pragma once

#include <string>
#include <vector>

namespace platform {
namespace posix {

// The characters of an ini file in code page 1252 (byte-order marks honoured).
std::string IniTextToCp1252(const std::string& bytes);

// Finds key in section of the ini text. True when the key is there with a value (the raw value,
// quotes still on, goes to value).
bool FindIniValue(const std::string& text, const std::string& section, const std::string& key,
                  std::string& value);

// value without one pair of surrounding quotes, cut to at most maxChars characters.
std::string UnquoteAndCut(const std::string& value, size_t maxChars);

// GetPrivateProfileStringA on the text with a buffer of bufferSize bytes: the value, or def
// (without its trailing spaces and with its quotes removed) when the key has no value.
std::string ProfileStringFromText(const std::string& text, const std::string& section,
                                  const std::string& key, const std::string& def,
                                  size_t bufferSize = 512);

// The names of the text's sections in order, each as it stands between its brackets.
std::vector<std::string> SectionNamesOfText(const std::string& text);

// GetPrivateProfileIntA on the text: def when the key is absent or empty, else ParseProfileInt of
// its (unquoted) value.
int ProfileIntFromText(const std::string& text, const std::string& section, const std::string& key,
                       int def);

// The integer in text as the Windows profile functions read it: leading blanks and control
// characters skipped, an optional sign, an optional lower-case prefix "0x" (hex), "0o" (octal) or
// "0b" (binary), then digits up to the first character that is not one; no digits gives 0. The
// value wraps in 32 bits.
int ParseProfileInt(const std::string& text);

}  // namespace posix
}  // namespace platform
