// File and path helpers of the builder. Failures are results, never exceptions.
#pragma once

#include "builder/builder_only.h"

#include <string>

// Chooses a temporary file name and (except on the last fallback) creates the file empty:
// a unique file with prefix in the temporary directory; if that directory is missing or on a
// CD-ROM drive, c:\temp\ZAL<n>.tmp (Windows only); last, a runtime temporary name. "" when no
// name could be had at all.
std::string MakeTempName(const std::string& prefix);
