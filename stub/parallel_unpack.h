// Unpacking on several threads. The calling thread hands out the entries in the archive's order
// (it makes their folders and looks at what stands at their names, through the unpacker), a
// pool of threads decodes and writes them, each reading its entry's data from the archive
// itself, and the calling thread takes their results in the archive's order again: the records
// for the roll-back, the log lines, the progress and the first failure are those of one thread,
// whatever the timing. At most two entries per thread are on their way at once, each with one
// write buffer, so the memory does not grow with the archive.
//
// A failure (of an entry, of its folder, or a cancel) hands out nothing more, stops the entries
// after it, waits for every thread and returns the failure of the first entry in the archive's
// order that failed, as one thread would have met it; everything written is recorded for the
// roll-back.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/entry_decoder.h"
#include "stub/stub_text.h"
#include "stub/unpacker.h"

// The most threads /J takes.
constexpr unsigned kMaxUnpackThreads = 8;
// One thread per processor, at most kMaxUnpackThreads.
unsigned DefaultUnpackThreads();

using EntryDecoder = DecodeStatus (*)(ByteSource& src, const ArchiveEntry& entry,
                                      const ByteSink& sink);

// What the run asks of its caller, always on the calling thread.
struct UnpackHooks {
  std::function<std::wstring(size_t entry)> relativeOf;
  // Entry is being handed out (for the progress display); may be empty.
  std::function<void(const std::wstring& relative)> current;
  // The bytes decoded so far; false once the user has cancelled. May be empty.
  std::function<bool(uint64_t done)> tick;
  // Entry is done: written (replaced: over a file that was there) or, not written, checked.
  std::function<void(size_t entry, bool written, bool replaced)> done;
  // Why an entry did not decode (damage, the archive unreadable).
  std::function<Outcome(DecodeStatus status, size_t entry)> damaged;
};

// Decodes every entry of entries from archive (opened for reading, shared by the threads) with
// decode, on threads threads, into out (nullptr: a test that writes nothing). keep: the entries
// (ascending) whose existing files stay; they are decoded and checked, not written.
Outcome UnpackInParallel(const std::vector<ArchiveEntry>& entries, HANDLE archive,
                         EntryDecoder decode, Unpacker* out, const std::vector<size_t>& keep,
                         unsigned threads, const UnpackHooks& hooks);
