// Unpacking an archive below a target directory, by the same plan as the extractor stub: every
// name must pass the shared name rules and the whole plan must hold before anything is written,
// flat when the archive says so; no directory on the way may be a link; a file appears under its
// own name only once it has decoded completely; and a run that fails removes again every file and
// directory it created and puts back every file it replaced.
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
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

// What this run changed below the root, so that a failed run can take it back: the files it
// created, the files it replaced (each moved aside under a backup name in its own folder), and
// the directories it made. The roll-back touches nothing else.
class RunChanges {
 public:
  explicit RunChanges(platform::TargetTree& tree) : tree_(tree) {}
  void File(const Path& path) { files_.push_back(path); }
  void Directory(const Path& path) { dirs_.push_back(path); }
  // The file folder/name now holds new content; its old file is folder/backup.
  void Replaced(const Path& folder, const std::string& name, const std::string& backup) {
    replaced_.push_back({folder, name, backup});
  }
  bool AnyReplaced() const { return !replaced_.empty(); }

  // Puts the target back as the run found it: each replaced file gets its old file back (content
  // and times, by a rename), new files go newest first, then new directories deepest first (only
  // when empty). Returns the messages for old files that could not be put back, each naming the
  // backup that still holds it.
  std::vector<std::string> RollBack() {
    std::vector<std::string> lost;
    for (auto it = replaced_.rbegin(); it != replaced_.rend(); ++it) {
      if (tree_.Replace(it->folder, it->backup, it->name)) continue;
      lost.push_back("Die Datei " + Shown(it->folder, it->name) +
                     " konnte nicht wiederhergestellt werden; ihr alter Inhalt liegt in " +
                     Shown(it->folder, it->backup) + ".");
    }
    for (auto it = files_.rbegin(); it != files_.rend(); ++it) tree_.Remove(*it);
    for (auto it = dirs_.rbegin(); it != dirs_.rend(); ++it) tree_.RemoveDirectory(*it);
    replaced_.clear();
    files_.clear();
    dirs_.clear();
    return lost;
  }

  // Once every file is in place the backups go. Returns the backups that could not be deleted.
  std::vector<std::string> Commit() {
    std::vector<std::string> left;
    for (const Backup& b : replaced_) {
      Path path = b.folder;
      path.push_back(b.backup);
      if (!tree_.Remove(path)) left.push_back(console::Shown(tree_.Display(path)));
    }
    replaced_.clear();
    return left;
  }

 private:
  struct Backup {
    Path folder;
    std::string name;
    std::string backup;
  };
  std::string Shown(Path path, const std::string& name) const {
    path.push_back(name);
    return console::Shown(tree_.Display(path));
  }

  platform::TargetTree& tree_;
  std::vector<Path> files_;
  std::vector<Path> dirs_;
  std::vector<Backup> replaced_;
};

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};

const char kAbortedRemoved[] =
    "Das Entpacken wurde abgebrochen; die angelegten Dateien wurden wieder entfernt.";
const char kAbortedRestored[] =
    "Das Entpacken wurde abgebrochen; die angelegten Dateien wurden wieder entfernt, ersetzte "
    "Dateien haben wieder ihren alten Inhalt.";

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
  // One entry in three steps: its folders made and a temporary file opened (f), its data decoded
  // into f, which is closed (Decode, on any thread), and the file put in its place. Begin and
  // Finish run in the archive's order on one thread; after a failed Begin, f is null.
  struct Pending {
    Path folder;
    Path target;
    std::string temp;
    std::FILE* f = nullptr;
    platform::TreeEntry existing = platform::TreeEntry::None;
    DecodeStatus decoded = DecodeStatus::Ok;
  };
  bool Begin(size_t i, Pending& p);
  static void Decode(ByteSource& src, const ArchiveEntry& entry, Pending& p);
  bool Finish(size_t i, Pending& p);
  // Removes the temporary file of an entry that began but will not be put in place.
  void Drop(Pending& p);
  const ArchiveEntry& Entry(size_t i) const { return info_.entries[i]; }
  // Takes back what this run created or replaced, the root too when the run made it, and says
  // so; kExitFailed.
  int RollBack();
  // Deletes the backups of replaced files once every entry is in place.
  void Commit();

  size_t EntryCount() const { return info_.entries.size(); }
  const std::string& Root() const { return root_; }

 private:
  bool MakeFolders(const std::vector<std::string>& parts, Path& folder);
  bool PutInPlace(const Path& folder, const std::string& temp, const std::string& name,
                  bool moveAside);

  platform::Os& os_;
  std::FILE* out_;
  std::FILE* err_;
  bool quiet_;
  ArchiveInfo info_;
  std::vector<std::vector<std::string>> parts_;  // each entry's path below the root, in parts
  std::string root_;
  bool rootCreated_ = false;
  std::unique_ptr<platform::TargetTree> tree_;
  std::unique_ptr<RunChanges> changes_;
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
  changes_.reset(new RunChanges(*tree_));
  return true;
}

int Extraction::RollBack() {
  if (changes_) {
    const bool replaced = changes_->AnyReplaced();
    const std::vector<std::string> lost = changes_->RollBack();
    for (const std::string& line : lost) Error(err_, line);
    Error(err_, replaced && lost.empty() ? kAbortedRestored : kAbortedRemoved);
  }
  if (rootCreated_) os_.RemoveDirectory(root_);
  return kExitFailed;
}

void Extraction::Commit() {
  for (const std::string& left : changes_->Commit()) {
    Error(err_, "Hinweis: Die Sicherungskopie " + left + " konnte nicht gel\xF6scht werden.");
  }
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
      changes_->Directory(folder);
    } else if (found != platform::TreeEntry::Directory) {
      Error(err_, console::Shown(tree_->Display(folder)) +
                      " ist kein Verzeichnis (oder ein Verweis); es wird nicht benutzt.");
      return false;
    }
    checkedDirs_.insert(folder);
  }
  return true;
}

void Extraction::Decode(ByteSource& src, const ArchiveEntry& entry, Pending& p) {
  std::FILE* f = p.f;
  const ByteSink sink = [f](const uint8_t* data, size_t n) {
    return std::fwrite(data, 1, n, f) == n;
  };
  p.decoded = DecodeEntry(src, entry, sink);
  if (std::fclose(f) != 0 && p.decoded == DecodeStatus::Ok) p.decoded = DecodeStatus::SinkFailed;
  p.f = nullptr;
}

void Extraction::Drop(Pending& p) {
  if (p.f) std::fclose(p.f);
  p.f = nullptr;
  if (p.temp.empty()) return;
  Path tempPath = p.folder;
  tempPath.push_back(p.temp);
  tree_->Remove(tempPath);
  p.temp.clear();
}

// Renames folder/temp to folder/name. With moveAside, what stands at name is first renamed to a
// backup of its own (a new empty file made for it, so nothing else is ever overwritten) and noted
// for the roll-back. On failure the temporary file is gone and the old file is where it was.
bool Extraction::PutInPlace(const Path& folder, const std::string& temp, const std::string& name,
                            bool moveAside) {
  Path tempPath = folder;
  tempPath.push_back(temp);
  std::string backup;
  if (moveAside) {
    std::FILE* placeholder = tree_->CreateTemp(folder, "tbx", backup);
    if (placeholder) std::fclose(placeholder);
    if (!placeholder || !tree_->Replace(folder, name, backup)) {
      if (placeholder) {
        Path backupPath = folder;
        backupPath.push_back(backup);
        tree_->Remove(backupPath);
      }
      tree_->Remove(tempPath);
      return false;
    }
  }
  if (!tree_->Replace(folder, temp, name)) {
    tree_->Remove(tempPath);
    // Should the old file not go back at once, the roll-back tries again and names its backup.
    if (moveAside && !tree_->Replace(folder, backup, name))
      changes_->Replaced(folder, name, backup);
    return false;
  }
  if (moveAside) changes_->Replaced(folder, name, backup);
  return true;
}

// The first step of entry i: its folders, a look at what stands at its name (an existing file is
// replaced only by a whole new one, and never a read-only one: the extractor on Windows refuses
// it as well), and a new temporary file beside it.
bool Extraction::Begin(size_t i, Pending& p) {
  p = Pending();
  if (!MakeFolders(parts_[i], p.folder)) return false;
  p.target = p.folder;
  p.target.push_back(parts_[i].back());
  p.existing = tree_->Kind(p.target);
  if (p.existing == platform::TreeEntry::ReadOnlyFile) {
    Error(err_, "Die vorhandene Datei " + console::Shown(tree_->Display(p.target)) +
                    " ist schreibgesch\xFCtzt und kann nicht ersetzt werden.");
    return false;
  }
  p.f = tree_->CreateTemp(p.folder, "tbx", p.temp);
  if (!p.f) {
    p.temp.clear();
    Error(err_, "Kann im Verzeichnis " + console::Shown(tree_->Display(p.folder)) +
                    " keine Datei anlegen!");
    return false;
  }
  return true;
}

// The last step of entry i, once decoded: the file renamed over its own name, then its date.
bool Extraction::Finish(size_t i, Pending& p) {
  const ArchiveEntry& entry = info_.entries[i];
  if (p.decoded != DecodeStatus::Ok) {
    Drop(p);
    const char* what = p.decoded == DecodeStatus::Damaged ? "die Daten im Archiv sind besch\xE4"
                                                            "digt"
                       : p.decoded == DecodeStatus::IoError
                           ? "das Archiv kann nicht gelesen werden"
                           : "die Datei kann nicht geschrieben werden";
    Error(err_, "Fehler beim Entpacken von " + console::Shown(entry.name) + ": " + what + ".");
    return false;
  }
  const std::string shownTarget = console::Shown(tree_->Display(p.target));
  const bool moveAside =
      p.existing != platform::TreeEntry::None && p.existing != platform::TreeEntry::Directory;
  if (!PutInPlace(p.folder, p.temp, p.target.back(), moveAside)) {
    Error(err_, "Kann die Datei " + shownTarget + " nicht anlegen!");
    return false;
  }
  p.temp.clear();
  if (p.existing == platform::TreeEntry::None) changes_->File(p.target);
  if (!tree_->SetLastWriteDosTime(p.target, entry.time)) {
    Error(err_, "Hinweis: Das Datum von " + shownTarget + " konnte nicht gesetzt werden.");
  }
  if (!quiet_) console::Write(out_, shownTarget + "\n");
  return true;
}

// Decodes the entries handed to it on threads of their own, each reading the archive through a
// file of its own, so that decoding and writing run on every core while the steps around them
// stay on the calling thread, in the archive's order.
class DecodePool {
 public:
  DecodePool(platform::Os& os, const std::string& sfxPath, const std::vector<ArchiveEntry>& entries,
             int threads)
      : entries_(entries) {
    for (int t = 0; t < threads; ++t)
      workers_.emplace_back([this, &os, sfxPath] { Serve(os.Open(sfxPath, "rb")); });
  }
  ~DecodePool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    work_.notify_all();
    for (std::thread& t : workers_) t.join();
  }
  void Hand(size_t entry, Extraction::Pending* p) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.emplace_back(entry, p);
      finished_.erase(p);
    }
    work_.notify_one();
  }
  void Wait(Extraction::Pending* p) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this, p] { return finished_.count(p) != 0; });
  }

 private:
  void Serve(std::FILE* archive) {
    std::unique_ptr<FileByteSource> src(archive ? new FileByteSource(archive) : nullptr);
    for (;;) {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) break;
      const std::pair<size_t, Extraction::Pending*> job = queue_.front();
      queue_.pop_front();
      lock.unlock();
      if (src) {
        Extraction::Decode(*src, entries_[job.first], *job.second);
      } else {
        std::fclose(job.second->f);
        job.second->f = nullptr;
        job.second->decoded = DecodeStatus::IoError;
      }
      lock.lock();
      finished_.insert(job.second);
      lock.unlock();
      done_.notify_all();
    }
    if (archive) std::fclose(archive);
  }

  const std::vector<ArchiveEntry>& entries_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable work_, done_;
  std::deque<std::pair<size_t, Extraction::Pending*>> queue_;
  std::set<Extraction::Pending*> finished_;
  bool stopping_ = false;
};

// Every entry on jobs threads: at most two per thread on their way at once. The entries before
// the first failure are finished as on one thread, those after it that began are dropped. False
// after a failure.
bool UnpackOnThreads(platform::Os& os, const std::string& sfxPath, Extraction& run, int jobs) {
  std::vector<ArchiveEntry> entries;
  for (size_t i = 0; i < run.EntryCount(); ++i) entries.push_back(run.Entry(i));
  std::vector<Extraction::Pending> ring(2 * static_cast<size_t>(jobs));
  DecodePool pool(os, sfxPath, entries, jobs);
  size_t handed = 0, taken = 0;
  size_t failedAt = entries.size();  // the first entry that failed
  while (taken < entries.size()) {
    while (failedAt == entries.size() && handed < entries.size() &&
           handed - taken < ring.size()) {
      if (!run.Begin(handed, ring[handed % ring.size()])) {
        failedAt = handed;
        break;
      }
      pool.Hand(handed, &ring[handed % ring.size()]);
      ++handed;
    }
    if (taken == handed) break;
    Extraction::Pending& p = ring[taken % ring.size()];
    pool.Wait(&p);
    if (taken > failedAt)
      run.Drop(p);
    else if (!run.Finish(taken, p))
      failedAt = taken;
    ++taken;
  }
  return failedAt == entries.size();
}

}  // namespace

int ExtractArchive(const std::string& sfxPath, const std::string& targetDir, std::FILE* out,
                   std::FILE* err, bool quiet, int jobs) {
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
  const size_t done = run.EntryCount();
  if (jobs > 1) {
    if (!UnpackOnThreads(os, sfxPath, run, jobs)) return run.RollBack();
  } else {
    Extraction::Pending p;
    for (size_t i = 0; i < done; ++i) {
      if (!run.Begin(i, p)) return run.RollBack();
      Extraction::Decode(src, run.Entry(i), p);
      if (!run.Finish(i, p)) return run.RollBack();
    }
  }
  run.Commit();
  if (!quiet) {
    console::Write(
        out, std::to_string(done) + " Dateien entpackt nach " + console::Shown(run.Root()) + "\n");
  }
  return kExitOk;
}
