// Unpacking an archive below a target directory, by the same plan as the extractor stub: every
// name must pass the shared name rules and the whole plan must hold before anything is written,
// flat when the archive says so; no directory on the way may be a link; a file appears under its
// own name only once it has decoded completely; and a run that fails removes again every file and
// directory it created.
#include <memory>
#include <set>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/entry_decoder.h"
#include "archive/stored_name.h"
#include "archive/file_byte_source.h"
#include "cli/commands.h"
#include "cli/console_text.h"
#include "platform/name_case.h"
#include "platform/platform.h"

namespace {

void Error(std::FILE* err, const std::string& text) { console::Write(err, text + "\n"); }

bool SameName(const std::string& a, const std::string& b, bool caseInsensitive) {
  if (!caseInsensitive) return a == b;
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (platform::FoldCase1252(static_cast<unsigned char>(a[i])) !=
        platform::FoldCase1252(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// Checks what lies at dir/name: 0 nothing, 1 a real directory, 2 something else (a file, a link
// to a directory, a device).
int Probe(platform::Os& os, const std::string& dir, const std::string& name, bool caseInsensitive) {
  std::vector<platform::DirEntry> found;
  if (!os.ListDirectory(dir, name, found)) return 2;
  for (const platform::DirEntry& e : found) {
    if (!SameName(e.name, name, caseInsensitive)) continue;
    if (e.special || (e.attributes & platform::kAttrReparsePoint) ||
        !(e.attributes & platform::kAttrDirectory)) {
      return 2;
    }
    return 1;
  }
  return 0;
}

// What this run created, so that a failed run can take it back: files newest first, then
// directories deepest first (only when empty). Files that existed before were replaced only by
// complete ones and stay.
class CreatedItems {
 public:
  explicit CreatedItems(platform::Os& os) : os_(os) {}
  void File(const std::string& path) { files_.push_back(path); }
  void Directory(const std::string& path) { dirs_.push_back(path); }
  void RemoveAll() {
    for (auto it = files_.rbegin(); it != files_.rend(); ++it) os_.Remove(*it);
    for (auto it = dirs_.rbegin(); it != dirs_.rend(); ++it) os_.RemoveDirectory(*it);
    files_.clear();
    dirs_.clear();
  }

 private:
  platform::Os& os_;
  std::vector<std::string> files_;
  std::vector<std::string> dirs_;
};

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};

}  // namespace

int ExtractArchive(const std::string& sfxPath, const std::string& targetDir, std::FILE* out,
                   std::FILE* err) {
  platform::Os& os = platform::Current();
  const char sep = os.Separator();
  const bool caseInsensitive = sep == '\\';

  std::unique_ptr<std::FILE, FileCloser> archive(os.Open(sfxPath, "rb"));
  if (!archive) {
    Error(err, "Kann Datei " + sfxPath +
                   " nicht \xF6"
                   "ffnen!");
    return kExitFailed;
  }
  FileByteSource src(archive.get());
  ArchiveInfo info;
  std::string why;
  const ReadStatus status = ReadArchive(src, info, &why);
  if (status != ReadStatus::Ok) {
    Error(err, "Die Datei " + sfxPath + " kann nicht entpackt werden: " + why);
    return kExitFailed;
  }
  if (!MethodsAgree(info, &why)) {
    Error(err, why + " Es wird nichts entpackt.");
    return kExitFailed;
  }
  if (info.entries.size() != info.fileCount && info.hasCompressedPart) {
    Error(err, "Das Archiv ist unvollst\xE4ndig: " + std::to_string(info.entries.size()) + " von " +
                   std::to_string(info.fileCount) + " Dateien vorhanden. Es wird nichts entpackt.");
    return kExitFailed;
  }

  // Every name is checked before anything is written: one bad name refuses the whole archive.
  const bool keepFolders = info.settings.StoreDirNames != 0;
  const auto nameAt = [&info](size_t i) -> const std::string& { return info.entries[i].name; };
  const std::vector<PlanProblem> problems = PlanUnpack(info.entries.size(), nameAt, keepFolders);
  if (!problems.empty()) {
    for (const PlanProblem& p : problems) Error(err, DescribeProblem(p, nameAt));
    Error(err, "Das Archiv wird nicht entpackt.");
    return kExitFailed;
  }
  std::vector<std::vector<std::string>> parts(info.entries.size());
  for (size_t i = 0; i < info.entries.size(); ++i) {
    IsSafeStoredName(info.entries[i].name, &parts[i]);
    if (!keepFolders) parts[i].erase(parts[i].begin(), parts[i].end() - 1);
  }

  std::string root = targetDir;
  while (root.size() > 1 && (root.back() == sep || root.back() == '/')) root.pop_back();
  if (root.empty()) root = ".";
  CreatedItems created(os);
  if (!os.IsDirectory(root)) {
    if (!os.MakeDirectory(root)) {
      Error(err, "Kann das Verzeichnis " + root + " nicht anlegen!");
      return kExitFailed;
    }
    created.Directory(root);
  }
  // Every failure below takes back what this run created.
  const auto failed = [&created]() {
    created.RemoveAll();
    return kExitFailed;
  };

  std::set<std::string> checkedDirs;  // directories below root known to be real directories
  size_t done = 0;
  for (size_t i = 0; i < info.entries.size(); ++i) {
    const ArchiveEntry& entry = info.entries[i];
    std::string dir = root;
    for (size_t k = 0; k + 1 < parts[i].size(); ++k) {
      const std::string next = dir + sep + parts[i][k];
      if (!checkedDirs.count(next)) {
        const int found = Probe(os, dir, parts[i][k], caseInsensitive);
        if (found == 2) {
          Error(err, next + " ist kein Verzeichnis (oder ein Verweis); es wird nicht benutzt.");
          return failed();
        }
        if (found == 0) {
          if (!os.MakeDirectory(next)) {
            Error(err, "Kann das Verzeichnis " + next + " nicht anlegen!");
            return failed();
          }
          created.Directory(next);
        }
        checkedDirs.insert(next);
      }
      dir = next;
    }
    const std::string target = dir + sep + parts[i].back();

    std::string temp;
    if (!os.CreateUniqueTempFile(dir, "tbx", temp)) {
      Error(err, "Kann im Verzeichnis " + dir + " keine Datei anlegen!");
      return failed();
    }
    std::FILE* f = os.Open(temp, "wb");
    DecodeStatus decoded = DecodeStatus::SinkFailed;
    if (f) {
      const ByteSink sink = [f](const uint8_t* data, size_t n) {
        return std::fwrite(data, 1, n, f) == n;
      };
      decoded = DecodeEntry(src, entry, sink);
      if (std::fclose(f) != 0 && decoded == DecodeStatus::Ok) decoded = DecodeStatus::SinkFailed;
    }
    if (decoded != DecodeStatus::Ok) {
      os.Remove(temp);
      const char* what = decoded == DecodeStatus::Damaged ? "die Daten im Archiv sind besch\xE4"
                                                            "digt"
                         : decoded == DecodeStatus::IoError
                             ? "das Archiv kann nicht gelesen werden"
                             : "die Datei kann nicht geschrieben werden";
      Error(err, "Fehler beim Entpacken von " + entry.name + ": " + what + ".");
      Error(err, "Das Entpacken wurde abgebrochen; die angelegten Dateien wurden wieder entfernt.");
      return failed();
    }
    const bool existed = os.Exists(target);
    if (!os.Replace(temp, target)) {
      os.Remove(temp);
      Error(err, "Kann die Datei " + target + " nicht anlegen!");
      return failed();
    }
    if (!existed) created.File(target);
    if (!os.SetLastWriteDosTime(target, entry.time)) {
      Error(err, "Hinweis: Das Datum von " + target + " konnte nicht gesetzt werden.");
    }
    console::Write(out, target + "\n");
    ++done;
  }
  console::Write(out, std::to_string(done) + " Dateien entpackt nach " + root + "\n");
  return kExitOk;
}
