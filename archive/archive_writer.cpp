#include "archive/archive_writer.h"

#include <cstdint>
#include <functional>

#include "platform/platform.h"
#include "settings/settings_block.h"
#include "settings/settings_file.h"
#include "support/file_access.h"
#include "support/tus_strings.h"

namespace {

// The status of a failed copy: whose side failed.
ArchiveWriteStatus CopyFailure(bool writeFailed, ArchiveWriteStatus readFailure) {
  return writeFailed ? ArchiveWriteStatus::WriteFailed : readFailure;
}

// Writes the program file around a stub that writeStub puts first.
ArchiveWriteStatus WriteAround(std::FILE* program, TInstallInf& settings,
                               const std::function<ArchiveWriteStatus()>& writeStub,
                               const PartOpener& openPart) {
  if (program == nullptr) return ArchiveWriteStatus::WriteFailed;
  {
    TInstallInf trimmed = settings;
    trimmed.TrimTexts();
    if (!FitsSettingsBlock(trimmed)) return ArchiveWriteStatus::SettingsTooLarge;
  }
  const ArchiveWriteStatus stubStatus = writeStub();
  if (stubStatus != ArchiveWriteStatus::Ok) return stubStatus;

  settings.TrimTexts();
  const int64_t offset = platform::Tell64(program);
  if (offset < 0 || !WriteInstallInf(settings, program)) return ArchiveWriteStatus::WriteFailed;

  std::FILE* part = openPart();
  const int64_t partLength = part != nullptr ? platform::StreamSize(part) : -1;
  if (partLength < 0) return ArchiveWriteStatus::PartFailed;
  bool writeFailed = false;
  if (!CopyHandleBytes(part, program, partLength, &writeFailed)) {
    return CopyFailure(writeFailed, ArchiveWriteStatus::PartFailed);
  }

  // A program file that did not reach the disk whole is no success, whatever was added.
  if (!WriteU32(program, static_cast<uint32_t>(offset)) || std::fflush(program) != 0) {
    return ArchiveWriteStatus::WriteFailed;
  }
  return ArchiveWriteStatus::Ok;
}

}  // namespace

ArchiveWriteStatus WriteArchive(std::FILE* program, std::FILE* stub, TInstallInf& settings,
                                const PartOpener& openPart) {
  if (program != nullptr && stub == nullptr) return ArchiveWriteStatus::StubFailed;
  return WriteAround(
      program, settings,
      [program, stub]() {
        const int64_t stubLength = platform::StreamSize(stub);
        // The settings offset is a 32-bit field: a stub that long could not be pointed past.
        if (stubLength < 0 || stubLength > int64_t{0xFFFFFFFF})
          return ArchiveWriteStatus::StubFailed;
        bool writeFailed = false;
        if (!CopyHandleBytes(stub, program, stubLength, &writeFailed)) {
          return CopyFailure(writeFailed, ArchiveWriteStatus::StubFailed);
        }
        return ArchiveWriteStatus::Ok;
      },
      openPart);
}

ArchiveWriteStatus WriteArchive(std::FILE* program, const std::vector<uint8_t>& stub,
                                TInstallInf& settings, const PartOpener& openPart) {
  return WriteAround(
      program, settings,
      [program, &stub]() {
        if (stub.empty() || stub.size() > 0xFFFFFFFFu) return ArchiveWriteStatus::StubFailed;
        return std::fwrite(stub.data(), 1, stub.size(), program) == stub.size()
                   ? ArchiveWriteStatus::Ok
                   : ArchiveWriteStatus::WriteFailed;
      },
      openPart);
}
