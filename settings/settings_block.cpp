#include "settings/settings_block.h"

namespace {

// Checks each field against the 16-bit counts; stops at the first that does not fit.
struct FitChecker {
  bool U8(uint8_t /*value*/) { return true; }
  bool String(const std::string& s) { return s.size() <= kMaxEncodedLength; }
  bool List(const TUSStrings& list) {
    if (list.Count() > kMaxEncodedStrings) return false;
    for (const std::string& s : list.Strings) {
      if (!String(s)) return false;
    }
    return true;
  }
};

// Adds up the bytes each field takes: a byte, or a u16 length and the text, or a u16 count and
// each text so.
struct SizeCounter {
  uint64_t bytes = 1;  // the version byte
  bool U8(uint8_t /*value*/) {
    bytes += 1;
    return true;
  }
  bool String(const std::string& s) {
    bytes += 2 + s.size();
    return true;
  }
  bool List(const TUSStrings& list) {
    bytes += 2;
    for (const std::string& s : list.Strings) String(s);
    return true;
  }
};

}  // namespace

uint64_t SettingsBlockSize(const TInstallInf& record) {
  SizeCounter counter;
  VisitSettingsFields(record, counter);
  return counter.bytes;
}

bool FitsSettingsBlock(const TInstallInf& record) {
  FitChecker checker;
  return VisitSettingsFields(record, checker);
}
