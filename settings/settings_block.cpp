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

}  // namespace

bool FitsSettingsBlock(const TInstallInf& record) {
  FitChecker checker;
  return VisitSettingsFields(record, checker);
}
