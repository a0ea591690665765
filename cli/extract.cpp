// Unpacking an archive below a target directory. Nothing is trusted: every name must pass the
// name rules, no directory on the way may be a link, and a file appears under its own name only
// once it has decoded completely.
#include <map>
#include <memory>
#include <set>

#include "archive/archive_reader.h"
#include "archive/entry_decoder.h"
#include "cli/commands.h"
#include "cli/console_text.h"
#include "platform/platform.h"

namespace {

void Error(std::FILE* err, const std::string& text) { console::Write(err, text + "\n"); }

// Case folding as Windows file names compare (ASCII and the accented letters of code page 1252).
std::string Folded(const std::string& s) {
  std::string out = s;
  for (char& ch : out) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
      ch = static_cast<char>(c + 0x20);
    }
  }
  return out;
}

// Where names can collide on this file system: on Windows regardless of case.
std::string CollisionKey(const std::string& name, bool caseInsensitive) {
  return caseInsensitive ? Folded(name) : name;
}

// Checks what lies at dir/name: 0 nothing, 1 a real directory, 2 something else (a file, a link
// to a directory, a device).
int Probe(platform::Os& os, const std::string& dir, const std::string& name, bool caseInsensitive) {
  std::vector<platform::DirEntry> found;
  if (!os.ListDirectory(dir, name, found)) return 2;
  for (const platform::DirEntry& e : found) {
    const bool same = caseInsensitive ? Folded(e.name) == Folded(name) : e.name == name;
    if (!same) continue;
    if (e.special || (e.attributes & platform::kAttrReparsePoint) ||
        !(e.attributes & platform::kAttrDirectory)) {
      return 2;
    }
    return 1;
  }
  return 0;
}

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
  if (info.entries.size() != info.fileCount && info.hasCompressedPart) {
    Error(err, "Das Archiv ist unvollst\xE4ndig: " + std::to_string(info.entries.size()) + " von " +
                   std::to_string(info.fileCount) + " Dateien vorhanden. Es wird nichts entpackt.");
    return kExitFailed;
  }

  // Every name is checked before anything is written: one bad name refuses the whole archive.
  std::vector<std::vector<std::string>> parts(info.entries.size());
  std::set<std::string> files;
  std::set<std::string> dirs;
  bool refused = false;
  for (size_t i = 0; i < info.entries.size(); ++i) {
    const std::string& name = info.entries[i].name;
    if (!IsSafeStoredName(name, &parts[i])) {
      Error(err, "Unsicherer Dateiname im Archiv: " + name);
      refused = true;
      continue;
    }
    std::string prefix;
    for (size_t k = 0; k + 1 < parts[i].size(); ++k) {
      prefix += "\\" + parts[i][k];
      dirs.insert(CollisionKey(prefix, caseInsensitive));
    }
    if (!files.insert(CollisionKey(name, caseInsensitive)).second) {
      Error(err, "Der Dateiname kommt im Archiv mehrfach vor: " + name);
      refused = true;
    }
  }
  for (const std::string& f : files) {
    if (dirs.count(f)) {
      Error(err, "Ein Name im Archiv ist zugleich Datei und Verzeichnis: " + f);
      refused = true;
    }
  }
  if (refused) {
    Error(err, "Das Archiv wird nicht entpackt.");
    return kExitFailed;
  }

  std::string root = targetDir;
  while (root.size() > 1 && (root.back() == sep || root.back() == '/')) root.pop_back();
  if (root.empty()) root = ".";
  if (!os.IsDirectory(root) && !os.MakeDirectory(root)) {
    Error(err, "Kann das Verzeichnis " + root + " nicht anlegen!");
    return kExitFailed;
  }

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
          return kExitFailed;
        }
        if (found == 0 && !os.MakeDirectory(next)) {
          Error(err, "Kann das Verzeichnis " + next + " nicht anlegen!");
          return kExitFailed;
        }
        checkedDirs.insert(next);
      }
      dir = next;
    }
    const std::string target = dir + sep + parts[i].back();

    std::string temp;
    if (!os.CreateUniqueTempFile(dir, "tbx", temp)) {
      Error(err, "Kann im Verzeichnis " + dir + " keine Datei anlegen!");
      return kExitFailed;
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
      Error(err, std::to_string(done) + " von " + std::to_string(info.entries.size()) +
                     " Dateien wurden entpackt.");
      return kExitFailed;
    }
    if (!os.Replace(temp, target)) {
      os.Remove(temp);
      Error(err, "Kann die Datei " + target + " nicht anlegen!");
      return kExitFailed;
    }
    if (!os.SetLastWriteDosTime(target, entry.time)) {
      Error(err, "Hinweis: Das Datum von " + target + " konnte nicht gesetzt werden.");
    }
    console::Write(out, target + "\n");
    ++done;
  }
  console::Write(out, std::to_string(done) + " Dateien entpackt nach " + root + "\n");
  return kExitOk;
}
