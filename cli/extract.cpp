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
#include "archive/file_byte_source.h"
#include "archive/stored_name.h"
#include "cli/commands.h"
#include "cli/console_text.h"
#include "platform/platform.h"

namespace {

void Error(std::FILE* err, const std::string& text) { console::Message(err, text); }

using Path = platform::TargetTree::Path;

// What this run created, so that a failed run can take it back: files newest first, then
// directories deepest first (only when empty). Files that existed before were replaced only by
// complete ones and stay.
class CreatedItems {
 public:
  explicit CreatedItems(platform::TargetTree& tree) : tree_(tree) {}
  void File(const Path& path) { files_.push_back(path); }
  void Directory(const Path& path) { dirs_.push_back(path); }
  void RemoveAll() {
    for (auto it = files_.rbegin(); it != files_.rend(); ++it) tree_.Remove(*it);
    for (auto it = dirs_.rbegin(); it != dirs_.rend(); ++it) tree_.RemoveDirectory(*it);
    files_.clear();
    dirs_.clear();
  }

 private:
  platform::TargetTree& tree_;
  std::vector<Path> files_;
  std::vector<Path> dirs_;
};

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};

}  // namespace

int ExtractArchive(const std::string& sfxPath, const std::string& targetDir, std::FILE* out,
                   std::FILE* err, bool quiet) {
  platform::Os& os = platform::Current();
  const char sep = os.Separator();

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
  bool rootCreated = false;
  if (!os.IsDirectory(root)) {
    if (!os.MakeDirectory(root)) {
      Error(err, "Kann das Verzeichnis " + console::Shown(root) + " nicht anlegen!");
      return kExitFailed;
    }
    rootCreated = true;
  }
  // Everything below the root is reached through the tree, which never follows a link.
  std::unique_ptr<platform::TargetTree> tree = os.OpenTree(root);
  if (!tree) {
    Error(err, "Kann das Verzeichnis " + console::Shown(root) +
                   " nicht \xF6"
                   "ffnen!");
    if (rootCreated) os.RemoveDirectory(root);
    return kExitFailed;
  }
  CreatedItems created(*tree);
  // Every failure below takes back what this run created.
  const auto failed = [&]() {
    created.RemoveAll();
    if (rootCreated) os.RemoveDirectory(root);
    return kExitFailed;
  };

  std::set<Path> checkedDirs;  // directories below root known to be real directories
  size_t done = 0;
  for (size_t i = 0; i < info.entries.size(); ++i) {
    const ArchiveEntry& entry = info.entries[i];
    Path folder;
    for (size_t k = 0; k + 1 < parts[i].size(); ++k) {
      folder.push_back(parts[i][k]);
      if (checkedDirs.count(folder)) continue;
      const platform::TreeEntry found = tree->Kind(folder);
      if (found == platform::TreeEntry::None) {
        if (!tree->MakeDirectory(folder)) {
          Error(err, "Kann das Verzeichnis " + console::Shown(tree->Display(folder)) +
                         " nicht anlegen!");
          return failed();
        }
        created.Directory(folder);
      } else if (found != platform::TreeEntry::Directory) {
        Error(err, console::Shown(tree->Display(folder)) +
                       " ist kein Verzeichnis (oder ein Verweis); es wird nicht benutzt.");
        return failed();
      }
      checkedDirs.insert(folder);
    }
    Path target = folder;
    target.push_back(parts[i].back());
    const std::string shownTarget = console::Shown(tree->Display(target));

    // An existing file is replaced only by a whole new one, and never a read-only one: the
    // extractor on Windows refuses it as well.
    const platform::TreeEntry existing = tree->Kind(target);
    if (existing == platform::TreeEntry::ReadOnlyFile) {
      Error(err, "Die vorhandene Datei " + shownTarget +
                     " ist schreibgesch\xFCtzt und kann nicht ersetzt werden.");
      Error(err, "Das Entpacken wurde abgebrochen; die angelegten Dateien wurden wieder entfernt.");
      return failed();
    }
    std::string temp;
    std::FILE* f = tree->CreateTemp(folder, "tbx", temp);
    if (!f) {
      Error(err, "Kann im Verzeichnis " + console::Shown(tree->Display(folder)) +
                     " keine Datei anlegen!");
      return failed();
    }
    Path tempPath = folder;
    tempPath.push_back(temp);
    const ByteSink sink = [f](const uint8_t* data, size_t n) {
      return std::fwrite(data, 1, n, f) == n;
    };
    DecodeStatus decoded = DecodeEntry(src, entry, sink);
    if (std::fclose(f) != 0 && decoded == DecodeStatus::Ok) decoded = DecodeStatus::SinkFailed;
    if (decoded != DecodeStatus::Ok) {
      tree->Remove(tempPath);
      const char* what = decoded == DecodeStatus::Damaged ? "die Daten im Archiv sind besch\xE4"
                                                            "digt"
                         : decoded == DecodeStatus::IoError
                             ? "das Archiv kann nicht gelesen werden"
                             : "die Datei kann nicht geschrieben werden";
      Error(err, "Fehler beim Entpacken von " + console::Shown(entry.name) + ": " + what + ".");
      Error(err, "Das Entpacken wurde abgebrochen; die angelegten Dateien wurden wieder entfernt.");
      return failed();
    }
    if (!tree->Replace(folder, temp, target.back())) {
      tree->Remove(tempPath);
      Error(err, "Kann die Datei " + shownTarget + " nicht anlegen!");
      return failed();
    }
    if (existing == platform::TreeEntry::None) created.File(target);
    if (!tree->SetLastWriteDosTime(target, entry.time)) {
      Error(err, "Hinweis: Das Datum von " + shownTarget + " konnte nicht gesetzt werden.");
    }
    if (!quiet) console::Write(out, shownTarget + "\n");
    ++done;
  }
  if (!quiet) {
    console::Write(out,
                   std::to_string(done) + " Dateien entpackt nach " + console::Shown(root) + "\n");
  }
  return kExitOk;
}
