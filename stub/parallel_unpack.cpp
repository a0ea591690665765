#include "stub/parallel_unpack.h"

#include <cstdint>
#include <deque>

#include "stub/handle_source.h"

unsigned DefaultUnpackThreads() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const unsigned n = info.dwNumberOfProcessors;
  return n < 1 ? 1 : n > kMaxUnpackThreads ? kMaxUnpackThreads : n;
}

namespace {

// One entry on its way: handed out, being worked on, or done and waiting to be taken.
struct Slot {
  size_t entry = 0;
  bool writing = false;
  bool finished = false;    // done by a thread (under the pool's lock)
  bool ok = false;          // decoded (and written) whole
  bool writeFailed = false;  // the file could not be made, written or put in place
  DecodeStatus status = DecodeStatus::Ok;
  FileJob job;
};

class Pool {
 public:
  Pool(const std::vector<ArchiveEntry>& entries, HANDLE archive, EntryDecoder decode,
       Unpacker* out, unsigned threads)
      : entries_(entries), archive_(archive), decode_(decode), out_(out), slots_(2 * threads) {
    InitializeSRWLock(&lock_);
    InitializeConditionVariable(&work_);
    InitializeConditionVariable(&finished_);
    for (unsigned i = 0; i < threads; ++i) {
      HANDLE t = CreateThread(nullptr, 0, &Pool::ThreadMain, this, 0, nullptr);
      if (t) threads_.push_back(t);
    }
  }
  ~Pool() { Stop(); }

  size_t capacity() const { return slots_.size(); }
  Slot& SlotOf(size_t entry) { return slots_[entry % slots_.size()]; }
  uint64_t Done() const { return static_cast<uint64_t>(InterlockedCompareExchange64(&done_, 0, 0)); }
  // Entries from this one on stop at their next bytes (their files are abandoned).
  void StopFrom(size_t entry) { InterlockedExchange64(&stopFrom_, static_cast<LONG64>(entry)); }

  void Hand(size_t entry) {
    Slot& s = SlotOf(entry);
    AcquireSRWLockExclusive(&lock_);
    s.finished = false;
    queue_.push_back(&s);
    ReleaseSRWLockExclusive(&lock_);
    WakeConditionVariable(&work_);
  }

  // Waits until entry's slot is finished; with tick, asks it about every 50 ms meanwhile (false:
  // cancelled, then returned at once). When no thread could be started, the entries are worked
  // on here.
  bool WaitFor(size_t entry, const std::function<bool(uint64_t)>& tick) {
    Slot& s = SlotOf(entry);
    if (threads_.empty()) {
      HandleByteSource source(archive_);
      while (!queue_.empty()) {
        Work(*queue_.front(), source);
        queue_.front()->finished = true;
        queue_.pop_front();
      }
    }
    AcquireSRWLockExclusive(&lock_);
    while (!s.finished) {
      SleepConditionVariableSRW(&finished_, &lock_, tick ? 50 : INFINITE, 0);
      if (s.finished || !tick) continue;
      ReleaseSRWLockExclusive(&lock_);
      const bool goOn = tick(Done());
      AcquireSRWLockExclusive(&lock_);
      if (!goOn) {
        ReleaseSRWLockExclusive(&lock_);
        return false;
      }
    }
    ReleaseSRWLockExclusive(&lock_);
    return true;
  }

 private:
  static DWORD WINAPI ThreadMain(void* self) {
    static_cast<Pool*>(self)->Serve();
    return 0;
  }

  void Serve() {
    HandleByteSource source(archive_);  // a read window of this thread's own
    for (;;) {
      AcquireSRWLockExclusive(&lock_);
      while (queue_.empty() && !stopping_) SleepConditionVariableSRW(&work_, &lock_, INFINITE, 0);
      if (queue_.empty()) {
        ReleaseSRWLockExclusive(&lock_);
        return;
      }
      Slot* s = queue_.front();
      queue_.pop_front();
      ReleaseSRWLockExclusive(&lock_);
      Work(*s, source);
      AcquireSRWLockExclusive(&lock_);
      s->finished = true;
      ReleaseSRWLockExclusive(&lock_);
      WakeAllConditionVariable(&finished_);
    }
  }

  bool Stopped(size_t entry) const {
    return static_cast<LONG64>(entry) >= InterlockedCompareExchange64(&stopFrom_, 0, 0);
  }

  void Work(Slot& s, HandleByteSource& source) {
    s.ok = s.writeFailed = false;
    s.status = DecodeStatus::SinkFailed;
    // An entry not worked on lets go of what Prepare opened for it (the file it would replace).
    if (Stopped(s.entry) || !source.valid()) {
      if (!source.valid()) s.status = DecodeStatus::IoError;
      if (s.writing) Unpacker::Abandon(s.job);
      return;
    }
    if (s.writing && !out_->Create(s.job)) {
      s.writeFailed = true;
      return;
    }
    const ByteSink sink = [this, &s](const uint8_t* data, size_t n) {
      if (Stopped(s.entry)) return false;
      if (s.writing && !Unpacker::Write(s.job, data, n)) {
        s.writeFailed = true;
        return false;
      }
      InterlockedExchangeAdd64(&done_, static_cast<LONG64>(n));
      return true;
    };
    s.status = decode_(source, entries_[s.entry], sink);
    if (s.status != DecodeStatus::Ok) {
      if (s.writing) Unpacker::Abandon(s.job);
      return;
    }
    if (s.writing && !out_->Finish(s.job, entries_[s.entry].time)) {
      s.writeFailed = true;
      return;
    }
    s.ok = true;
  }

  void Stop() {
    AcquireSRWLockExclusive(&lock_);
    stopping_ = true;
    ReleaseSRWLockExclusive(&lock_);
    WakeAllConditionVariable(&work_);
    for (HANDLE t : threads_) {
      WaitForSingleObject(t, INFINITE);
      CloseHandle(t);
    }
    threads_.clear();
  }

  const std::vector<ArchiveEntry>& entries_;
  HANDLE archive_;
  EntryDecoder decode_;
  Unpacker* out_;
  std::vector<Slot> slots_;
  std::vector<HANDLE> threads_;
  SRWLOCK lock_;
  CONDITION_VARIABLE work_;      // an entry was handed out, or the pool stops
  CONDITION_VARIABLE finished_;  // an entry is finished
  std::deque<Slot*> queue_;
  bool stopping_ = false;
  mutable volatile LONG64 done_ = 0;
  mutable volatile LONG64 stopFrom_ = INT64_MAX;
};

}  // namespace

Outcome UnpackInParallel(const std::vector<ArchiveEntry>& entries, HANDLE archive,
                         EntryDecoder decode, Unpacker* out, const std::vector<size_t>& keep,
                         unsigned threads, const UnpackHooks& hooks) {
  Pool pool(entries, archive, decode, out, threads);
  const size_t count = entries.size();
  size_t handed = 0, taken = 0, nextKept = 0;
  // The first failure in the archive's order; failedAt: its entry (count: none yet).
  Outcome failure;
  size_t failedAt = count;
  bool cancelled = false;
  while (taken < count) {
    // Hands out entries while a slot is free and nothing has failed.
    while (handed < count && handed - taken < pool.capacity() && failedAt == count && !cancelled) {
      Slot& s = pool.SlotOf(handed);
      const bool kept = nextKept < keep.size() && keep[nextKept] == handed;
      if (kept) ++nextKept;
      s.entry = handed;
      s.writing = out && !kept;
      const std::wstring relative = hooks.relativeOf(handed);
      if (hooks.current) hooks.current(relative);
      if (s.writing) {
        Outcome o = out->Prepare(relative, handed, s.job);
        if (!o.ok()) {
          failure = o;
          failedAt = handed;
          break;
        }
      }
      pool.Hand(handed++);
    }
    if (taken == handed) break;  // a failure before anything more was handed out
    if (!pool.WaitFor(taken, cancelled ? std::function<bool(uint64_t)>() : hooks.tick)) {
      cancelled = true;
      pool.StopFrom(0);
      continue;
    }
    // Taken in the archive's order: its record, its log line, or the failure it is.
    Slot& s = pool.SlotOf(taken);
    if (s.writing) out->Record(s.job);
    if (s.ok && failedAt > taken && !cancelled) {
      if (hooks.done) hooks.done(taken, s.writing, s.job.replaced);
    } else if (failedAt > taken && !cancelled) {
      failure = s.writeFailed ? out->FailureOf(s.job) : hooks.damaged(s.status, taken);
      failedAt = taken;
      pool.StopFrom(taken + 1);
    }
    ++taken;
    // As on one thread, the window is kept alive after every entry, also when none waits.
    if (hooks.tick && !cancelled && !hooks.tick(pool.Done())) {
      cancelled = true;
      pool.StopFrom(0);
    }
  }
  if (cancelled) return Fail(kExitCancelled, Msg::Cancelled);
  if (failedAt < count) return failure;
  if (hooks.tick && !hooks.tick(pool.Done())) return Fail(kExitCancelled, Msg::Cancelled);
  return Outcome();
}
