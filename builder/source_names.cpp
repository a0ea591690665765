#include "builder/source_names.h"

#include "archive/archive_layout.h"
#include "archive/stored_name.h"
#include "platform/name_case.h"

const char* const kMsgNamesRefused =
    "Das Archiv wurde nicht erstellt: Das Entpackprogramm k\xF6nnte diese Namen unter Windows "
    "nicht anlegen.";

namespace {

constexpr size_t kMaxLines = 10;

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// A file of a pair, quoted; a name spelt on disk in code page 1252 bytes is told from its UTF-8
// twin, which the message shows alike.
std::string QuotedOfPair(const TFileInfo& file) {
  return Quoted(file.Name) + (file.RawName ? " (auf der Platte Codepage 1252, nicht UTF-8)" : "");
}

// The first byte of name that code page 1252 leaves undefined, as "0x81"; "" when none.
std::string UndefinedByteOf(const std::string& name) {
  for (char c : name) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0x80 && b <= 0x9F && platform::CodePointOf1252(b) == b) {
      static const char kHex[] = "0123456789ABCDEF";
      return std::string("0x") + kHex[b >> 4] + kHex[b & 15];
    }
  }
  return std::string();
}

// What is wrong with one file's name on its own; "" when nothing.
std::string OwnProblem(const TFileInfo& file, const std::string& stored, bool backslash) {
  if (file.UndefinedBytes) {
    const std::string byte = UndefinedByteOf(file.Name);
    return "Der Dateiname " + Quoted(file.Name) + " ist weder UTF-8 noch Codepage 1252: " +
           (byte.empty() ? std::string("ein Byte") : "das Byte " + byte) +
           " ist in Codepage 1252 kein Zeichen.";
  }
  if (file.ForeignName) {
    return "Der Dateiname " + Quoted(file.Name) +
           " enth\xE4lt Zeichen, die es in Codepage 1252 nicht gibt.";
  }
  if (backslash) {
    return "Der Dateiname " + Quoted(file.Name) +
           " enth\xE4lt einen Backslash (\\), den Windows in Namen nicht erlaubt.";
  }
  if (stored.size() > layout::kMaxStoredName) {
    return "Der gespeicherte Name von " + Quoted(file.Name) + " ist l\xE4nger als 259 Zeichen.";
  }
  if (!IsSafeStoredName(stored)) {
    return "Der Dateiname " + Quoted(file.Name) +
           " ist unter Windows nicht zul\xE4ssig (Ger\xE4tename wie NUL, Punkt oder Leerzeichen "
           "am Ende, Steuerzeichen oder eines der Zeichen < > : \" / \\ | ? *).";
  }
  return std::string();
}

}  // namespace

bool CheckSourceNames(const std::vector<TFileInfo>& files, const std::string& sourceDir, char sep,
                      bool keepFolders, std::string& message, NameRule rule) {
  std::vector<std::string> lines;
  std::vector<std::string> stored;
  stored.reserve(files.size());
  for (const TFileInfo& file : files) {
    stored.push_back(StoredNameOf(file.Name, sourceDir, sep, rule));
    const std::string own =
        OwnProblem(file, stored.back(), HasBackslashInName(file.Name, sourceDir, sep, rule));
    if (!own.empty()) lines.push_back(own);
  }
  // The names that pass on their own must also fit together below one target.
  if (lines.empty()) {
    for (const PlanProblem& p : PlanUnpack(stored, keepFolders)) {
      const std::string a = QuotedOfPair(files[p.other]);
      const std::string b = QuotedOfPair(files[p.entry]);
      if (p.kind == NameConflict::SameFile) {
        lines.push_back("Die Dateien " + a + " und " + b +
                        (keepFolders ? " h\xE4tten unter Windows denselben Namen."
                                     : " h\xE4tten beim Entpacken ohne Verzeichnisnamen denselben "
                                       "Namen."));
      } else if (p.kind == NameConflict::FileIsFolder) {
        lines.push_back("Die Datei " + b +
                        " h\xE4tte unter Windows denselben Namen wie ein Verzeichnis von " + a +
                        ".");
      }
    }
  }
  if (lines.empty()) return true;
  message.clear();
  for (size_t i = 0; i < lines.size() && i < kMaxLines; ++i) message += lines[i] + "\n";
  if (lines.size() > kMaxLines) {
    message += "... und " + std::to_string(lines.size() - kMaxLines) + " weitere.\n";
  }
  message += kMsgNamesRefused;
  return false;
}
