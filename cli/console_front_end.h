// The console builder's front end for the build driver and the batch run: the record in force is
// the global Settings (filled from the command line, a settings file or the batch file), messages
// go to the error stream, each line beginning with "tambrixc: ", the batch report to the output
// stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "builder/batch_run.h"

class ConsoleFrontEnd : public BatchFrontEnd {
 public:
  // showProgress: keep a progress line updated on err (only sensible on a terminal). quiet: say
  // nothing of success (no success line, no report); failures are still told.
  ConsoleFrontEnd(std::FILE* out, std::FILE* err, bool showProgress, bool quiet = false);

  void TakeSettings(TInstallInf& settings) override;
  void ShowProgress(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void FocusSfxName() override {}
  // The console builder never starts the produced program.
  void StartProgram(const std::string& /*path*/) override {}
  void FileFailed(const std::string& path, const std::string& reason) override;
  void FolderUnreadable(const std::string& path) override;
  void ArchiveWritten(const std::string& path, size_t files, uint64_t bytes) override;
  void StubMissing(const std::string& path) override;
  void ShowSettings(const TInstallInf& /*settings*/) override {}
  void ShowReport(const std::string& report) override;

  // Everything shown, in order (code page 1252), for callers that count outcomes.
  std::vector<std::string> Messages;
  std::string Report;

 private:
  void ClearProgress();
  void Say(const std::string& line);

  std::FILE* out_;
  std::FILE* err_;
  bool showProgress_;
  bool quiet_;
  std::string written_;       // what the finished build made, for its success line
  size_t progressWidth_ = 0;  // characters of the progress line now on screen
};

// "8.555": a count with German thousands separators.
std::string GermanCount(uint64_t n);
// "27,5 MB": a size in bytes, KB, MB or GB (of 1024) with one decimal, as Windows shows sizes.
std::string GermanSize(uint64_t bytes);
