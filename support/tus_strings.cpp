#include "support/tus_strings.h"

#include <cassert>
#include <cstdlib>

#include "platform/platform.h"

TUSStrings& TUSStrings::operator=(const TUSStrings& other) {
  if (this == &other) return *this;
  Clear();
  Append(other);
  return *this;
}

const std::string& TUSStrings::At(int index) const {
  assert(index >= 0 && index < Count() && "CheckIndex(loc)");
  return Strings[static_cast<size_t>(index)];
}

int TUSStrings::Find(const std::string& s) const {
  if (indexed_ > Strings.size()) {  // shrunk since the index was built
    first_.clear();
    indexed_ = 0;
  }
  for (; indexed_ < Strings.size(); ++indexed_)
    first_.emplace(Strings[indexed_], static_cast<int>(indexed_));
  const auto it = first_.find(s);
  return it == first_.end() ? -1 : it->second;
}

int TUSStrings::Add(const std::string& s) {
  if (!AllowDuplicates && Find(s) >= 0) return -1;
  Strings.push_back(s);
  return Find(s);
}

void TUSStrings::Append(const TUSStrings& other) {
  // Copy first: appending a list to itself must not read what it is writing.
  const std::vector<std::string> source = other.Strings;
  for (const std::string& s : source) Add(s);
}

bool WriteU8(std::FILE* f, uint8_t v) { return std::fwrite(&v, 1, 1, f) == 1; }
bool WriteU16(std::FILE* f, uint16_t v) {
  uint8_t b[2];
  PutU16(b, v);
  return std::fwrite(b, 1, 2, f) == 2;
}
bool WriteU32(std::FILE* f, uint32_t v) {
  uint8_t b[4];
  PutU32(b, v);
  return std::fwrite(b, 1, 4, f) == 4;
}
bool ReadU8(std::FILE* f, uint8_t& v) {
  uint8_t b;
  if (std::fread(&b, 1, 1, f) != 1) return false;
  v = b;
  return true;
}
bool ReadU16(std::FILE* f, uint16_t& v) {
  uint8_t b[2];
  if (std::fread(b, 1, 2, f) != 2) return false;
  v = GetU16(b);
  return true;
}
bool ReadU32(std::FILE* f, uint32_t& v) {
  uint8_t b[4];
  if (std::fread(b, 1, 4, f) != 4) return false;
  v = GetU32(b);
  return true;
}

bool WriteString(const std::string& s, std::FILE* f) {
  const uint16_t len = static_cast<uint16_t>(s.size() & 0xFFFF);
  if (!WriteU16(f, len)) return false;
  return len == 0 || std::fwrite(s.data(), 1, len, f) == len;
}

bool ReadString(std::string& s, std::FILE* f) {
  uint16_t len = 0;
  if (!ReadU16(f, len)) {
    s.clear();
    return false;
  }
  // The length is at most 65535, so this buffer is bounded whatever the file claims.
  std::string text(len, '\0');
  const size_t got = len ? std::fread(&text[0], 1, len, f) : 0;
  text.resize(got);
  s = text;
  return got == len;
}

bool WriteStrings(const TUSStrings& list, std::FILE* f) {
  const int n = list.Count() > kMaxEncodedStrings ? kMaxEncodedStrings : list.Count();
  if (!WriteU16(f, static_cast<uint16_t>(n))) return false;
  for (int i = 0; i < n; ++i) {
    if (!WriteString(list.At(i), f)) return false;
  }
  return true;
}

bool ReadStrings(TUSStrings& list, std::FILE* f) {
  list.Clear();
  uint16_t raw = 0;
  if (!ReadU16(f, raw)) return false;
  const int count = ListCountOf(raw);
  for (int i = 0; i < count; ++i) {
    std::string s;
    if (!ReadString(s, f)) return false;  // the file cannot hold the stated count: stop here
    list.Add(s);
  }
  return true;
}
