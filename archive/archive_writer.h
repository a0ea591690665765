// Assembles a self-extracting program file in the layout of archive_layout.h: the stub's bytes
// unchanged, the settings block, the compressed part (the data file the compressor wrote) and the
// u32 offset of the settings block. Failures are a status, never a message; the front end's build
// driver turns them into its texts. A failed write stops at once: the caller removes the file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "settings/install_inf.h"

enum class ArchiveWriteStatus {
  Ok,
  StubFailed,        // the stub could not be read whole, or is too long for the 32-bit offset
  PartFailed,        // the compressed part could not be opened or read whole
  WriteFailed,       // a write to the program file failed (a full disk), or there is no stream
  SettingsTooLarge,  // the record does not fit the settings block's counts; nothing was written
};

// Opens the compressed part for reading at its start; nullptr when it cannot be opened. The
// caller keeps the stream and closes it.
using PartOpener = std::function<std::FILE*()>;

// Writes the program file to program from its current position: copies stub (open at its start)
// whole, trims the record's texts (settings keeps them trimmed) and writes the settings block,
// opens the compressed part only then and copies it whole, writes the offset of the settings
// block and flushes. Closes nothing.
ArchiveWriteStatus WriteArchive(std::FILE* program, std::FILE* stub, TInstallInf& settings,
                                const PartOpener& openPart);
// The same with the stub given as bytes: a stub whose resources the builder rewrote.
ArchiveWriteStatus WriteArchive(std::FILE* program, const std::vector<uint8_t>& stub,
                                TInstallInf& settings, const PartOpener& openPart);
