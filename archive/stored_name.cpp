#include "archive/stored_name.h"

#include <algorithm>
#include <string_view>

#include "archive/archive_layout.h"
#include "archive/archive_reader.h"
#include "platform/name_case.h"

namespace {

constexpr size_t kMaxElement = 255;

bool IsSeparator(char c, char sep) { return c == '\\' || c == sep; }

// Where StoredNameOf cuts fullPath; npos when it has no separator at all.
std::string::size_type StoredNameCut(const std::string& fullPath, const std::string& sourceDir,
                                     char sep, NameRule rule) {
  if (rule == NameRule::BelowSource) {
    // The scanner names each file as the source directory less one trailing separator, a
    // separator and the relative path: cut at that joining separator.
    std::string base = sourceDir;
    if (!base.empty() && base.back() == sep) base.pop_back();
    const std::string::size_type join = base.size();
    if (fullPath.size() > join + 1 && fullPath.compare(0, join, base) == 0 &&
        fullPath[join] == sep) {
      return join;
    }
    // Not a path below sourceDir: named as the dialog names it.
  }
  // Cut at the second separator, or at the only one.
  std::string::size_type first = std::string::npos;
  std::string::size_type second = std::string::npos;
  for (std::string::size_type i = 0; i < fullPath.size(); ++i) {
    if (!IsSeparator(fullPath[i], sep)) continue;
    if (first == std::string::npos) {
      first = i;
    } else {
      second = i;
      break;
    }
  }
  if (first == std::string::npos) return std::string::npos;
  std::string::size_type cut = second != std::string::npos ? second : first;

  // The scanner names each file as the source directory less one trailing separator, a
  // separator and the relative path. A cut beyond that joining separator would drop directory
  // levels of the relative path (a drive root or "/" as the source), and files of different
  // subdirectories would collide: keep the whole relative path there.
  std::string base = sourceDir;
  if (!base.empty() && IsSeparator(base.back(), sep)) base.pop_back();
  const std::string::size_type join = base.size();
  if (cut > join && fullPath.size() > join && fullPath.compare(0, join, base) == 0 &&
      IsSeparator(fullPath[join], sep)) {
    cut = join;
  }
  return cut;
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows opens a device, not a file, for these base names with any extension; blanks before
// the extension are ignored. COM and LPT also take the superscript digits 1, 2 and 3.
bool IsDeviceName(const std::string& element) {
  std::string base = element.substr(0, element.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& ch : base) ch = AsciiUpper(ch);
  static const char* const kPlain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
  for (const char* d : kPlain) {
    if (base == d) return true;
  }
  if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
    const unsigned char digit = static_cast<unsigned char>(base[3]);
    if ((digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3) {
      return true;
    }
  }
  return false;
}

bool IsForbiddenByte(unsigned char ch) {
  switch (ch) {
    case 0x7F:
    case 0x81:  // the undefined bytes become the C1 controls U+0081 ... on Windows
    case 0x8D:
    case 0x8F:
    case 0x90:
    case 0x9D:
    case ':':
    case '/':
    case '\\':
    case '<':
    case '>':
    case '"':
    case '|':
    case '?':
    case '*':
      return true;
    default:
      return ch < 0x20;
  }
}

void AppendFolded(std::string& out, std::string_view s) {
  for (char c : s) out += static_cast<char>(platform::FoldCase1252(static_cast<unsigned char>(c)));
}

// The part of a safe stored name that lands below the target: all of it less the leading
// backslash, or with flat unpacking its last element.
std::string_view PathBelowTarget(const std::string& stored, bool keepFolders) {
  const std::string_view name(stored);
  return keepFolders ? name.substr(1) : name.substr(name.rfind('\\') + 1);
}

const char kWhyUnsafe[] = "Unsicherer Dateiname im Archiv: ";
const char kWhySameFile[] = "Zwei Eintr\xE4ge ergeben beim Entpacken dieselbe Datei: ";
const char kWhyFileIsFolder[] = "Ein Name im Archiv ist zugleich Datei und Verzeichnis: ";
const char kWhyIncomplete[] =
    "Das Archiv ist unvollst\xE4ndig: Es fehlen Eintr\xE4ge, die der Archivkopf ank\xFCndigt.";

}  // namespace

std::string StoredNameOf(const std::string& fullPath, const std::string& sourceDir, char sep,
                         NameRule rule) {
  const std::string::size_type cut = StoredNameCut(fullPath, sourceDir, sep, rule);
  if (cut == std::string::npos) return std::string();
  std::string name = fullPath.substr(cut);
  for (char& c : name) {
    if (c == sep) c = '\\';
  }
  return name;
}

bool HasBackslashInName(const std::string& fullPath, const std::string& sourceDir, char sep,
                        NameRule rule) {
  if (sep == '\\') return false;  // there a backslash only ever separates
  const std::string::size_type cut = StoredNameCut(fullPath, sourceDir, sep, rule);
  return cut != std::string::npos && fullPath.find('\\', cut + 1) != std::string::npos;
}

bool IsCreatableElement(const std::string& element) {
  // Windows takes at most 255 characters per element; each byte of the code page is one.
  if (element.size() > kMaxElement) return false;
  if (element.empty() || element.back() == '.' || element.back() == ' ') return false;
  for (char ch : element) {
    if (IsForbiddenByte(static_cast<unsigned char>(ch))) return false;
  }
  return !IsDeviceName(element);
}

bool IsSafeStoredName(const std::string& name, std::vector<std::string>* parts) {
  if (name.size() < 2 || name.size() > layout::kMaxStoredName) return false;
  // Exactly one leading backslash: two would be a UNC path, none a name of another form.
  if (name[0] != '\\' || name[1] == '\\') return false;
  std::vector<std::string> elements;
  size_t start = 1;
  for (;;) {
    const size_t stop = name.find('\\', start);
    std::string element =
        name.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
    if (!IsCreatableElement(element)) return false;
    if (parts) elements.push_back(std::move(element));
    if (stop == std::string::npos) break;
    start = stop + 1;
  }
  if (parts) parts->swap(elements);
  return true;
}

std::string UnpackPath(const std::string& stored, bool keepFolders) {
  if (!IsSafeStoredName(stored)) return std::string();
  return std::string(PathBelowTarget(stored, keepFolders));
}

std::vector<PlanProblem> PlanUnpack(size_t count,
                                    const std::function<const std::string&(size_t)>& nameAt,
                                    bool keepFolders) {
  std::vector<PlanProblem> problems;
  // The comparison keys live in one pool: thousands of short-lived strings would leave the
  // extractor's heap fragmented for the decoders that come next.
  struct Key {
    size_t offset;
    size_t length;
    size_t entry;
    bool folder;
  };
  std::string pool;
  std::vector<Key> keys;
  keys.reserve(count * 2);
  auto addKey = [&](std::string_view path, size_t entry, bool folder) {
    keys.push_back({pool.size(), path.size(), entry, folder});
    AppendFolded(pool, path);
  };
  for (size_t i = 0; i < count; ++i) {
    const std::string& stored = nameAt(i);
    if (!IsSafeStoredName(stored)) {
      problems.push_back({NameConflict::Unsafe, i, i});
      continue;
    }
    const std::string_view rel = PathBelowTarget(stored, keepFolders);
    for (size_t cut = rel.find('\\'); keepFolders && cut != std::string_view::npos;
         cut = rel.find('\\', cut + 1)) {
      addKey(rel.substr(0, cut), i, true);
    }
    addKey(rel, i, false);
  }
  if (!problems.empty()) return problems;

  auto view = [&pool](const Key& k) { return std::string_view(pool).substr(k.offset, k.length); };
  std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
    const int c = view(a).compare(view(b));
    if (c != 0) return c < 0;
    if (a.folder != b.folder) return !a.folder;  // files first within a group
    return a.entry < b.entry;
  });
  // Folders may be shared; a file may share its name with nothing.
  for (size_t g = 0; g < keys.size();) {
    size_t end = g + 1;
    while (end < keys.size() && view(keys[end]) == view(keys[g])) ++end;
    if (!keys[g].folder) {
      size_t k = g + 1;
      for (; k < end && !keys[k].folder; ++k)
        problems.push_back({NameConflict::SameFile, keys[k].entry, keys[g].entry});
      if (k < end) problems.push_back({NameConflict::FileIsFolder, keys[g].entry, keys[k].entry});
    }
    g = end;
  }
  return problems;
}

std::vector<PlanProblem> PlanUnpack(const std::vector<std::string>& storedNames, bool keepFolders) {
  return PlanUnpack(
      storedNames.size(), [&](size_t i) -> const std::string& { return storedNames[i]; },
      keepFolders);
}

std::string DescribeProblem(const PlanProblem& p,
                            const std::function<const std::string&(size_t)>& nameAt) {
  switch (p.kind) {
    case NameConflict::Unsafe:
      return kWhyUnsafe + nameAt(p.entry);
    case NameConflict::SameFile:
      return kWhySameFile + nameAt(p.other) + " und " + nameAt(p.entry);
    case NameConflict::FileIsFolder:
      return kWhyFileIsFolder + nameAt(p.entry) + " (Verzeichnis f\xFCr " + nameAt(p.other) + ")";
  }
  return std::string();
}

bool IsUnpackable(const ArchiveInfo& info, std::string* why) {
  // The builder put the stub of the settings' method in front: data of the other method is
  // refused by it.
  if (!MethodsAgree(info, why)) return false;
  if (info.hasCompressedPart && info.entries.size() != info.fileCount) {
    if (why) *why = kWhyIncomplete;
    return false;
  }
  const auto nameAt = [&info](size_t i) -> const std::string& { return info.entries[i].name; };
  const std::vector<PlanProblem> problems =
      PlanUnpack(info.entries.size(), nameAt, info.settings.StoreDirNames != 0);
  if (problems.empty()) return true;
  if (why) *why = DescribeProblem(problems.front(), nameAt);
  return false;
}
