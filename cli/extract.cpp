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

const char kAbortedRemoved[] =
    "Das Entpacken wurde abgebrochen; die angelegten Dateien wurden wieder entfernt.";

// One run of extract: the archive read and checked, the plan of names, the target tree, and what
// the run created there. Every step returns false after its messages on err; the caller then
// calls RollBack.
class Extraction {
 public:
  Extraction(platform::Os& os, std::FILE* out, std::FILE* err, bool quiet)
      : os_(os), out_(out), err_(err), quiet_(quiet) {}

  bool ReadChecked(ByteSource& src, const std::string& sfxPath);
  bool PlanNames();
  bool OpenRoot(const std::string& targetDir);
  bool UnpackEntry(ByteSource& src, size_t i);
  // Takes back what this run created, the root too when the run made it; kExitFailed.
  int RollBack();

  size_t EntryCount() const { return info_.entries.size(); }
  const std::string& Root() const { return root_; }

 private:
  bool MakeFolders(const std::vector<std::string>& parts, Path& folder);
  bool DecodeToTemp(ByteSource& src, const ArchiveEntry& entry, const Path& folder,
                    std::string& temp);

  platform::Os& os_;
  std::FILE* out_;
  std::FILE* err_;
  bool quiet_;
  ArchiveInfo info_;
  std::vector<std::vector<std::string>> parts_;  // each entry's path below the root, in parts
  std::string root_;
  bool rootCreated_ = false;
  std::unique_ptr<platform::TargetTree> tree_;
  std::unique_ptr<CreatedItems> created_;
  std::set<Path> checkedDirs_;  // directories below root known to be real directories
};

// Reads the archive's structure and refuses one whose data do not fit the stub it names or
// whose files are not all there.
bool Extraction::ReadChecked(ByteSource& src, const std::string& sfxPath) {
  std::string why;
  const ReadStatus status = ReadArchive(src, info_, &why);
  if (status != ReadStatus::Ok) {
    Error(err_, "Die Datei " + sfxPath + " kann nicht entpackt werden: " + why);
    return false;
  }
  if (!MethodsAgree(info_, &why)) {
    Error(err_, why + " Es wird nichts entpackt.");
    return false;
  }
  if (info_.entries.size() != info_.fileCount && info_.hasCompressedPart) {
    Error(err_, "Das Archiv ist unvollst\xE4ndig: " + std::to_string(info_.entries.size()) +
                    " von " + std::to_string(info_.fileCount) +
                    " Dateien vorhanden. Es wird nichts entpackt.");
    return false;
  }
  return true;
}

// Every name is checked before anything is written: one bad name refuses the whole archive.
// Then each entry's path is split into its parts (only the file name when the archive is flat).
bool Extraction::PlanNames() {
  const bool keepFolders = info_.settings.StoreDirNames != 0;
  const auto nameAt = [this](size_t i) -> const std::string& { return info_.entries[i].name; };
  const std::vector<PlanProblem> problems = PlanUnpack(info_.entries.size(), nameAt, keepFolders);
  if (!problems.empty()) {
    for (const PlanProblem& p : problems) Error(err_, DescribeProblem(p, nameAt));
    Error(err_, "Das Archiv wird nicht entpackt.");
    return false;
  }
  parts_.resize(info_.entries.size());
  for (size_t i = 0; i < info_.entries.size(); ++i) {
    IsSafeStoredName(info_.entries[i].name, &parts_[i]);
    if (!keepFolders) parts_[i].erase(parts_[i].begin(), parts_[i].end() - 1);
  }
  return true;
}

// Makes the target directory when it is not there and opens it as the tree everything below it
// is reached through, which never follows a link.
bool Extraction::OpenRoot(const std::string& targetDir) {
  const char sep = os_.Separator();
  root_ = targetDir;
  while (root_.size() > 1 && (root_.back() == sep || root_.back() == '/')) root_.pop_back();
  if (root_.empty()) root_ = ".";
  if (!os_.IsDirectory(root_)) {
    if (!os_.MakeDirectory(root_)) {
      Error(err_, "Kann das Verzeichnis " + console::Shown(root_) + " nicht anlegen!");
      return false;
    }
    rootCreated_ = true;
  }
  tree_ = os_.OpenTree(root_);
  if (!tree_) {
    Error(err_, "Kann das Verzeichnis " + console::Shown(root_) +
                    " nicht \xF6"
                    "ffnen!");
    return false;
  }
  created_.reset(new CreatedItems(*tree_));
  return true;
}

int Extraction::RollBack() {
  if (created_) created_->RemoveAll();
  if (rootCreated_) os_.RemoveDirectory(root_);
  return kExitFailed;
}

// Walks down to the folder of a file (parts without the file's name), making each directory that
// is not there; one that is a file or a link stops the run.
bool Extraction::MakeFolders(const std::vector<std::string>& parts, Path& folder) {
  for (size_t k = 0; k + 1 < parts.size(); ++k) {
    folder.push_back(parts[k]);
    if (checkedDirs_.count(folder)) continue;
    const platform::TreeEntry found = tree_->Kind(folder);
    if (found == platform::TreeEntry::None) {
      if (!tree_->MakeDirectory(folder)) {
        Error(err_,
              "Kann das Verzeichnis " + console::Shown(tree_->Display(folder)) + " nicht anlegen!");
        return false;
      }
      created_->Directory(folder);
    } else if (found != platform::TreeEntry::Directory) {
      Error(err_, console::Shown(tree_->Display(folder)) +
                      " ist kein Verzeichnis (oder ein Verweis); es wird nicht benutzt.");
      return false;
    }
    checkedDirs_.insert(folder);
  }
  return true;
}

// Decodes entry into a new temporary file in folder, whose name comes back in temp. On failure
// the temporary file is gone again.
bool Extraction::DecodeToTemp(ByteSource& src, const ArchiveEntry& entry, const Path& folder,
                              std::string& temp) {
  std::FILE* f = tree_->CreateTemp(folder, "tbx", temp);
  if (!f) {
    Error(err_, "Kann im Verzeichnis " + console::Shown(tree_->Display(folder)) +
                    " keine Datei anlegen!");
    return false;
  }
  const ByteSink sink = [f](const uint8_t* data, size_t n) {
    return std::fwrite(data, 1, n, f) == n;
  };
  DecodeStatus decoded = DecodeEntry(src, entry, sink);
  if (std::fclose(f) != 0 && decoded == DecodeStatus::Ok) decoded = DecodeStatus::SinkFailed;
  if (decoded == DecodeStatus::Ok) return true;
  Path tempPath = folder;
  tempPath.push_back(temp);
  tree_->Remove(tempPath);
  const char* what = decoded == DecodeStatus::Damaged   ? "die Daten im Archiv sind besch\xE4"
                                                          "digt"
                     : decoded == DecodeStatus::IoError ? "das Archiv kann nicht gelesen werden"
                                                        : "die Datei kann nicht geschrieben werden";
  Error(err_, "Fehler beim Entpacken von " + console::Shown(entry.name) + ": " + what + ".");
  Error(err_, kAbortedRemoved);
  return false;
}

// Writes entry i in its place: its folders first, then the file decoded under a temporary name
// and renamed over its own, then its date.
bool Extraction::UnpackEntry(ByteSource& src, size_t i) {
  const ArchiveEntry& entry = info_.entries[i];
  Path folder;
  if (!MakeFolders(parts_[i], folder)) return false;
  Path target = folder;
  target.push_back(parts_[i].back());
  const std::string shownTarget = console::Shown(tree_->Display(target));

  // An existing file is replaced only by a whole new one, and never a read-only one: the
  // extractor on Windows refuses it as well.
  const platform::TreeEntry existing = tree_->Kind(target);
  if (existing == platform::TreeEntry::ReadOnlyFile) {
    Error(err_, "Die vorhandene Datei " + shownTarget +
                    " ist schreibgesch\xFCtzt und kann nicht ersetzt werden.");
    Error(err_, kAbortedRemoved);
    return false;
  }
  std::string temp;
  if (!DecodeToTemp(src, entry, folder, temp)) return false;
  if (!tree_->Replace(folder, temp, target.back())) {
    Path tempPath = folder;
    tempPath.push_back(temp);
    tree_->Remove(tempPath);
    Error(err_, "Kann die Datei " + shownTarget + " nicht anlegen!");
    return false;
  }
  if (existing == platform::TreeEntry::None) created_->File(target);
  if (!tree_->SetLastWriteDosTime(target, entry.time)) {
    Error(err_, "Hinweis: Das Datum von " + shownTarget + " konnte nicht gesetzt werden.");
  }
  if (!quiet_) console::Write(out_, shownTarget + "\n");
  return true;
}

}  // namespace

int ExtractArchive(const std::string& sfxPath, const std::string& targetDir, std::FILE* out,
                   std::FILE* err, bool quiet) {
  platform::Os& os = platform::Current();
  std::unique_ptr<std::FILE, FileCloser> archive(os.Open(sfxPath, "rb"));
  if (!archive) {
    Error(err, "Kann Datei " + sfxPath +
                   " nicht \xF6"
                   "ffnen!");
    return kExitFailed;
  }
  FileByteSource src(archive.get());
  Extraction run(os, out, err, quiet);
  if (!run.ReadChecked(src, sfxPath) || !run.PlanNames()) return kExitFailed;
  // From here every failure takes back what this run created.
  if (!run.OpenRoot(targetDir)) return run.RollBack();
  size_t done = 0;
  for (size_t i = 0; i < run.EntryCount(); ++i) {
    if (!run.UnpackEntry(src, i)) return run.RollBack();
    ++done;
  }
  if (!quiet) {
    console::Write(
        out, std::to_string(done) + " Dateien entpackt nach " + console::Shown(run.Root()) + "\n");
  }
  return kExitOk;
}
