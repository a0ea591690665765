#include "settings/settings_file.h"

#include <array>

#include "platform/platform.h"
#include "support/file_access.h"
#include "support/tus_strings.h"
#include "support/util_var_man.h"

namespace {

constexpr uint8_t kVersion = 1;
constexpr size_t kMaxEncodedLength = 0xFFFF;

// The eight strings that come before Terminates, in their serialised order.
std::array<const std::string*, 8> StringsBeforeTerminates(const TInstallInf& r) {
  return {&r.TargetDir, &r.SfxName,    &r.Command,        &r.SecondCommand,
          &r.IconFile,  &r.DialogText, &r.InfoTextBefore, &r.InfoTextAfter};
}

bool FitsEncoding(const TInstallInf& r) {
  for (const std::string& s : r.SourcePaths.Strings) {
    if (s.size() > kMaxEncodedLength) return false;
  }
  if (r.SourcePaths.Count() > kMaxEncodedStrings) return false;
  for (const std::string* s : StringsBeforeTerminates(r)) {
    if (s->size() > kMaxEncodedLength) return false;
  }
  return r.DialogTitle.size() <= kMaxEncodedLength;
}

// True when the stream holds at least one more byte; a field wholly beyond the end of the file
// is then not read and keeps its value.
bool MoreToRead(std::FILE* f) {
  const int c = std::fgetc(f);
  if (c == EOF) return false;
  std::ungetc(c, f);
  return true;
}

}  // namespace

bool WriteInstallInf(const TInstallInf& record, std::FILE* f) {
  if (f == nullptr) return false;
  // A string or list the 16-bit counts cannot describe would be cut short silently: refuse it
  // before anything is written.
  if (!FitsEncoding(record)) return false;
  bool ok = WriteU8(f, kVersion);
  ok = ok && WriteStrings(record.SourcePaths, f);
  ok = ok && WriteU8(f, record.StoreDirNames);
  ok = ok && WriteU8(f, record.MaxCompression);
  for (const std::string* s : StringsBeforeTerminates(record)) ok = ok && WriteString(*s, f);
  ok = ok && WriteU8(f, record.Terminates);
  ok = ok && WriteString(record.DialogTitle, f);
  ok = ok && WriteU8(f, record.TargetEditable);
  ok = ok && WriteU8(f, record.CleanUp);
  return ok;
}

bool ReadInstallInf(TInstallInf& record, std::FILE* f) {
  if (f == nullptr) return false;
  uint8_t version = 0;
  if (!ReadU8(f, version) || version != kVersion) return false;
  // Each field is read while the file still holds it; a field beyond the end keeps its value.
  if (!MoreToRead(f) || !ReadStrings(record.SourcePaths, f)) return false;
  if (!ReadU8(f, record.StoreDirNames)) return false;
  if (!ReadU8(f, record.MaxCompression)) return false;
  std::string* strings[8] = {&record.TargetDir,      &record.SfxName,      &record.Command,
                             &record.SecondCommand,  &record.IconFile,     &record.DialogText,
                             &record.InfoTextBefore, &record.InfoTextAfter};
  for (std::string* s : strings) {
    // A string cut by the end of the file keeps the bytes that were there.
    if (!MoreToRead(f) || !ReadString(*s, f)) return false;
  }
  if (!ReadU8(f, record.Terminates)) return false;
  if (!MoreToRead(f) || !ReadString(record.DialogTitle, f)) return false;
  if (!ReadU8(f, record.TargetEditable)) return false;
  if (!ReadU8(f, record.CleanUp)) return false;
  return true;
}

std::string SettingsFilePath() { return TUtilVarMan().ProgramDir + "tambrix.dat"; }

bool LoadSettingsFile(TInstallInf& record, const std::string& path) {
  const std::string file = path.empty() ? SettingsFilePath() : path;
  if (!FileExists(file)) return false;
  std::FILE* f = platform::Current().Open(file, "rb");
  if (f == nullptr) return false;  // read as an empty file: the defaults stay
  const bool ok = ReadInstallInf(record, f);
  std::fclose(f);
  return ok;
}

bool SaveSettingsFile(TInstallInf& record, const std::string& path) {
  platform::Os& os = platform::Current();
  const std::string file = path.empty() ? SettingsFilePath() : path;
  record.TrimTexts();

  // Write everything beside the target first; the old file is replaced only by a whole new one.
  const std::string temp = file + ".tmp";
  if (FileExists(temp)) os.Remove(temp);
  std::FILE* f = os.Open(temp, "wb");
  if (f == nullptr) return false;
  bool ok = WriteInstallInf(record, f);
  ok = std::fflush(f) == 0 && ok;
  ok = !std::ferror(f) && ok;
  ok = std::fclose(f) == 0 && ok;
  if (ok) ok = os.Replace(temp, file);
  if (!ok) os.Remove(temp);
  return ok;
}
