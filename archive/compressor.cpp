#include "archive/compressor.h"

#include <bzlib.h>
#include <zlib.h>

#include <cstring>
#include <new>

#include "archive/archive_layout.h"
#include "platform/platform.h"
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

// Output chunk for the gzip stream; its size does not change the bytes produced.
constexpr size_t kDeflateOutSize = 16384;

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

int Percent(int64_t done, uint64_t whole) {
  const uint64_t divisor = whole > 1 ? whole : 1;
  const uint64_t d = done > 0 ? static_cast<uint64_t>(done) : 0;
  // 64-bit products cannot overflow for any file or tree that fits on a disk.
  const uint64_t p = d * 100 / divisor;
  return p > 100 ? 100 : static_cast<int>(p);
}

}  // namespace

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

bool TCompressor::AddFile() {
  LastError.clear();
  if (SourcePath.empty() || OutputPath.empty() || StoredName.empty()) {
    LastError = OutputPath.empty() ? kErrNoDataFile : kErrNoName;
    return false;
  }
  if (StoredName.size() > layout::kMaxStoredName) {
    LastError = kErrNameTooLong;
    return false;
  }
  if (OutFile == nullptr) {
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
  }
  return WriteEntry(SourcePath, StoredName, Method);
}

bool TCompressor::WriteEntry(const std::string& sourcePath, const std::string& storedName,
                             uint8_t method) {
  if (OutFile == nullptr || sourcePath.empty()) {
    if (LastError.empty()) LastError = kErrNoDataFile;
    return false;
  }
  if (storedName.size() > layout::kMaxStoredName) {
    LastError = kErrNameTooLong;
    return false;
  }
  if (BufferSize <= 0) {
    LastError = kErrNoMemory;
    return false;
  }
  if (Buffer.size() < static_cast<size_t>(BufferSize)) {
    try {
      Buffer.resize(static_cast<size_t>(BufferSize));
    } catch (const std::bad_alloc&) {
      LastError = kErrNoMemory;
      return false;
    }
  }

  platform::Os& os = platform::Current();

  // Open the source before anything of its entry is written: a file the format cannot describe
  // is refused without leaving a header behind.
  if (InFile != nullptr) {
    std::fclose(InFile);
    InFile = nullptr;
  }
  InFile = os.Open(sourcePath, "rb");
  int64_t sourceSize = -1;
  if (InFile != nullptr) {
    sourceSize = platform::StreamSize(InFile);
    if (sourceSize < 0) {
      LastError = kErrRead;
      return false;
    }
    if (sourceSize > static_cast<int64_t>(layout::kMaxFileSize)) {
      LastError = kErrTooLarge;
      return false;
    }
  }

  const int64_t headerPos = platform::Tell64(OutFile);
  if (headerPos < 0) {
    LastError = kErrDataWrite;
    return false;
  }
  const std::vector<uint8_t> blank = EntryHeader(storedName, nullptr, 0, 0, method);
  if (!WriteAll(OutFile, blank.data(), blank.size())) {
    LastError = kErrDataWrite;
    return false;
  }

  // A source that cannot be opened leaves its blank header behind, as the reader expects of a
  // build that stopped at that file.
  if (InFile == nullptr) {
    LastError = kErrOpen;
    return false;
  }

  platform::DosTime date;
  os.LastWriteDosTime(sourcePath, date);  // unreadable: 1 January 1980

  int64_t fileBytes = 0;
  uint64_t bytesIn = 0;
  uint64_t bytesOut = 0;
  const uint64_t totalDivisor =
      TrueTotalSize != 0 ? TrueTotalSize : static_cast<uint64_t>(static_cast<uint32_t>(TotalSize));

  auto showProgress = [&]() {
    if (!StatusWindow) return;
    const int filePercent = Percent(fileBytes, static_cast<uint64_t>(sourceSize));
    const int totalPercent = Percent(BytesDone, totalDivisor);
    StatusWindow("Datei: " + sourcePath + ", " + std::to_string(filePercent) +
                 " Prozent, Total: " + std::to_string(totalPercent) + " Prozent");
  };

  // Reads the next chunk; 0 at the end, -1 on a read error or when the file has grown beyond
  // what the format's size fields can carry.
  auto readChunk = [&]() -> int64_t {
    const size_t n = std::fread(Buffer.data(), 1, static_cast<size_t>(BufferSize), InFile);
    if (n == 0) {
      if (std::ferror(InFile)) {
        LastError = kErrRead;
        return -1;
      }
      return 0;
    }
    fileBytes += static_cast<int64_t>(n);
    BytesDone += static_cast<int64_t>(n);
    if (fileBytes > static_cast<int64_t>(layout::kMaxFileSize)) {
      LastError = kErrTooLarge;
      return -1;
    }
    return static_cast<int64_t>(n);
  };

  if (method == layout::kMethodBzip2) {
    int bzerror = BZ_OK;
    BZFILE* bz = BZ2_bzWriteOpen(&bzerror, OutFile, 9, 0, 0);
    if (bz == nullptr) {
      LastError = kErrCompress;
      return false;
    }
    if (bzerror != BZ_OK) {
      int ignored;
      BZ2_bzWriteClose(&ignored, bz, 0, nullptr, nullptr);
      LastError = kErrCompress;
      return false;
    }
    for (;;) {
      const int64_t n = readChunk();
      if (n < 0) {
        int ignored;
        BZ2_bzWriteClose(&ignored, bz, 1, nullptr, nullptr);
        return false;
      }
      if (n == 0) break;
      BZ2_bzWrite(&bzerror, bz, Buffer.data(), static_cast<int>(n));
      if (bzerror != BZ_OK) {
        int ignored;
        BZ2_bzWriteClose(&ignored, bz, 1, nullptr, nullptr);
        LastError = bzerror == BZ_IO_ERROR ? kErrDataWrite : kErrCompress;
        return false;
      }
      showProgress();
    }
    unsigned int inLo = 0, inHi = 0, outLo = 0, outHi = 0;
    BZ2_bzWriteClose64(&bzerror, bz, 0, &inLo, &inHi, &outLo, &outHi);
    if (bzerror != BZ_OK) {
      LastError = bzerror == BZ_IO_ERROR ? kErrDataWrite : kErrCompress;
      return false;
    }
    bytesIn = (static_cast<uint64_t>(inHi) << 32) | inLo;
    bytesOut = (static_cast<uint64_t>(outHi) << 32) | outLo;
  } else {
    // One complete gzip file, byte for byte what zlib's gzip-file writer produces at level 9
    // (it drives deflate with exactly these parameters), written straight into the data file.
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    if (deflateInit2(&zs, 9, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      LastError = kErrNoMemory;
      return false;
    }
    unsigned char out[kDeflateOutSize];
    bool ok = true;
    // Runs deflate over the pending input and writes everything it produces.
    auto pump = [&](int flush) -> bool {
      int ret;
      do {
        zs.next_out = out;
        zs.avail_out = sizeof out;
        ret = deflate(&zs, flush);
        if (ret == Z_STREAM_ERROR) {
          LastError = kErrCompress;
          return false;
        }
        const size_t have = sizeof out - zs.avail_out;
        if (!WriteAll(OutFile, out, have)) {
          LastError = kErrDataWrite;
          return false;
        }
        bytesOut += have;
        if (ret == Z_BUF_ERROR && have == 0 && flush == Z_FINISH) {
          LastError = kErrCompress;  // no progress possible: never loop forever
          return false;
        }
      } while (zs.avail_out == 0 || (flush == Z_FINISH && ret != Z_STREAM_END));
      return true;
    };
    for (;;) {
      const int64_t n = readChunk();
      if (n < 0) {
        ok = false;
        break;
      }
      if (n == 0) break;
      zs.next_in = Buffer.data();
      zs.avail_in = static_cast<uInt>(n);
      if (!pump(Z_NO_FLUSH)) {
        ok = false;
        break;
      }
      bytesIn += static_cast<uint64_t>(n);
      showProgress();
    }
    if (ok) {
      zs.next_in = nullptr;
      zs.avail_in = 0;
      ok = pump(Z_FINISH);
    }
    deflateEnd(&zs);
    if (!ok) return false;
  }

  if (bytesOut > layout::kMaxFileSize || bytesIn > layout::kMaxFileSize) {
    LastError = kErrTooLarge;
    return false;
  }

  std::fclose(InFile);
  InFile = nullptr;

  if (std::fflush(OutFile) != 0) {
    LastError = kErrDataWrite;
    return false;
  }
  const int64_t endPos = platform::Tell64(OutFile);
  const std::vector<uint8_t> filled = EntryHeader(storedName, &date, static_cast<uint32_t>(bytesIn),
                                                  static_cast<uint32_t>(bytesOut), method);
  if (endPos < 0 || !platform::Seek64(OutFile, headerPos, SEEK_SET) ||
      !WriteAll(OutFile, filled.data(), filled.size()) ||
      !platform::Seek64(OutFile, endPos, SEEK_SET)) {
    LastError = kErrDataWrite;
    return false;
  }
  return true;
}
