#include "settings/settings_file.h"

#include "platform/platform.h"
#include "settings/settings_block.h"
#include "support/file_access.h"
#include "support/tus_strings.h"
#include "support/util_var_man.h"

namespace {

// True when the stream holds at least one more byte; a field wholly beyond the end of the file
// is then not read and keeps its value.
bool MoreToRead(std::FILE* f) {
  const int c = std::fgetc(f);
  if (c == EOF) return false;
  std::ungetc(c, f);
  return true;
}

// Writes each field to a stream; false on the first short write.
struct FieldWriter {
  std::FILE* f;
  bool U8(uint8_t v) { return WriteU8(f, v); }
  bool String(const std::string& s) { return WriteString(s, f); }
  bool List(const TUSStrings& list) { return WriteStrings(list, f); }
};

// Reads each field the stream still holds. A flag beyond the end keeps its value (ReadU8 leaves
// it); a string or list beyond the end is not touched, and one cut by the end keeps the bytes or
// strings that were there.
struct TolerantFieldReader {
  std::FILE* f;
  bool U8(uint8_t& v) { return ReadU8(f, v); }
  bool String(std::string& s) { return MoreToRead(f) && ReadString(s, f); }
  bool List(TUSStrings& list) { return MoreToRead(f) && ReadStrings(list, f); }
};

}  // namespace

bool WriteInstallInf(const TInstallInf& record, std::FILE* f) {
  if (f == nullptr) return false;
  // A string or list the 16-bit counts cannot describe would be cut short silently: refuse it
  // before anything is written.
  if (!FitsSettingsBlock(record)) return false;
  if (!WriteU8(f, kSettingsBlockVersion)) return false;
  FieldWriter writer{f};
  return VisitSettingsFields(record, writer);
}

bool ReadInstallInf(TInstallInf& record, std::FILE* f) {
  if (f == nullptr) return false;
  uint8_t version = 0;
  if (!ReadU8(f, version) || version != kSettingsBlockVersion) return false;
  TolerantFieldReader reader{f};
  return VisitSettingsFields(record, reader);
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
