// The console builder's commands. Arguments arrive in the platform's encoding (UTF-8 on POSIX,
// ANSI on Windows); messages go to err, listings and reports to out.
//
// Exit codes: 0 full success, 1 a failed build, a damaged archive or any other failure, 2 a usage
// error (unknown command or option, missing value), 130 a build stopped by Ctrl-C. Every message
// on err begins with "tambrixc: ".
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/entry_decoder.h"
#include "archive/stub_look.h"

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// A build or batch stopped by Ctrl-C, as shells report a program ended by SIGINT.
constexpr int kExitInterrupted = 130;

// args without the program name: the command and its arguments.
int RunTambrixc(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// The single commands, each given the arguments after its name.
int CommandBuild(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
int CommandBatch(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
int CommandList(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
int CommandVerify(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
int CommandExtract(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// Unpacks the archive sfxPath below targetDir (both code page 1252 paths). Refuses the whole
// archive before writing anything when it is damaged, incomplete, or holds an unsafe or colliding
// name; each file is written under a temporary name and renamed into place only when it decoded
// completely. A run that fails puts the target back as it found it: new files and directories
// go, replaced files get their old content and times back. Messages go to err in German; each
// file written is named on out unless quiet. With jobs above 1 that many threads decode and
// write at once; the files, the messages and their order are the same. Returns an exit code.
int ExtractArchive(const std::string& sfxPath, const std::string& targetDir, std::FILE* out,
                   std::FILE* err, bool quiet = false, int jobs = 1);

// The archive at path, read into info, as a JSON document (ASCII, every other character as a
// \u escape): settings, method, totals, entries, whether it is complete, and problem: why no
// extractor unpacks it ("" when one does, given as null). program says what look holds of the
// program in front: its icon ("own", "replaced", "none"), elevation level and version information.
std::string ArchiveJson(const std::string& path, const ArchiveInfo& info, const StubLookInfo& look,
                        const std::string& problem);

// Decodes one entry with the decoder of its method.
DecodeStatus DecodeEntry(ByteSource& src, const ArchiveEntry& entry, const ByteSink& sink);

// The help text (code page 1252).
std::string HelpText();
