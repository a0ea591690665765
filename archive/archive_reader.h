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
  int stubMethod = -1;          // the method the stub in front names by its mark; -1: none
};

enum class ReadStatus {
  Ok,
  NotAnArchive,  // no plausible settings offset or settings block
  Incomplete,    // an archive's settings follow the program, but the file ends too early (a
                 // download or copy cut short)
  Damaged,       // a length, offset, name or method that the file cannot hold
  IoError,       // the file could not be read
};

// Parses the whole archive structure (not the compressed data). On anything but Ok, why says what
// was wrong in German, for messages.
ReadStatus ReadArchive(ByteSource& src, ArchiveInfo& info, std::string* why = nullptr);

// The sum of the sizes of the entries read, in 64 bits: the header's totalSize holds it modulo
// 2^32 only (and counts entries an incomplete archive lacks).
uint64_t EntriesTotal(const ArchiveInfo& info);

// The method the settings say the archive was built with: MaxCompression not 0 is bzip2 (and
// tambrix.res1 in front), 0 is gzip (tambrix.res2), as the builder chooses.
uint8_t SettingsMethod(const TInstallInf& settings);
// The name of a method for messages: "bzip2" or "gzip".
const char* MethodName(uint8_t method);
// True when the archive is one for the stub of method: its settings name that method and its
// compressed part, if there is one, uses it. On false, why says in German what the settings and
// the data name.
bool ArchiveUsesMethod(const ArchiveInfo& info, uint8_t method, std::string* why = nullptr);
// True when the compressed part, if there is one, and the stub in front, if it names its method,
// use the method the settings name (the builder chooses the stub by it). On false, why says in
// German what each names.
bool MethodsAgree(const ArchiveInfo& info, std::string* why = nullptr);
