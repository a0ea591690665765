// Plain file queries of the core and its front ends: whether a path exists, and the text of a
// small text file. Failures are results, never exceptions.
#pragma once

#include <string>

// True when path is not null and names an existing file or directory.
bool FileExists(const char* path);
inline bool FileExists(const std::string& path) { return FileExists(path.c_str()); }

// Reads the first 32766 bytes of a file at most, unchanged, up to the first NUL, into text.
// A missing path, file or unreadable file leaves text unchanged.
void ReadTextFile(const char* path, std::string& text);
constexpr int kMaxTextFileBytes = 32766;
