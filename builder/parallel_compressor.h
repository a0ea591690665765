// The entries of a build compressed on several threads. Workers compress files (and, for bzip2,
// the blocks of large files) concurrently into bounded buffers; the calling thread appends the
// entries to the data file in the order given, so the data file is byte for byte the one
// TCompressor::AddFile writes file after file.
//
// A file a worker could not compress whole (it could not be read, it changed, a buffer could not
// be written) is compressed once more on the calling thread by TCompressor::AddFile itself: its
// entry, its message and everything after it are then those of the one-thread build.
#pragma once

#include "builder/builder_only.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "builder/compressor.h"

struct ParallelFile {
  std::string sourcePath;
  std::string storedName;
  uint64_t size = 0;  // as listed; only chooses how the file is cut, never what is written
};

// Writes every file of files through compressor (set up as for AddFile: OutputPath, Method,
// FileCount, TotalSize, TrueTotalSize, CancelRequested) with jobs threads, reporting progress
// ("Dateien: 3 von 10, Total: 42 Prozent") to progress. Returns how many files were added; when
// fewer than all, compressor's AddFile failed on files[returned] as on one thread (LastError,
// OutputFailed, Cancelled tell why) and nothing of a later file was written.
size_t AddFilesInParallel(TCompressor& compressor, const std::vector<ParallelFile>& files,
                          int jobs, const std::function<void(const std::string&)>& progress);

// How many threads a build uses when it is not told: one per processor.
int DefaultJobs();
