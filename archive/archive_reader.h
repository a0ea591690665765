// Reads a produced archive: finds the settings offset from the end of the file (before an
// Authenticode signature, if the file was signed after building), parses the settings block, the
// archive header and every entry header. Every length and offset is checked against the file's
// size before it is used; nothing here trusts the file. Shared by tambrixc and the extractor stub.
//
// This part needs no compression library; each decoder lives in its own file (entry_decoder.h) so
// the stub links only the one it uses. Nor does it need the platform layer (of platform.h only the
// DosTime type): it reads through a ByteSource.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/byte_source.h"
#include "platform/platform.h"
#include "settings/install_inf.h"

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
