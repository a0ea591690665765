// Recursive directory listing: every file of a tree, depth-first and pre-order, each directory's
// own files before those of its subdirectories, each folder in the order NTFS lists it (by name,
// compared case-insensitively as Windows upper-cases), whatever the file system.
//
// Every real directory is descended, whatever other attribute bits it carries (read-only, hidden,
// system, compressed, ...). Reparse points (junctions, symbolic links to directories) are never
// descended, so a link cannot make the walk loop. A directory is never listed as a file; POSIX
// FIFOs, sockets and devices are skipped (opening one would hang a build). A symbolic link to a
// regular file is listed as that file. A directory that cannot be read is skipped and its path
// collected in Unreadable, so that the caller can say what is missing. Files whose identity is in
// Skip (the build's own output) are never listed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

// One listed file.
struct TFileInfo {
  TFileInfo(const std::string& name, uint64_t trueSize, bool foreignName = false,
            bool undefinedBytes = false, bool rawName = false)
      : Name(name),
        Size(static_cast<int32_t>(static_cast<uint32_t>(trueSize))),
        TrueSize(trueSize),
        ForeignName(foreignName),
        UndefinedBytes(undefinedBytes),
        RawName(rawName) {}
  std::string
      Name;      // full path: start path (less one trailing separator), separator, relative path
  int32_t Size;  // low 32 bits of the size, as the format's 32-bit fields carry it
  uint64_t TrueSize;  // the real size; the builder refuses files the format cannot describe
  bool ForeignName;   // the name (or a folder's on its path) has characters code page 1252 lacks
  // With ForeignName: such a name is no UTF-8 and holds bytes code page 1252 leaves undefined.
  bool UndefinedBytes;
  // The name (or a folder's) is no UTF-8 on disk but code page 1252 bytes, packed as they are.
  bool RawName;
};

class TDirList {
 public:
  // Lists startPath: resets CallCount, drops one trailing separator, walks the tree and sums
  // TotalSize. With directoriesOnly, lists directories instead of files (unused by the builder).
  void Scan(const std::string& startPath, bool directoriesOnly = false);
  // Sets TotalSize to the 32-bit (wrapping) sum of Size over the result list.
  void CalcTotalSize();
  // The result list in use: SortedFiles when Sorted, else Files.
  const std::vector<TFileInfo>& Result() const { return Sorted ? SortedFiles : Files; }

  std::vector<std::string> Masks;       // masks matched in every directory
  std::vector<TFileInfo> Files;         // result in listing order
  std::vector<TFileInfo> SortedFiles;   // result ordered by Name (byte-wise), when Sorted
  std::vector<platform::FileId> Skip;   // files never listed, whatever path leads to them
  std::vector<std::string> Unreadable;  // directories that could not be listed, in walk order
  size_t SkippedFiles = 0;              // files left out because their identity is in Skip
  int32_t CallCount = 0;                // directory-listing calls since Scan began
  int32_t TotalSize = 0;                // wrapping 32-bit sum of Size
  uint64_t TrueTotalSize = 0;           // exact sum of TrueSize, for 64-bit percentages
  bool Sorted = false;
  bool Recursive = false;

 private:
  // What the names on a path (a folder's and its parents') hold that code page 1252 cannot write.
  struct NameFlags {
    bool foreign = false;
    bool undefined = false;
    bool raw = false;
    NameFlags With(const platform::DirEntry& e) const {
      return {foreign || e.foreignName, undefined || e.undefinedBytes, raw || e.rawName};
    }
  };
  void ScanDirectory(std::string& path, bool directoriesOnly, NameFlags pathFlags);
  void ListOne(const std::string& dir, const std::string& mask, bool directoriesOnly,
               NameFlags pathFlags);
  void AddEntry(const std::string& name, uint64_t size, NameFlags flags);
  bool Skipped(const std::string& name);
  void NoteUnreadable(const std::string& dir);
};
