// The case fold of file names in code page 1252, as Windows compares them: two names are the
// same file when they are equal byte for byte after this fold. It pairs A-Z with a-z, the
// accented capitals 0xC0-0xDE (less the multiplication sign 0xD7) with 0xE0-0xFE, and
// Š/š, Œ/œ, Ž/ž, Ÿ/ÿ. ß, µ and the signs have no partner in the code page and stay alone.
//
// Kept in a header of its own, free of any system call, because the POSIX emulation of the
// Windows name rules (masks, ini keys) and the archive's unpack plan must fold alike, and the
// extractor includes it without linking the platform layer.
#pragma once

#include <string>

namespace platform {

// The lower-case partner of a code page 1252 byte, or the byte itself.
inline unsigned char FoldCase1252(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 0x20);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 0x20);
  switch (c) {
    case 0x8A:
      return 0x9A;  // S caron
    case 0x8C:
      return 0x9C;  // OE
    case 0x8E:
      return 0x9E;  // Z caron
    case 0x9F:
      return 0xFF;  // Y diaeresis
    default:
      return c;
  }
}

// True when a and b are the same name after the fold.
inline bool SameNameFolded1252(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase1252(static_cast<unsigned char>(a[i])) !=
        FoldCase1252(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace platform
