// Plain file queries of the core and its front ends: whether a path exists, the text of a
// small text file, and a bounded copy between two open files. Failures are results, never
// exceptions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// True when path is not null and names an existing file or directory.
bool FileExists(const char* path);
inline bool FileExists(const std::string& path) { return FileExists(path.c_str()); }

// Reads the first 32766 bytes of a file at most, unchanged, up to the first NUL, into text.
// A missing path, file or unreadable file leaves text unchanged.
void ReadTextFile(const char* path, std::string& text);
constexpr int kMaxTextFileBytes = 32766;

// Copies count bytes from src's position to dst's position in chunks of at most 65534 bytes.
// False when count is negative, when a read returns fewer bytes than asked, or on a short write.
// count is 64-bit so that the data file of a large archive can be copied; the chunking is the same.
// writeFailed, when given, tells a failed write to dst (true) from a failed read of src.
bool CopyHandleBytes(std::FILE* src, std::FILE* dst, int64_t count, bool* writeFailed = nullptr);

// Reads src from its position to its end into bytes. False when a read fails or the file holds
// more than maxBytes (bytes is then empty): a small file read whole, never a large one by mistake.
bool ReadWholeStream(std::FILE* src, std::vector<uint8_t>& bytes, size_t maxBytes);
