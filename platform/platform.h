// The operating-system services the core needs, behind one small interface.
//
// The core (support/, settings/, archive/) never includes <windows.h>; it calls platform::Current().
// platform/win32/ implements this with the real Win32 APIs, platform/posix/ with the nearest POSIX
// equivalents. Tests install their own Os (usually wrapping the real one) with SetForTesting to
// inject failures such as a full disk or a file that cannot be opened.
//
// Text convention: every std::string here is in code page 1252, as the rest of the program uses it.
// On Windows the layer converts to and from UTF-16 at this boundary and works on \\?\ paths, so a
// path may be longer than MAX_PATH, relative, or use '/'; paths it returns never carry the prefix.
// On POSIX, file names on disk are UTF-8; the POSIX layer converts at this boundary (names that are
// not valid UTF-8 pass through byte for byte).
//
// Error convention: functions return false, an empty string or nullptr on failure and never throw.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// File attribute bits as the file system reports them.
enum : uint32_t {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrSystem = 0x04,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
  kAttrReparsePoint = 0x400,  // junction or symbolic link: never descended
};

// One entry of a directory listing.
struct DirEntry {
  std::string name;         // bare name as the file system delivers it
  uint32_t attributes = 0;  // kAttr* bits
  uint64_t size = 0;        // true size in bytes (0 for directories)
  bool special = false;     // POSIX FIFO, socket or device: never opened, never archived
  // The file system's name has characters code page 1252 cannot write; name is then only a
  // stand-in (the POSIX bytes unchanged, or '?' for each such character on Windows) for messages.
  // A POSIX name that is not UTF-8 but whose every byte is a character of code page 1252 (a
  // Latin-1 name from an old archive or share) is that code page's name, byte for byte: it is
  // not foreign, and opening it finds the raw spelling on disk.
  bool foreignName = false;
  // With foreignName (POSIX): the name is not UTF-8 and holds a byte code page 1252 leaves
  // undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D), so neither encoding can say what it means.
  bool undefinedBytes = false;
  // POSIX: the name is not UTF-8 and was taken byte for byte as code page 1252 (a Latin-1 name).
  bool rawName = false;
};

// What makes a file the same file whatever path names it: device and inode on POSIX, volume
// serial number and file index on Windows.
struct FileId {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileId& o) const { return volume == o.volume && index == o.index; }
  bool operator!=(const FileId& o) const { return !(*this == o); }
};

// Kinds of drive, as GetDriveTypeW reports them.
enum class DriveKind { Unknown, NoRootDir, Removable, Fixed, Remote, CdRom, RamDisk };

// A last-write time in local time, split like an MS-DOS date and time.
struct DosTime {
  uint32_t seconds2 = 0;  // seconds / 2, 0-29
  uint32_t minute = 0;    // 0-59
  uint32_t hour = 0;      // 0-23
  uint32_t day = 1;       // 1-31
  uint32_t month = 1;     // 1-12
  uint32_t year1980 = 0;  // year - 1980, 0-127
};

// seconds since 1 January 1970 UTC as a DOS date and time in UTC, clamped to the years the
// format covers (1980 to 2107).
DosTime DosTimeOfUtcSeconds(int64_t seconds);

// Screen metrics of the display device.
struct ScreenInfo {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  int planes = 0;
};

// What lies at a path below a target tree.
enum class TreeEntry {
  None,          // nothing of that name
  Directory,     // a real directory, no link or junction
  File,          // a regular file
  ReadOnlyFile,  // a regular file marked read-only (on POSIX: without the owner's write bit)
  Other,         // a link, junction, device, or a folder on the way that is none of these
};

// A directory to unpack into. Paths are lists of names below the root. Every folder on the way to
// a name is entered as itself and never through a symbolic link or junction, whatever spelling
// the name has on disk: a path that meets one fails (Kind says Other). Names are code page 1252.
// Every call is one whole step and returns false (or nullptr) on failure.
class TargetTree {
 public:
  using Path = std::vector<std::string>;
  virtual ~TargetTree() = default;
  // What is at path; the last name is not followed either.
  virtual TreeEntry Kind(const Path& path) = 0;
  // Creates the directory path (its parent must exist).
  virtual bool MakeDirectory(const Path& path) = 0;
  // Creates a new file in folder named prefix, digits and ".tmp", open for writing ("wb"); its
  // name goes to name.
  virtual std::FILE* CreateTemp(const Path& folder, const std::string& prefix,
                                std::string& name) = 0;
  // Renames folder/from to folder/to, replacing a file (or a link itself) of that name.
  virtual bool Replace(const Path& folder, const std::string& from, const std::string& to) = 0;
  // Deletes the file (or link) path.
  virtual bool Remove(const Path& path) = 0;
  // Removes the empty directory path.
  virtual bool RemoveDirectory(const Path& path) = 0;
  // Sets the last-write time of the file path from a local DOS date and time.
  virtual bool SetLastWriteDosTime(const Path& path, const DosTime& time) = 0;
  // The path for messages: the root and the names joined by the separator.
  virtual std::string Display(const Path& path) const = 0;
};

class Os {
 public:
  virtual ~Os() = default;

  // The path separator: '\\' on Windows, '/' on POSIX.
  virtual char Separator() const = 0;

  // True when a file or directory of that name exists.
  virtual bool Exists(const std::string& path) = 0;
  // True when the path names a directory (links followed).
  virtual bool IsDirectory(const std::string& path) = 0;
  // Lists the entries of directory dir that match mask ("*" and "?" wildcards; "*.*" matches
  // every name, as on Windows), in file-system order, without "." and "..". False when the
  // directory cannot be searched at all.
  virtual bool ListDirectory(const std::string& dir, const std::string& mask,
                             std::vector<DirEntry>& out) = 0;

  // Opens a file like fopen (binary modes only: "rb", "wb", "r+b", "ab", and "wbx", which
  // creates a new file and fails when one of that name exists). nullptr on failure.
  virtual std::FILE* Open(const std::string& path, const char* mode) = 0;
  // Deletes a file. False when it could not be deleted.
  virtual bool Remove(const std::string& path) = 0;
  // Renames from to to, replacing an existing to (on Windows never a read-only one). False on
  // failure; then both stay as they were.
  virtual bool Replace(const std::string& from, const std::string& to) = 0;
  // The identity of the file or directory path names (links followed). False when there is
  // none to be had (no such file, no rights).
  virtual bool Identity(const std::string& path, FileId& out) = 0;
  // Creates one directory. False on failure (also when it exists).
  virtual bool MakeDirectory(const std::string& path) = 0;
  // Removes one empty directory.
  virtual bool RemoveDirectory(const std::string& path) = 0;
  // The tree below the existing directory root (which may itself be reached through a link), or
  // nullptr when root is no directory. The default checks each folder on the way through
  // ListDirectory before every step; a platform with a safer way overrides it.
  virtual std::unique_ptr<TargetTree> OpenTree(const std::string& root);

  // The temporary directory with a trailing separator (GetTempPathW), or "" (also when code page
  // 1252 cannot name it).
  virtual std::string TempDirectory() = 0;
  // Creates a new, uniquely named empty file in dir whose name starts with at most the first three
  // characters of prefix, named as GetTempFileName with number 0 names it (also in a folder deeper
  // than that function takes); dir with the name added goes to path.
  virtual bool CreateUniqueTempFile(const std::string& dir, const std::string& prefix,
                                    std::string& path) = 0;
  // The kind of drive of a root such as "C:\\" (GetDriveTypeW); Fixed for "/" on POSIX.
  virtual DriveKind DriveType(const std::string& root) = 0;
  // A name from the runtime library's temporary-name generator; the file is not created.
  virtual std::string RuntimeTempName() = 0;

  // Full path of the running program file.
  virtual std::string ProgramPath() = 0;
  // The screen's metrics; zeros when there is no display.
  virtual ScreenInfo Screen() = 0;
  // The Windows system directory and the Windows directory, or "" where there is none.
  virtual std::string SystemDirectory() = 0;
  virtual std::string WindowsDirectory() = 0;

  // A value from the user's profile (win.ini, GetProfileStringA); def when absent.
  virtual std::string UserProfileString(const std::string& section, const std::string& key,
                                        const std::string& def) = 0;
  // A value from an ini file with the rules of GetPrivateProfileStringA and a 512-byte buffer:
  // at most 511 characters. def when the file, section or key is absent.
  virtual std::string ProfileString(const std::string& section, const std::string& key,
                                    const std::string& def, const std::string& file) = 0;
  // An integer from an ini file with the rules of GetPrivateProfileIntA.
  virtual int ProfileInt(const std::string& section, const std::string& key, int def,
                         const std::string& file) = 0;
  // The names of the sections of an ini file in file order, as GetPrivateProfileSectionNamesA
  // gives them; empty when the file is absent.
  virtual std::vector<std::string> ProfileSectionNames(const std::string& file) = 0;

  // The file's last-write time in local time as DOS date and time. False when unreadable.
  virtual bool LastWriteDosTime(const std::string& path, DosTime& out) = 0;
  // The file's last-write time in whole seconds since 1 January 1970 UTC. False when unreadable.
  virtual bool LastWriteSeconds(const std::string& path, int64_t& seconds) = 0;
  // Sets a file's last-write time from a local DOS date and time.
  virtual bool SetLastWriteDosTime(const std::string& path, const DosTime& time) = 0;
};

// The Os in force: the real one unless a test installed another.
Os& Current();
// The real implementation of this platform.
Os& Real();
// Installs os for the calls that follow (tests only); nullptr restores the real one.
void SetForTesting(Os* os);

// 64-bit positioning on an open stream. Tell64 returns -1 on failure.
int64_t Tell64(std::FILE* f);
bool Seek64(std::FILE* f, int64_t offset, int whence);
// Cuts a stream open for writing back to size bytes and puts its position there.
bool Truncate64(std::FILE* f, int64_t size);
// Size of an open stream in bytes, leaving the position unchanged; -1 on failure.
int64_t StreamSize(std::FILE* f);

// An Os that forwards every call to another; tests derive from it and override what they break.
class ForwardingOs : public Os {
 public:
  explicit ForwardingOs(Os& inner) : inner_(inner) {}
  char Separator() const override { return inner_.Separator(); }
  bool Exists(const std::string& p) override { return inner_.Exists(p); }
  bool IsDirectory(const std::string& p) override { return inner_.IsDirectory(p); }
  bool ListDirectory(const std::string& d, const std::string& m,
                     std::vector<DirEntry>& o) override {
    return inner_.ListDirectory(d, m, o);
  }
  std::FILE* Open(const std::string& p, const char* m) override { return inner_.Open(p, m); }
  bool Remove(const std::string& p) override { return inner_.Remove(p); }
  bool Replace(const std::string& f, const std::string& t) override { return inner_.Replace(f, t); }
  bool Identity(const std::string& p, FileId& o) override { return inner_.Identity(p, o); }
  bool MakeDirectory(const std::string& p) override { return inner_.MakeDirectory(p); }
  bool RemoveDirectory(const std::string& p) override { return inner_.RemoveDirectory(p); }
  std::unique_ptr<TargetTree> OpenTree(const std::string& r) override { return inner_.OpenTree(r); }
  std::string TempDirectory() override { return inner_.TempDirectory(); }
  bool CreateUniqueTempFile(const std::string& d, const std::string& pre,
                            std::string& p) override {
    return inner_.CreateUniqueTempFile(d, pre, p);
  }
  DriveKind DriveType(const std::string& r) override { return inner_.DriveType(r); }
  std::string RuntimeTempName() override { return inner_.RuntimeTempName(); }
  std::string ProgramPath() override { return inner_.ProgramPath(); }
  ScreenInfo Screen() override { return inner_.Screen(); }
  std::string SystemDirectory() override { return inner_.SystemDirectory(); }
  std::string WindowsDirectory() override { return inner_.WindowsDirectory(); }
  std::string UserProfileString(const std::string& s, const std::string& k,
                                const std::string& d) override {
    return inner_.UserProfileString(s, k, d);
  }
  std::string ProfileString(const std::string& s, const std::string& k, const std::string& d,
                            const std::string& f) override {
    return inner_.ProfileString(s, k, d, f);
  }
  int ProfileInt(const std::string& s, const std::string& k, int d,
                 const std::string& f) override {
    return inner_.ProfileInt(s, k, d, f);
  }
  std::vector<std::string> ProfileSectionNames(const std::string& f) override {
    return inner_.ProfileSectionNames(f);
  }
  bool LastWriteDosTime(const std::string& p, DosTime& o) override {
    return inner_.LastWriteDosTime(p, o);
  }
  bool LastWriteSeconds(const std::string& p, int64_t& s) override {
    return inner_.LastWriteSeconds(p, s);
  }
  bool SetLastWriteDosTime(const std::string& p, const DosTime& t) override {
    return inner_.SetLastWriteDosTime(p, t);
  }

 protected:
  Os& inner_;
};

}  // namespace platform
