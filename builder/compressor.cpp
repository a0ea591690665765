#include "builder/compressor.h"

#include <cstring>
#include <new>

#include "archive/archive_layout.h"
#include "archive/entry_encoder.h"
#include "platform/platform.h"
#include "support/file_access.h"
#include "support/tus_strings.h"

namespace {

const char* const kErrNoName = "Kein Name f\xFCr den Archiveintrag";
const char* const kErrNoDataFile = "Die Datendatei kann nicht angelegt werden";
const char* const kErrDataWrite = "Fehler beim Schreiben der Datendatei";
const char* const kErrOpen = "Datei kann nicht gelesen werden";
const char* const kErrRead = "Fehler beim Lesen der Datei";
const char* const kErrTooLarge = "Datei ist zu gro\xDF f\xFCr das Archivformat (mehr als 2 GB)";
const char* const kErrNameTooLong = "Der gespeicherte Name ist l\xE4nger als 259 Zeichen";
const char* const kErrCompress = "Fehler bei der Kompression";
const char* const kErrNoMemory = "Nicht gen\xFCgend Speicher";
const char* const kErrCancelled = "Abgebrochen";
const char* const kErrArchiveTooLarge =
    "Das Archiv wird 4 GiB gro\xDF oder gr\xF6\xDF"
    "er";

// The entry header as it is laid out in the data file: name length, name, date block, sizes,
// method, a zero byte and a zero word.
std::vector<uint8_t> EntryHeader(const std::string& name, const platform::DosTime* date,
                                 uint32_t size, uint32_t compressedSize, uint8_t method) {
  std::vector<uint8_t> h(layout::kEntryFixedSize + name.size(), 0);
  PutU16(h.data(), static_cast<uint16_t>(name.size()));
  if (!name.empty()) std::memcpy(h.data() + 2, name.data(), name.size());
  uint8_t* p = h.data() + 2 + name.size();
  if (date != nullptr) {
    const uint32_t values[6] = {date->seconds2, date->minute, date->hour,
                                date->day,      date->month,  date->year1980};
    for (int i = 0; i < 6; ++i) PutU32(p + layout::kEntDate + 4 * i, values[i]);
  }
  PutU32(p + layout::kEntSize, size);
  PutU32(p + layout::kEntCompressedSize, compressedSize);
  p[layout::kEntMethod] = method;
  // kEntZeroByte and kEntZeroWord stay 0.
  return h;
}

bool WriteAll(std::FILE* f, const void* data, size_t n) {
  return n == 0 || std::fwrite(data, 1, n, f) == n;
}

// Gives buffer at least size bytes. False when size is not positive or the memory is not there.
bool ReadyBuffer(std::vector<unsigned char>& buffer, int32_t size) {
  if (size <= 0) return false;
  if (buffer.size() >= static_cast<size_t>(size)) return true;
  try {
    buffer.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Writes header over the blank one at headerPos, once everything behind it is on its way to the
// disk, and returns to the end of the file.
bool FillInHeader(std::FILE* f, int64_t headerPos, const std::vector<uint8_t>& header) {
  if (std::fflush(f) != 0) return false;
  const int64_t endPos = platform::Tell64(f);
  return endPos >= 0 && platform::Seek64(f, headerPos, SEEK_SET) &&
         WriteAll(f, header.data(), header.size()) && platform::Seek64(f, endPos, SEEK_SET);
}

const char* ReasonOf(EncodeStatus status) {
  switch (status) {
    case EncodeStatus::SinkFailed:
      return kErrDataWrite;
    case EncodeStatus::NoMemory:
      return kErrNoMemory;
    default:
      return kErrCompress;
  }
}

int Percent(int64_t done, uint64_t whole) {
  const uint64_t divisor = whole > 1 ? whole : 1;
  const uint64_t d = done > 0 ? static_cast<uint64_t>(done) : 0;
  // 64-bit products cannot overflow for any file or tree that fits on a disk.
  const uint64_t p = d * 100 / divisor;
  return p > 100 ? 100 : static_cast<int>(p);
}

}  // namespace

platform::DosTime SourceTime(platform::Os& os, const std::string& path, int64_t latest) {
  platform::DosTime date;
  if (latest < 0) {
    os.LastWriteDosTime(path, date);
    return date;
  }
  int64_t seconds = 0;
  if (!os.LastWriteSeconds(path, seconds)) return date;
  return platform::DosTimeOfUtcSeconds(seconds < latest ? seconds : latest);
}

std::FILE* OpenSource(const std::string& path, int64_t& size, const char*& refused) {
  std::FILE* in = platform::Current().Open(path, "rb");
  size = in != nullptr ? platform::StreamSize(in) : 0;
  refused = size < 0                                            ? kErrRead
            : size > static_cast<int64_t>(layout::kMaxFileSize) ? kErrTooLarge
                                                                : nullptr;
  return in;
}

int64_t SourceReader::Next(const uint8_t*& data) {
  if (stop && stop()) {
    why_ = kErrCancelled;
    return -1;
  }
  const size_t n = std::fread(buffer_, 1, chunk_, in_);
  if (n == 0) {
    if (!std::ferror(in_)) return 0;
    why_ = kErrRead;
    return -1;
  }
  bytesRead_ += static_cast<int64_t>(n);
  if (counted) counted(n);
  if (bytesRead_ > static_cast<int64_t>(layout::kMaxFileSize)) {
    why_ = kErrTooLarge;
    return -1;
  }
  data = buffer_;
  return static_cast<int64_t>(n);
}

bool SourceReader::Cancelled() const { return why_ == kErrCancelled; }

TCompressor::TCompressor() = default;

TCompressor::~TCompressor() { Close(); }

void TCompressor::Close() {
  if (InFile != nullptr) {
    std::fclose(InFile);
    InFile = nullptr;
  }
  if (OutFile != nullptr) {
    std::fclose(OutFile);
    OutFile = nullptr;
  }
  std::vector<unsigned char>().swap(Buffer);
}

bool TCompressor::Finish() {
  if (InFile != nullptr) {
    std::fclose(InFile);
    InFile = nullptr;
  }
  bool ok = !OutputFailed;
  if (OutFile != nullptr) {
    ok = std::fclose(OutFile) == 0 && ok;
    OutFile = nullptr;
  }
  std::vector<unsigned char>().swap(Buffer);
  return ok;
}

bool TCompressor::AddFile() {
  TooLarge = false;
  const bool ok = AddOneFile();
  OutputFailed = !ok && (LastError == kErrNoDataFile || LastError == kErrDataWrite);
  return ok && WithinLimit();
}

bool TCompressor::WithinLimit() {
  if (DataLimit == 0 || OutFile == nullptr) return true;
  const int64_t end = platform::Tell64(OutFile);
  if (end >= 0 && static_cast<uint64_t>(end) <= DataLimit) return true;
  TooLarge = end >= 0;
  LastError = TooLarge ? kErrArchiveTooLarge : kErrDataWrite;
  OutputFailed = !TooLarge;
  return false;
}

bool TCompressor::AddOneFile() {
  LastError.clear();
  Cancelled = false;
  if (SourcePath.empty() || OutputPath.empty() || StoredName.empty()) {
    LastError = OutputPath.empty() ? kErrNoDataFile : kErrNoName;
    return false;
  }
  if (StoredName.size() > layout::kMaxStoredName) {
    LastError = kErrNameTooLong;
    return false;
  }
  if (!OpenDataFile()) return false;
  return WriteEntry(SourcePath, StoredName, Method);
}

bool TCompressor::OpenDataFile() {
  if (OutFile != nullptr) return true;
  OutFile = platform::Current().Open(OutputPath, "wb");
  if (OutFile == nullptr) {
    LastError = kErrNoDataFile;
    return false;
  }
  uint8_t header[layout::kArchiveHeaderSize] = {};
  std::memcpy(header, layout::kArchiveMagic, 4);
  PutU32(header + layout::kHdrFileCount, static_cast<uint32_t>(FileCount));
  PutU32(header + layout::kHdrTotalSize, static_cast<uint32_t>(TotalSize));
  PutU32(header + layout::kHdrReserved, 0);
  header[layout::kHdrMethod] = Method;
  if (!WriteAll(OutFile, header, sizeof header)) {
    LastError = kErrDataWrite;
    return false;
  }
  return true;
}

bool TCompressor::DataFailed() {
  LastError = kErrDataWrite;
  OutputFailed = true;
  return false;
}

bool TCompressor::Begin() {
  LastError.clear();
  if (OutputPath.empty()) LastError = kErrNoDataFile;
  OutputFailed = OutputPath.empty() || !OpenDataFile();
  return !OutputFailed;
}

bool TCompressor::WriteHeader(const std::string& storedName, const platform::DosTime* date,
                              uint64_t size, uint64_t compressedSize, int64_t& headerPos) {
  if (OutFile == nullptr) return DataFailed();
  headerPos = platform::Tell64(OutFile);
  const std::vector<uint8_t> header = EntryHeader(storedName, date, static_cast<uint32_t>(size),
                                                  static_cast<uint32_t>(compressedSize), Method);
  if (headerPos < 0 || !WriteAll(OutFile, header.data(), header.size())) return DataFailed();
  return true;
}

bool TCompressor::WriteData(const uint8_t* data, size_t n) {
  if (OutFile == nullptr || !WriteAll(OutFile, data, n)) return DataFailed();
  return true;
}

bool TCompressor::FillHeader(int64_t headerPos, const std::string& storedName,
                             const platform::DosTime& date, uint64_t size,
                             uint64_t compressedSize) {
  if (OutFile == nullptr) return DataFailed();
  const std::vector<uint8_t> filled = EntryHeader(storedName, &date, static_cast<uint32_t>(size),
                                                  static_cast<uint32_t>(compressedSize), Method);
  if (!FillInHeader(OutFile, headerPos, filled)) return DataFailed();
  return true;
}

bool TCompressor::WriteDataFrom(std::FILE* src, int64_t count, bool& readFailed) {
  bool writeFailed = false;
  readFailed = false;
  if (OutFile != nullptr && CopyHandleBytes(src, OutFile, count, &writeFailed)) return true;
  if (OutFile != nullptr && !writeFailed) {
    readFailed = true;
    return false;
  }
  return DataFailed();
}

bool TCompressor::TruncateTo(int64_t pos) {
  // A write that failed leaves the stream's error mark; what follows pos is taken back anyway.
  if (OutFile != nullptr) std::clearerr(OutFile);
  if (OutFile == nullptr || !platform::Truncate64(OutFile, pos)) return DataFailed();
  return true;
}

bool TCompressor::Fail(const char* why) {
  LastError = why;
  return false;
}

bool TCompressor::WriteEntry(const std::string& sourcePath, const std::string& storedName,
                             uint8_t method) {
  if (OutFile == nullptr || sourcePath.empty()) {
    if (LastError.empty()) LastError = kErrNoDataFile;
    return false;
  }
  if (storedName.size() > layout::kMaxStoredName) return Fail(kErrNameTooLong);
  if (!ReadyBuffer(Buffer, BufferSize)) return Fail(kErrNoMemory);

  int64_t sourceSize = 0;
  int64_t headerPos = -1;
  if (!BeginEntry(sourcePath, storedName, method, sourceSize, headerPos)) return false;
  const platform::DosTime date = SourceTime(platform::Current(), sourcePath, LatestTime);
  EncodedSize size;
  if (!EncodeSource(sourcePath, sourceSize, method, size)) return false;

  std::fclose(InFile);
  InFile = nullptr;

  const std::vector<uint8_t> filled = EntryHeader(storedName, &date, static_cast<uint32_t>(size.in),
                                                  static_cast<uint32_t>(size.out), method);
  if (!FillInHeader(OutFile, headerPos, filled)) return Fail(kErrDataWrite);
  return true;
}

// Opens the source before anything of its entry is written: a file the format cannot describe
// is refused without leaving a header behind. Then writes the blank header at headerPos.
bool TCompressor::BeginEntry(const std::string& sourcePath, const std::string& storedName,
                             uint8_t method, int64_t& sourceSize, int64_t& headerPos) {
  if (InFile != nullptr) std::fclose(InFile);
  const char* refused = nullptr;
  InFile = OpenSource(sourcePath, sourceSize, refused);
  if (refused != nullptr) return Fail(refused);

  headerPos = platform::Tell64(OutFile);
  if (headerPos < 0) return Fail(kErrDataWrite);
  const std::vector<uint8_t> blank = EntryHeader(storedName, nullptr, 0, 0, method);
  if (!WriteAll(OutFile, blank.data(), blank.size())) return Fail(kErrDataWrite);

  // A source that cannot be opened leaves its blank header behind, as the reader expects of a
  // build that stopped at that file.
  if (InFile == nullptr) return Fail(kErrOpen);
  return true;
}

// Compresses the open source into the data file, showing progress after each chunk; size is
// what went in and came out.
bool TCompressor::EncodeSource(const std::string& sourcePath, int64_t sourceSize, uint8_t method,
                               EncodedSize& size) {
  SourceReader reader(InFile, Buffer.data(), static_cast<size_t>(BufferSize));
  const std::atomic<bool>* cancel = CancelRequested;
  reader.stop = [cancel] { return cancel != nullptr && cancel->load(); };
  reader.counted = [this](size_t n) { BytesDone += static_cast<int64_t>(n); };
  const ChunkSource source = [&reader](const uint8_t*& data) { return reader.Next(data); };
  const ByteSink sink = [this](const uint8_t* data, size_t n) {
    return WriteAll(OutFile, data, n);
  };
  const uint64_t totalDivisor =
      TrueTotalSize != 0 ? TrueTotalSize : static_cast<uint64_t>(static_cast<uint32_t>(TotalSize));
  const ChunkDone showProgress = [&]() {
    if (!StatusWindow) return;
    StatusWindow("Datei: " + sourcePath + ", " +
                 std::to_string(Percent(reader.BytesRead(), static_cast<uint64_t>(sourceSize))) +
                 " Prozent, Total: " + std::to_string(Percent(BytesDone, totalDivisor)) +
                 " Prozent");
  };

  const EncodeStatus status = EncodeEntry(method, source, sink, showProgress, size);
  if (status == EncodeStatus::SourceFailed) {
    Cancelled = reader.Cancelled();
    return Fail(reader.Why());
  }
  if (status != EncodeStatus::Ok) return Fail(ReasonOf(status));
  if (size.out > layout::kMaxFileSize || size.in > layout::kMaxFileSize) return Fail(kErrTooLarge);
  return true;
}
