#include "platform/platform.h"

namespace platform {

namespace {
Os* g_override = nullptr;
}  // namespace

Os& Current() { return g_override ? *g_override : Real(); }

void SetForTesting(Os* os) { g_override = os; }

DosTime DosTimeOfUtcSeconds(int64_t seconds) {
  DosTime d;  // 1980-01-01 00:00:00, the earliest DOS time
  constexpr int64_t kDay = 86400;
  constexpr int64_t k1980 = 315532800;      // 1980-01-01 00:00:00 UTC
  constexpr int64_t kEnd2107 = 4354819199;  // 2107-12-31 23:59:59 UTC
  if (seconds < k1980) return d;
  if (seconds > kEnd2107) seconds = kEnd2107;
  int64_t days = seconds / kDay;
  const int64_t rest = seconds % kDay;
  // Civil date of a day count (days since 1970-01-01), in 400-year eras from 1 March 0000.
  days += 719468;
  const int64_t era = days / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  d.year1980 = static_cast<uint32_t>(year - 1980);
  d.month = static_cast<uint32_t>(month);
  d.day = static_cast<uint32_t>(day);
  d.hour = static_cast<uint32_t>(rest / 3600);
  d.minute = static_cast<uint32_t>(rest % 3600 / 60);
  d.seconds2 = static_cast<uint32_t>(rest % 60 / 2);
  return d;
}

int64_t StreamSize(std::FILE* f) {
  const int64_t here = Tell64(f);
  if (here < 0 || !Seek64(f, 0, SEEK_END)) return -1;
  const int64_t size = Tell64(f);
  if (!Seek64(f, here, SEEK_SET)) return -1;
  return size;
}

}  // namespace platform
