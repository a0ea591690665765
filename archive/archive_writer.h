// Assembles a self-extracting program file in the layout of archive_layout.h: the stub's bytes
// unchanged, the settings block, the compressed part (the data file the compressor wrote) and the
// u32 offset of the settings block. Failures are a status, never a message; the front end's build
// driver turns them into its texts.
#pragma once

#include <cstdio>
#include <functional>

#include "settings/install_inf.h"

enum class ArchiveWriteStatus {
  Ok,
  StubFailed,  // no stub or program stream, a stub too long for the 32-bit offset, or a failed
               // copy of it; nothing after the stub was written
  PartFailed,  // the compressed part could not be opened or copied whole; the stub and the
               // settings block are written, the offset is not
  Incomplete,  // everything was copied, but the settings block, the offset or the flush failed:
               // the file is not whole
};

// Opens the compressed part for reading at its start; nullptr when it cannot be opened. The
// caller keeps the stream and closes it.
using PartOpener = std::function<std::FILE*()>;

// Writes the program file to program from its current position: copies stub (open at its start)
// whole, trims the record's texts (settings keeps them trimmed) and writes its settings
// block, opens the compressed part only then and copies it whole, writes the offset of the
// settings block and flushes. A record that does not fit the block's counts gets no block, and
// the file is Incomplete. Closes nothing.
ArchiveWriteStatus WriteArchive(std::FILE* program, std::FILE* stub, TInstallInf& settings,
                                const PartOpener& openPart);
