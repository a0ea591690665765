#include "platform/posix/ini_reader.h"

#include <cstdint>

#include "platform/posix/cp1252.h"

namespace platform {
namespace posix {

namespace {

bool IsBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == 0x1A;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && IsBlank(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool EqualNoCase(const std::string& a, const std::string& b) { return SameNameFolded1252(a, b); }

char ToCp1252OrQuestionMark(uint32_t cp) {
  unsigned char c = '?';
  CodePointToCp1252(cp, c);
  return static_cast<char>(c);
}

std::string Utf16ToCp1252(const std::string& bytes, size_t start, bool bigEndian) {
  std::string out;
  for (size_t i = start; i + 1 < bytes.size(); i += 2) {
    const unsigned lo = static_cast<unsigned char>(bytes[i + (bigEndian ? 1 : 0)]);
    const unsigned hi = static_cast<unsigned char>(bytes[i + (bigEndian ? 0 : 1)]);
    const uint32_t unit = lo | (hi << 8);
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      // Surrogates: characters outside the code page in any case.
      if (unit <= 0xDBFF && i + 3 < bytes.size()) i += 2;
      out += '?';
    } else {
      out += ToCp1252OrQuestionMark(unit);
    }
  }
  return out;
}

std::string Utf8ToCp1252Lossy(const std::string& bytes, size_t start) {
  // Like a system conversion: a character the code page lacks becomes '?', and so does every
  // byte of a malformed sequence.
  std::string out;
  size_t i = start;
  while (i < bytes.size()) {
    uint32_t cp = 0;
    if (DecodeUtf8(bytes, i, cp)) {
      out += ToCp1252OrQuestionMark(cp);
    } else {
      out += '?';
      ++i;
    }
  }
  return out;
}

}  // namespace

std::string IniTextToCp1252(const std::string& bytes) {
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    return Utf8ToCp1252Lossy(bytes, 3);
  }
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    return Utf16ToCp1252(bytes, 2, false);
  }
  if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
    return Utf16ToCp1252(bytes, 2, true);
  }
  return bytes;
}

bool FindIniValue(const std::string& text, const std::string& section, const std::string& key,
                  std::string& value) {
  const std::string wantSection = Trim(section);
  const std::string wantKey = Trim(key);
  if (wantKey.empty()) return false;
  // 0: before the wanted section, 1: inside its first occurrence, 2: past it.
  int state = 0;
  size_t pos = 0;
  while (pos < text.size() && state < 2) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;
    if (line[0] == '[') {
      const size_t close = line.rfind(']');
      if (close != std::string::npos) {
        const std::string name = line.substr(1, close - 1);
        if (state == 1) {
          state = 2;
        } else if (!name.empty() && EqualNoCase(name, wantSection)) {
          state = 1;
        }
        continue;
      }
      // A '[' line without ']' is an ordinary line.
    }
    if (state != 1) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) {
      // A line without '=' carries no value: its key reads as absent.
      if (EqualNoCase(line, wantKey)) return false;
      continue;
    }
    if (!EqualNoCase(Trim(line.substr(0, eq)), wantKey)) continue;
    size_t v = eq + 1;
    while (v < line.size() && IsBlank(static_cast<unsigned char>(line[v]))) ++v;
    value = line.substr(v);
    return true;
  }
  return false;
}

std::string UnquoteAndCut(const std::string& value, size_t maxChars) {
  std::string s = value;
  if (s.size() >= 2 && (s[0] == '"' || s[0] == '\'') && s.back() == s[0]) {
    s = s.substr(1, s.size() - 2);
  }
  if (s.size() > maxChars) s.resize(maxChars);
  return s;
}

std::vector<std::string> SectionNamesOfText(const std::string& text) {
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] != '[') continue;
    const size_t close = line.rfind(']');
    if (close != std::string::npos) names.push_back(line.substr(1, close - 1));
  }
  return names;
}

std::string ProfileStringFromText(const std::string& text, const std::string& section,
                                  const std::string& key, const std::string& def,
                                  size_t bufferSize) {
  const size_t maxChars = bufferSize ? bufferSize - 1 : 0;
  std::string value;
  if (FindIniValue(text, section, key, value)) return UnquoteAndCut(value, maxChars);
  std::string d = def;
  while (!d.empty() && d.back() == ' ') d.pop_back();
  return UnquoteAndCut(d, maxChars);
}

int ProfileIntFromText(const std::string& text, const std::string& section, const std::string& key,
                       int def) {
  // Windows reads the value through a 30-character buffer.
  const std::string value = ProfileStringFromText(text, section, key, "", 30);
  if (value.empty()) return def;
  return ParseProfileInt(value);
}

int ParseProfileInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  unsigned base = 10;
  if (i + 1 < text.size() && text[i] == '0') {
    if (text[i + 1] == 'x')
      base = 16;
    else if (text[i + 1] == 'o')
      base = 8;
    else if (text[i + 1] == 'b')
      base = 2;
    if (base != 10) i += 2;
  }
  uint32_t total = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'z')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'Z')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      break;
    if (digit >= base) break;
    total = total * base + digit;
  }
  if (negative) total = 0u - total;
  return static_cast<int>(total);
}

}  // namespace posix
}  // namespace platform
