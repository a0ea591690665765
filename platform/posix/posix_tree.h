// The target tree on POSIX: folders are entered with openat and O_NOFOLLOW from a descriptor of
// the root, so no symbolic link below the root is ever followed, whatever spelling a name has.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace posix {

// The tree below the directory at osRoot (the file system's spelling); display is the root as
// the program spells it, for messages. nullptr when osRoot is no directory.
std::unique_ptr<TargetTree> OpenPosixTree(const std::string& osRoot, const std::string& display);

// The spelling on disk of a code page 1252 name in the folder prefix (a path ending in '/', or
// "" for dir itself) relative to the directory descriptor dir (AT_FDCWD for the current one): its
// UTF-8 form, unless only the raw bytes exist (a name delivered byte for byte), so such names are
// reached again. Nothing is followed to decide.
std::string NameOnDisk(int dir, const std::string& prefix, const std::string& name);

// A random number for temporary names, seeded once per process.
uint64_t RandomNumber();

// The local time of a DOS date and time as time_t; false for a date outside the DOS range.
bool DosTimeToTime(const DosTime& time, long long& out);

}  // namespace posix
}  // namespace platform
