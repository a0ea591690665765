// The batch run: builds every archive listed in the batch control file tambbatch.ini.
#pragma once

#include "builder/builder_only.h"

#include <string>

#include "builder/build_driver.h"
#include "settings/install_inf.h"

// What the batch run needs of its front end beyond a build's.
class BatchFrontEnd : public BuildFrontEnd {
 public:
  // Shows the record in the front end's fields (the dialog's ShowSettings).
  virtual void ShowSettings(const TInstallInf& settings) = 0;
  // Takes the fields back into the record before each build, so that their limits apply to the
  // batch values as to typed ones (the dialog's TakeSettings; no-op where there are no fields).
  virtual void TakeSettings(TInstallInf& settings) = 0;
  // Repaints the front end at once.
  virtual void Repaint() {}
  // Shows the joined report (raised to the top first, in the dialog).
  virtual void ShowReport(const std::string& report) = 0;
};

// ProgramDir + "tambbatch.ini".
std::string BatchFilePath();

// What a batch run came to, for front ends that need more than the report (exit codes).
struct BatchSummary {
  bool fileFound = false;  // false: the batch file did not exist and nothing was built
  int built = 0;           // archives built whole (BuildResult::Success)
  int failed = 0;          // archives whose build ended in any other result
};

// Runs the batch file at iniPath ("" = BatchFilePath()), each build with the given options. When
// the file does not exist it shows "Kann Datei tambbatch.ini nicht finden!" and returns a summary
// with fileFound false. The report is BatchReport joined, each line followed by a line feed.
BatchSummary RunBatch(BatchFrontEnd& ui, const std::string& iniPath = std::string(),
                      const BuildOptions& build = BuildOptions());

extern const char* const kMsgBatchMissing;
// Joins BatchReport: each line followed by "\n".
std::string JoinedBatchReport();
