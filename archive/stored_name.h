// Stored names: how the builder names an entry, which names an extractor may create, and where
// each entry of an archive lands below a target (the unpack plan). The builder, tambrixc's list,
// verify and extract and the extractor stub all judge names here, so they cannot disagree: an
// archive the builder writes is one every extractor unpacks, and one an extractor refuses is
// refused by all of them.
//
// Names are code page 1252 bytes. Names compare as Windows compares file names: equal after
// platform::FoldCase1252.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct ArchiveInfo;

// How the builder names the files of a tree.
enum class NameRule {
  // The dialog's rule: fullPath cut to begin at its second separator ('\\' or sep), or at its
  // only one. Where that cut would fall below sourceDir (a drive root or "/" as the source), the
  // whole relative path below sourceDir is kept instead, so no two files collide.
  Dialog,
  // Every file as its path relative to sourceDir, however the source was typed.
  BelowSource,
};

// The stored name of fullPath (the scanner's Name) for the source directory sourceDir, by rule,
// with backslashes as separators and one leading backslash.
std::string StoredNameOf(const std::string& fullPath, const std::string& sourceDir, char sep,
                         NameRule rule = NameRule::Dialog);

// True when the part of fullPath that StoredNameOf keeps holds a backslash inside a name (POSIX
// names may): the stored name would turn it into a folder boundary, or into "..".
bool HasBackslashInName(const std::string& fullPath, const std::string& sourceDir, char sep,
                        NameRule rule = NameRule::Dialog);

// True when one path element may be created on Windows: 1 to 255 bytes (one character each),
// no character below 0x20, no DEL, none of the five bytes the code page leaves undefined
// (Windows maps them to control characters), none of < > : " / \ | ? *, no trailing dot or
// blank (so not "." or ".."), and no device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, CLOCK$,
// COM0-9, LPT0-9 and COM/LPT with a superscript 1, 2 or 3), whatever extension follows and with
// blanks before it ignored.
bool IsCreatableElement(const std::string& element);

// True when a stored name is safe to create below a target: exactly one leading backslash, at
// most 259 bytes, and every element between backslashes creatable. On true, parts receives the
// elements (without the leading backslash).
bool IsSafeStoredName(const std::string& name, std::vector<std::string>* parts = nullptr);

// The path an entry gets below the target (backslashes, no leading one): the stored path, or
// with flat unpacking (keepFolders false) its last element. "" when the name is not safe.
std::string UnpackPath(const std::string& stored, bool keepFolders);

// Why the plan refuses an archive.
enum class NameConflict {
  Unsafe,        // entry's name cannot be created (see IsSafeStoredName)
  SameFile,      // entry and other would land on the same file
  FileIsFolder,  // entry's file would stand where other needs a folder
};

struct PlanProblem {
  NameConflict kind;
  size_t entry;  // index of the refused entry
  size_t other;  // the entry it collides with; equals entry for Unsafe
};

// Plans count entries, whose stored names nameAt(i) returns, for unpacking below one target.
// Returns every problem (unsafe names in entry order, then collisions in name order); empty when
// every entry can be written. Any problem refuses the whole archive. For SameFile, other < entry.
std::vector<PlanProblem> PlanUnpack(size_t count,
                                    const std::function<const std::string&(size_t)>& nameAt,
                                    bool keepFolders);
std::vector<PlanProblem> PlanUnpack(const std::vector<std::string>& storedNames, bool keepFolders);

// The verdict every reader gives an archive it has read: true when an extractor unpacks it (the
// settings name the method of the data, every planned entry is there and the plan holds). On
// false, why says why in German.
bool IsUnpackable(const ArchiveInfo& info, std::string* why = nullptr);
// The German reason for one plan problem, naming the stored name(s).
std::string DescribeProblem(const PlanProblem& p,
                            const std::function<const std::string&(size_t)>& nameAt);
