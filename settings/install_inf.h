// The install-info record: everything that describes one archive apart from its files.
#pragma once

#include <cstdint>
#include <string>

#include "support/tus_strings.h"

class TInstallInf {
 public:
  TInstallInf();
  TInstallInf(const TInstallInf& other);
  TInstallInf& operator=(const TInstallInf& other);

  // Removes leading and trailing spaces (0x20 only) from the nine strings; SourcePaths stays.
  void TrimTexts();

  TUSStrings SourcePaths{false};  // source directories; front ends leave exactly one
  uint8_t StoreDirNames = 1;      // unpack with directory names
  uint8_t MaxCompression = 0;     // 1: bzip2 and tambrix.res1; 0: gzip and tambrix.res2
  std::string TargetDir;          // target the extractor proposes; "" = temporary directory
  std::string SfxName;            // program file to produce
  std::string Command;            // run after unpacking
  std::string SecondCommand;      // run after Command
  std::string IconFile;           // program icon file (not used by our extractor)
  std::string DialogText;         // text of the extractor's dialog
  std::string DialogTitle;        // title of the extractor's dialog
  std::string InfoTextBefore;     // shown when the extractor starts
  std::string InfoTextAfter;      // shown after a successful unpacking
  uint8_t Terminates = 0;         // the started program ends by itself
  uint8_t TargetEditable = 1;     // the extractor's user may change the target
  uint8_t CleanUp = 0;            // remove the unpacked files after the program has ended
};

// Default texts (code page 1252).
extern const char* const kDefaultDialogText;
extern const char* const kDefaultDialogTitle;
extern const char* const kDefaultInfoTextBefore;
extern const char* const kDefaultInfoTextAfter;

// Removes leading and trailing space characters (0x20 only).
std::string TrimBlanks(const std::string& s);

// The program's globals: the record in force, the batch report and the batch flag.
extern TInstallInf Settings;
extern TUSStrings BatchReport;
extern uint8_t BatchRunning;

// The application title: name, main window caption and caption of every message box.
extern const char* const kAppTitle;
