// Writes the compressed part of an archive (archive header, then one entry per file) into a data
// file, reporting progress after each chunk. Failures are false results with no message.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

class TCompressor {
 public:
  TCompressor();
  virtual ~TCompressor();
  TCompressor(const TCompressor&) = delete;
  TCompressor& operator=(const TCompressor&) = delete;

  // Adds the file SourcePath as StoredName; the first call creates OutputPath and writes the
  // archive header. False on any failure (the data file keeps what was written).
  bool AddFile();
  // Closes the source and the data file, and tells whether every byte written reached the data
  // file (false also when a write failed before). No file added: nothing to lose, true.
  bool Finish();
  // Writes one entry: header with zero date and sizes, compressed data, header again filled in.
  bool WriteEntry(const std::string& sourcePath, const std::string& storedName, uint8_t method);
  // Closes both streams and releases the buffer.
  void Close();

  // For entries compressed elsewhere (the parallel build), written with the same bytes WriteEntry
  // writes. Each is false on a failure of the data file, with LastError and OutputFailed set.
  // Creates the data file and writes the archive header, unless that is done already.
  bool Begin();
  // An entry header at the end of the data file: blank (date nullptr, sizes 0) or filled in.
  // headerPos receives where it starts.
  bool WriteHeader(const std::string& storedName, const platform::DosTime* date, uint64_t size,
                   uint64_t compressedSize, int64_t& headerPos);
  // Compressed bytes of the entry being written.
  bool WriteData(const uint8_t* data, size_t n);
  // Fills in the blank header at headerPos, as WriteEntry does once the data is written.
  bool FillHeader(int64_t headerPos, const std::string& storedName, const platform::DosTime& date,
                  uint64_t size, uint64_t compressedSize);
  // Takes back everything from pos on, so that the entry there can be written anew.
  bool TruncateTo(int64_t pos);

  std::string SourcePath;
  std::string OutputPath;
  std::string StoredName;
  std::FILE* InFile = nullptr;
  std::FILE* OutFile = nullptr;
  std::vector<unsigned char> Buffer;  // read buffer of BufferSize bytes
  int32_t BufferSize = 64000;
  uint8_t Method = 1;
  int32_t TotalSize = 0;       // the archive header's 32-bit total
  int32_t FileCount = 0;
  int64_t BytesDone = 0;       // over the whole build; 64-bit so percentages stay 0..100
  uint64_t TrueTotalSize = 0;  // exact total for the total percentage (0: use TotalSize)
  // Receives "Datei: %s, %d Prozent, Total: %d Prozent" after each chunk; none: no progress.
  std::function<void(const std::string&)> StatusWindow;
  // Why the last AddFile failed, in German, for front ends that name it (e.g. file too large).
  std::string LastError;
  // The last AddFile failed on the data file (not created, a write failed), not on the source.
  bool OutputFailed = false;
  // Set from outside (Ctrl-C): the next chunk is not read and AddFile fails with Cancelled set.
  const std::atomic<bool>* CancelRequested = nullptr;
  bool Cancelled = false;

 private:
  bool AddOneFile();
  bool OpenDataFile();
  bool DataFailed();
};
