// What the console builder's commands share: their messages, the reading of common arguments,
// opening and reading an archive with a message on failure, and the pieces of a listing. For
// cli/ only; the reading commands use nothing of the builder.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/entry_decoder.h"

namespace cli {

// Writes "tambrixc: " and text to err.
void Error(std::FILE* err, const std::string& text);
// A usage error: text and the hint to --help on err; returns kExitUsage.
int Usage(std::FILE* err, const std::string& text);

bool IsHelp(const std::string& a);
bool IsQuiet(const std::string& a);
// An argument that names an option (anything but "-" itself, which is a name).
bool IsOptionLike(const std::string& a);
// "-j N", "-jN", "--jobs N" and "--jobs=N": a number of threads. False when args[i] is no such
// option; otherwise true, with jobs set or, for a value that is no number from 1 to 256, problem
// saying so.
bool JobsOption(const std::vector<std::string>& args, size_t& i, int& jobs, std::string& problem);

// Opens an archive for reading; nullptr after a message when it cannot be opened.
std::FILE* OpenArchive(const std::string& path, std::FILE* err);

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Reads the archive structure; false after a message naming what is wrong.
bool ReadOrReport(ByteSource& src, const std::string& path, ArchiveInfo& info, std::FILE* err);

// Why an entry did not decode, in words ("" for Ok).
std::string DecodeProblem(DecodeStatus s);

std::string Number(uint64_t v);
// dd.mm.yyyy hh:mm:ss
std::string DateText(const platform::DosTime& t);
std::string RightAligned(const std::string& s, size_t width);
// A multi-line text of the record with its continuation lines indented.
std::string Indented(const std::string& text);

}  // namespace cli
