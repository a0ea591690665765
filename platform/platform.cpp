#include "platform/platform.h"

namespace platform {

namespace {
Os* g_override = nullptr;
}  // namespace

Os& Current() { return g_override ? *g_override : Real(); }

void SetForTesting(Os* os) { g_override = os; }

int64_t StreamSize(std::FILE* f) {
  const int64_t here = Tell64(f);
  if (here < 0 || !Seek64(f, 0, SEEK_END)) return -1;
  const int64_t size = Tell64(f);
  if (!Seek64(f, here, SEEK_SET)) return -1;
  return size;
}

}  // namespace platform
