// File and path helpers of the builder. Failures are results, never exceptions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Copies count bytes from src's position to dst's position in chunks of at most 65534 bytes.
// False when count is negative, when a read returns fewer bytes than asked, or on a short write.
// count is 64-bit so that the data file of a large archive can be copied; the chunking is the same.
// writeFailed, when given, tells a failed write to dst (true) from a failed read of src.
bool CopyHandleBytes(std::FILE* src, std::FILE* dst, int64_t count, bool* writeFailed = nullptr);

// Chooses a temporary file name and (except on the last fallback) creates the file empty:
// a unique file with prefix in the temporary directory; if that directory is missing or on a
// CD-ROM drive, c:\temp\ZAL<n>.tmp (Windows only); last, a runtime temporary name. "" when no
// name could be had at all.
std::string MakeTempName(const std::string& prefix);
