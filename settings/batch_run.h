// The batch run: builds every archive listed in the batch control file tambbatch.ini.
#pragma once

#include <string>

#include "archive/build_driver.h"
#include "settings/install_inf.h"

// What the batch run needs of its front end beyond a build's.
class BatchFrontEnd : public BuildFrontEnd {
 public:
  // Shows the record in the front end's fields (the dialog's ShowSettings).
  virtual void ShowSettings(const TInstallInf& settings) = 0;
  // Repaints the front end at once.
  virtual void Repaint() {}
  // Shows the joined report (raised to the top first, in the dialog).
  virtual void ShowReport(const std::string& report) = 0;
};

// ProgramDir + "tambbatch.ini".
std::string BatchFilePath();

// Runs the batch file at iniPath ("" = BatchFilePath()). Returns false, after showing "Kann Datei
// tambbatch.ini nicht finden!", when the file does not exist. The report is BatchReport joined,
// each line followed by a line feed.
bool RunBatch(BatchFrontEnd& ui, const std::string& iniPath = std::string(),
              const std::string& stubDir = std::string());

extern const char* const kMsgBatchMissing;
// Joins BatchReport: each line followed by "\n".
std::string JoinedBatchReport();
