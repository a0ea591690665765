#include "settings/install_inf.h"

const char* const kDefaultDialogText =
    "Hier k\xF6nnen Sie eine begleitende Information zur Installation unterbringen.";
const char* const kDefaultDialogTitle = "ZAL Self-Extractor";
const char* const kDefaultInfoTextBefore = "Dieser Text kann beim Programmstart angezeigt werden.";
const char* const kDefaultInfoTextAfter =
    "Dieser Text kann nach einem erfolgreichen Entpackvorgang angezeigt werden.";
const char* const kAppTitle = "ZAL Gralvex Version 0.5b";

TInstallInf Settings;
TUSStrings BatchReport(true);
uint8_t BatchRunning = 0;

TInstallInf::TInstallInf()
    : DialogText(kDefaultDialogText),
      DialogTitle(kDefaultDialogTitle),
      InfoTextBefore(kDefaultInfoTextBefore),
      InfoTextAfter(kDefaultInfoTextAfter) {}

TInstallInf::TInstallInf(const TInstallInf& other) : TInstallInf() { *this = other; }

TInstallInf& TInstallInf::operator=(const TInstallInf& other) {
  if (this == &other) return *this;
  SourcePaths = other.SourcePaths;  // list assignment: keeps this list's duplicate rule
  StoreDirNames = other.StoreDirNames;
  MaxCompression = other.MaxCompression;
  TargetDir = other.TargetDir;
  SfxName = other.SfxName;
  Command = other.Command;
  SecondCommand = other.SecondCommand;
  IconFile = other.IconFile;
  DialogText = other.DialogText;
  DialogTitle = other.DialogTitle;
  InfoTextBefore = other.InfoTextBefore;
  InfoTextAfter = other.InfoTextAfter;
  Terminates = other.Terminates;
  TargetEditable = other.TargetEditable;
  CleanUp = other.CleanUp;
  return *this;
}

std::string TrimBlanks(const std::string& s) {
  const std::string::size_type first = s.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  const std::string::size_type last = s.find_last_not_of(' ');
  return s.substr(first, last - first + 1);
}

void TInstallInf::TrimTexts() {
  for (std::string* s : {&TargetDir, &SfxName, &Command, &SecondCommand, &IconFile, &DialogText,
                         &InfoTextBefore, &InfoTextAfter, &DialogTitle}) {
    *s = TrimBlanks(*s);
  }
}
