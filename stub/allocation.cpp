// The replaceable allocation functions of the extractor.
//
// The decoders take two 64 KiB buffers for every entry and give them back at its end; a heap may
// hand such blocks back to the system and take them again for the next entry (Wine's does, when
// the heap is fragmented: a decommit and a recommit per entry). Freed blocks of 16 KiB and more
// are therefore kept in a few slots and handed out again for a request of the same size. Several
// threads unpack at once, so the slots are taken and filled under a lock (only for such blocks:
// two per entry). Out of memory ends the program at once with the exit code of a failed
// unpacking.
#include <windows.h>

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kHeader = 16;  // the block's size, keeping 16-byte alignment
constexpr std::size_t kKeepFrom = 16 * 1024;
constexpr int kSlots = 8;

struct Slot {
  std::size_t size;
  void* block;
};
Slot g_slots[kSlots];
SRWLOCK g_slotsLock = SRWLOCK_INIT;

void* Allocate(std::size_t n) {
  if (n >= kKeepFrom) {
    AcquireSRWLockExclusive(&g_slotsLock);
    for (Slot& s : g_slots) {
      if (s.block && s.size == n) {
        void* b = s.block;
        s.block = nullptr;
        ReleaseSRWLockExclusive(&g_slotsLock);
        return static_cast<char*>(b) + kHeader;
      }
    }
    ReleaseSRWLockExclusive(&g_slotsLock);
  }
  void* b = std::malloc(n + kHeader);
  if (!b) ExitProcess(3);
  *static_cast<std::size_t*>(b) = n;
  return static_cast<char*>(b) + kHeader;
}

void Release(void* p) {
  if (!p) return;
  char* b = static_cast<char*>(p) - kHeader;
  const std::size_t n = *reinterpret_cast<std::size_t*>(b);
  if (n >= kKeepFrom) {
    AcquireSRWLockExclusive(&g_slotsLock);
    for (Slot& s : g_slots) {
      if (!s.block) {
        s.size = n;
        s.block = b;
        ReleaseSRWLockExclusive(&g_slotsLock);
        return;
      }
    }
    ReleaseSRWLockExclusive(&g_slotsLock);
  }
  std::free(b);
}

}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
