// Writes the compressed part of an archive (archive header, then one entry per file) into a data
// file, reporting progress after each chunk. Failures are false results with no message.
#pragma once

#include "builder/builder_only.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

struct EncodedSize;

// A source file as every build reads it, on one thread or on many. OpenSource opens it before
// its entry is begun: nullptr when it cannot be opened (its entry then ends at the header);
// refused is set (and the stream still returned) when it is a file the format cannot describe, as
// its size cannot be taken or is too large: nothing of its entry is to be written then.
std::FILE* OpenSource(const std::string& path, int64_t& size, const char*& refused);

// The time stored for the source file at path: its last-write time in local time, or, with a
// latest time (seconds since 1970, not negative), the earlier of the two in UTC. 1 January 1980
// when the file's time cannot be read.
platform::DosTime SourceTime(platform::Os& os, const std::string& path, int64_t latest);

// Reads an open source (not owned) in chunks that stop once the file has grown beyond what the
// format's size fields carry, or once stop says so.
class SourceReader {
 public:
  SourceReader(std::FILE* in, unsigned char* buffer, size_t chunk)
      : in_(in), buffer_(buffer), chunk_(chunk) {}
  // The next chunk: its length; 0 at the end; -1 on a read error, when the file has grown too
  // large or when stop says so (Why tells which).
  int64_t Next(const uint8_t*& data);
  int64_t BytesRead() const { return bytesRead_; }
  const char* Why() const { return why_; }
  bool Cancelled() const;

  std::function<bool()> stop;           // asked before each chunk; may be empty
  std::function<void(size_t)> counted;  // told the length of each chunk read; may be empty

 private:
  std::FILE* in_;
  unsigned char* buffer_;
  size_t chunk_;
  int64_t bytesRead_ = 0;
  const char* why_ = nullptr;
};

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
  // Copies count bytes of src (an entry's data kept in a temporary file) to the data file. False
  // when src could not be read (readFailed) or the data file failed.
  bool WriteDataFrom(std::FILE* src, int64_t count, bool& readFailed);
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
  int32_t TotalSize = 0;  // the archive header's 32-bit total
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
  // Latest file time stored (seconds since 1970, UTC); negative: each file's own time.
  int64_t LatestTime = -1;
  // The data file may not grow beyond this many bytes (0: no limit): an AddFile that leaves it
  // longer fails with TooLarge set, so that a build stops as soon as its archive is too large.
  uint64_t DataLimit = 0;
  bool TooLarge = false;

  // True while the data file is within DataLimit; else sets TooLarge and LastError.
  bool WithinLimit();

 private:
  bool AddOneFile();
  bool OpenDataFile();
  bool DataFailed();
  // Sets LastError to why and returns false.
  bool Fail(const char* why);
  bool BeginEntry(const std::string& sourcePath, const std::string& storedName, uint8_t method,
                  int64_t& sourceSize, int64_t& headerPos);
  bool EncodeSource(const std::string& sourcePath, int64_t sourceSize, uint8_t method,
                    EncodedSize& size);
};
