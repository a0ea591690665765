#include "platform/posix/cp1252.h"

#include <vector>

namespace platform {
namespace posix {

namespace {

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

bool DecodeUtf8(const std::string& text, size_t& i, uint32_t& cp) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byte(i);
  size_t n;
  uint32_t min;
  if (b0 < 0x80) {
    cp = b0;
    ++i;
    return true;
  } else if ((b0 & 0xE0) == 0xC0) {
    n = 1, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 2, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (i + n >= text.size()) return false;  // the sequence runs past the end
  for (size_t k = 1; k <= n; ++k) {
    const unsigned char b = byte(i + k);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  i += n + 1;
  return true;
}

uint32_t Cp1252ToCodePoint(unsigned char c) { return CodePointOf1252(c); }

bool CodePointToCp1252(uint32_t cp, unsigned char& out) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
    out = static_cast<unsigned char>(cp);
    return true;
  }
  for (int k = 0x80; k <= 0x9F; ++k) {
    if (CodePointOf1252(static_cast<unsigned char>(k)) == cp) {
      out = static_cast<unsigned char>(k);
      return true;
    }
  }
  return false;
}

std::string Cp1252ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) AppendUtf8(Cp1252ToCodePoint(static_cast<unsigned char>(c)), out);
  return out;
}

bool Utf8ToCp1252(const std::string& text, std::string& out) {
  std::string result;
  result.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    uint32_t cp = 0;
    unsigned char c = 0;
    if (!DecodeUtf8(text, i, cp) || !CodePointToCp1252(cp, c)) {
      out = text;
      return false;
    }
    result += static_cast<char>(c);
  }
  out.swap(result);
  return true;
}

std::string Utf8ToCp1252OrRaw(const std::string& text) {
  std::string out;
  Utf8ToCp1252(text, out);
  return out;
}

bool IsUtf8(const std::string& text) {
  size_t i = 0;
  uint32_t cp = 0;
  while (i < text.size()) {
    if (!DecodeUtf8(text, i, cp)) return false;
  }
  return true;
}

int FirstUndefinedCp1252Byte(const std::string& text) {
  for (char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    // The undefined bytes are the ones the code page maps to the C1 control of their own value.
    if (b >= 0x80 && b <= 0x9F && CodePointOf1252(b) == b) return b;
  }
  return -1;
}

bool AllDefinedInCp1252(const std::string& text) { return FirstUndefinedCp1252Byte(text) < 0; }

namespace {

bool Match(const unsigned char* n, size_t nlen, const unsigned char* m, size_t mlen) {
  // Iterative wildcard match with one backtrack point for the last '*' seen.
  size_t ni = 0, mi = 0, starM = std::string::npos, starN = 0;
  while (ni < nlen) {
    if (mi < mlen && m[mi] == '*') {
      starM = mi++;
      starN = ni;
    } else if (mi < mlen && (m[mi] == '?' || FoldCase1252(m[mi]) == FoldCase1252(n[ni]))) {
      ++mi;
      ++ni;
    } else if (starM != std::string::npos) {
      mi = starM + 1;
      ni = ++starN;
    } else {
      return false;
    }
  }
  while (mi < mlen && m[mi] == '*') ++mi;
  return mi == mlen;
}

}  // namespace

bool MatchMask(const std::string& name, const std::string& mask) {
  if (mask == "*" || mask == "*.*") return true;
  const auto* n = reinterpret_cast<const unsigned char*>(name.data());
  const auto* m = reinterpret_cast<const unsigned char*>(mask.data());
  if (Match(n, name.size(), m, mask.size())) return true;
  if (mask.size() >= 2 && mask.compare(mask.size() - 2, 2, ".*") == 0) {
    return Match(n, name.size(), m, mask.size() - 2);
  }
  return false;
}

}  // namespace posix
}  // namespace platform
