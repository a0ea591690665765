#include "archive/archive_writer.h"

#include <cstdint>

#include "archive/file_helpers.h"
#include "platform/platform.h"
#include "settings/settings_file.h"
#include "support/tus_strings.h"

ArchiveWriteStatus WriteArchive(std::FILE* program, std::FILE* stub, TInstallInf& settings,
                                const PartOpener& openPart) {
  if (program == nullptr || stub == nullptr) return ArchiveWriteStatus::StubFailed;
  const int64_t stubLength = platform::StreamSize(stub);
  // The settings offset is a 32-bit field: a stub that long could not be pointed past.
  if (stubLength > int64_t{0xFFFFFFFF} || !CopyHandleBytes(stub, program, stubLength)) {
    return ArchiveWriteStatus::StubFailed;
  }

  // A failed settings block or offset does not stop the copy: the file is finished as far as it
  // can be and reported as not whole.
  const int64_t offset = platform::Tell64(program);
  settings.TrimTexts();
  bool whole = offset >= 0 && WriteInstallInf(settings, program);

  std::FILE* part = openPart();
  if (part == nullptr || !CopyHandleBytes(part, program, platform::StreamSize(part))) {
    return ArchiveWriteStatus::PartFailed;
  }

  whole = WriteU32(program, static_cast<uint32_t>(offset)) && whole;
  // A program file that did not reach the disk whole is no success, whatever was added.
  whole = std::fflush(program) == 0 && whole;
  return whole ? ArchiveWriteStatus::Ok : ArchiveWriteStatus::Incomplete;
}
