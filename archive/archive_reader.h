// Reads a produced archive: finds the settings offset from the end of the file (before an
// Authenticode signature, if the file was signed after building), parses the settings block, the
// archive header and every entry header. Every length and offset is checked against the file's
// size before it is used; nothing here trusts the file. Shared by tambrixc and the extractor stub.
//
// This part needs no compression library; each decoder lives in its own file (entry_decoder.h) so
// the stub links only the one it uses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings/install_inf.h"

// Random-access bytes: a file, or memory in tests.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly n bytes at offset; false when they are not all there.
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t n) = 0;
};

// A ByteSource over an open stream (not owned).
class FileByteSource : public ByteSource {
 public:
  explicit FileByteSource(std::FILE* f);
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t n) override;

 private:
  std::FILE* f_;
  uint64_t size_ = 0;
};

// A ByteSource over memory (not owned).
class MemoryByteSource : public ByteSource {
 public:
  MemoryByteSource(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t n) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

struct ArchiveEntry {
  std::string name;            // stored name as in the archive (code page 1252, backslashes)
  platform::DosTime time;      // the date block
  uint32_t size = 0;           // uncompressed size
  uint32_t compressedSize = 0; // bytes of data
  uint8_t method = 0;          // 0 bzip2, 1 gzip
  uint64_t headerOffset = 0;   // where the entry header starts in the file
  uint64_t dataOffset = 0;     // where the compressed data starts in the file
};

struct ArchiveInfo {
  uint64_t settingsOffset = 0;  // start of the settings block (= stub length)
  uint64_t payloadEnd = 0;      // offset of the 4-byte settings offset (end of compressed part)
  uint64_t signatureSize = 0;   // bytes of an appended signature and its padding, 0 if unsigned
  TInstallInf settings;
  bool hasCompressedPart = false;
  uint32_t fileCount = 0;       // planned file count from the archive header
  uint32_t totalSize = 0;       // planned total size from the archive header
  uint8_t method = 0;
  std::vector<ArchiveEntry> entries;
};

enum class ReadStatus {
  Ok,
  NotAnArchive,  // no plausible settings offset or settings block
  Damaged,       // a length, offset, name or method that the file cannot hold
  IoError,       // the file could not be read
};

// Parses the whole archive structure (not the compressed data). On anything but Ok, why says what
// was wrong in German, for messages.
ReadStatus ReadArchive(ByteSource& src, ArchiveInfo& info, std::string* why = nullptr);

// The end of the appended payload: the file size, or the start of an Authenticode certificate
// table (less the signer's zero padding to 8 bytes) when the PE security directory names one that
// ends at the end of the file.
uint64_t PayloadEnd(ByteSource& src, uint64_t* signatureSize = nullptr);

// The name rules for unpacking: true when stored name is safe to create below a target: no ".."
// element, no absolute, drive or UNC path, no ':' (streams), no device names (CON, PRN, AUX, NUL,
// COM1-9, LPT1-9, with or without extension), no element ending in '.' or ' ', no control
// characters, no empty element in the middle, at most 259 bytes. On true, parts holds the path
// elements (without the leading backslash).
bool IsSafeStoredName(const std::string& name, std::vector<std::string>* parts = nullptr);
