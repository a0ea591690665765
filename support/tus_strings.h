// String lists with a duplicate rule, and the binary encodings of strings and string lists used by
// the settings file and by the settings block of every produced archive.
//
// Encodings (little-endian): a string is a u16 byte count followed by the bytes, no NUL; a list is a
// u16 count followed by that many strings. Readers never fail loudly: a file that ends early gives a
// shorter or empty result, never uninitialised bytes, and no reader allocates more than the file
// still holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

// A list of strings that either refuses or accepts duplicates (byte-exact, case-sensitive).
// Find and Add take constant time on average: the list keeps an index of the first position of
// each string, extended lazily. Strings may be read freely, and changed only by appending or
// by shrinking it (as Clear does); an element is never rewritten in place.
class TUSStrings {
 public:
  explicit TUSStrings(bool allowDuplicates = false) : AllowDuplicates(allowDuplicates) {
    Strings.reserve(11);
  }
  TUSStrings(const TUSStrings& other) = default;
  // Clears this list, then adds every string of other under this list's own duplicate rule.
  TUSStrings& operator=(const TUSStrings& other);

  int Count() const { return static_cast<int>(Strings.size()); }
  // The string at index; callers check 0 <= index < Count().
  const std::string& At(int index) const;
  // Index of the first string equal to s, or -1.
  int Find(const std::string& s) const;
  // Appends s under the duplicate rule: -1 when refused as a duplicate, else Find(s) afterwards.
  int Add(const std::string& s);
  void Clear() {
    Strings.clear();
    first_.clear();
    indexed_ = 0;
  }
  // Add of every string of other, in order.
  void Append(const TUSStrings& other);

  std::vector<std::string> Strings;
  bool AllowDuplicates;

 private:
  // The first index of each of Strings[0, indexed_): brought up to date by Find.
  mutable std::unordered_map<std::string, int> first_;
  mutable size_t indexed_ = 0;
};

// The most strings a list encoding can carry (its count is read as signed 16-bit).
constexpr int kMaxEncodedStrings = 32767;
// The longest string the u16 byte count can describe.
constexpr size_t kMaxEncodedLength = 0xFFFF;
// The number of strings a list's stored count stands for: the count is signed 16-bit, as the
// writer counts, so 0x8000 and above stand for a negative count that holds no string.
inline int ListCountOf(uint16_t raw) { return static_cast<int16_t>(raw); }

// Writes the u16 length (low 16 bits) and then the first length bytes of s. False on a short write.
bool WriteString(const std::string& s, std::FILE* f);
// Reads one encoded string into s. A file ending inside the length gives ""; inside the text, the
// bytes that were there. False when the encoding was cut short.
bool ReadString(std::string& s, std::FILE* f);
// Writes the u16 count and every string. Lists over kMaxEncodedStrings are cut to that many so the
// count always matches the strings that follow. False on a short write.
bool WriteStrings(const TUSStrings& list, std::FILE* f);
// Clears list, reads the count (0 when absent) and that many strings, adding each with Add. A count
// the file cannot hold ends the read early. False when the encoding was cut short.
bool ReadStrings(TUSStrings& list, std::FILE* f);

// Little-endian primitives on a stream. Writers return false on a short write; readers return
// false (and leave value unchanged) when the stream ends early.
bool WriteU8(std::FILE* f, uint8_t v);
bool WriteU16(std::FILE* f, uint16_t v);
bool WriteU32(std::FILE* f, uint32_t v);
bool ReadU8(std::FILE* f, uint8_t& v);
bool ReadU16(std::FILE* f, uint16_t& v);
bool ReadU32(std::FILE* f, uint32_t& v);

// Little-endian helpers on memory.
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
