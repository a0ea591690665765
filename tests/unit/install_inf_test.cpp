// The install-info record: defaults, trimming, copying.
#include "settings/install_inf.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TInstallInf Filled() {
  TInstallInf r;
  r.SourcePaths.Add("C:\\Quelle");
  r.StoreDirNames = 0;
  r.MaxCompression = 1;
  r.TargetDir = "C:\\Ziel";
  r.SfxName = "C:\\out\\setup.exe";
  r.Command = "setup.exe /q";
  r.SecondCommand = "second.exe";
  r.IconFile = "icon.ico";
  r.DialogText = "Text\r\nzwei Zeilen";
  r.DialogTitle = "Titel";
  r.InfoTextBefore = "vorher";
  r.InfoTextAfter = "nachher";
  r.Terminates = 1;
  r.TargetEditable = 0;
  r.CleanUp = 7;  // the record keeps any byte it is given
  return r;
}

void ExpectSameFields(const TInstallInf& a, const TInstallInf& b) {
  EXPECT_EQ(a.SourcePaths.Strings, b.SourcePaths.Strings);
  EXPECT_EQ(a.StoreDirNames, b.StoreDirNames);
  EXPECT_EQ(a.MaxCompression, b.MaxCompression);
  EXPECT_EQ(a.TargetDir, b.TargetDir);
  EXPECT_EQ(a.SfxName, b.SfxName);
  EXPECT_EQ(a.Command, b.Command);
  EXPECT_EQ(a.SecondCommand, b.SecondCommand);
  EXPECT_EQ(a.IconFile, b.IconFile);
  EXPECT_EQ(a.DialogText, b.DialogText);
  EXPECT_EQ(a.DialogTitle, b.DialogTitle);
  EXPECT_EQ(a.InfoTextBefore, b.InfoTextBefore);
  EXPECT_EQ(a.InfoTextAfter, b.InfoTextAfter);
  EXPECT_EQ(a.Terminates, b.Terminates);
  EXPECT_EQ(a.TargetEditable, b.TargetEditable);
  EXPECT_EQ(a.CleanUp, b.CleanUp);
}

}  // namespace

TEST(InstallInf, ANewRecordHoldsExactlyTheDefaults) {
  const TInstallInf r;
  EXPECT_EQ(r.SourcePaths.Count(), 0);
  EXPECT_FALSE(r.SourcePaths.AllowDuplicates);
  EXPECT_EQ(r.StoreDirNames, 1);
  EXPECT_EQ(r.MaxCompression, 0);
  EXPECT_EQ(r.TargetDir, "");
  EXPECT_EQ(r.SfxName, "");
  EXPECT_EQ(r.Command, "");
  EXPECT_EQ(r.SecondCommand, "");
  EXPECT_EQ(r.IconFile, "");
  EXPECT_EQ(r.DialogText,
            "Hier k\xF6nnen Sie eine begleitende Information zur Installation unterbringen.");
  EXPECT_EQ(r.DialogTitle, "ZAL Self-Extractor");
  EXPECT_EQ(r.DialogTitle.size(), 18u);
  EXPECT_EQ(r.InfoTextBefore, "Dieser Text kann beim Programmstart angezeigt werden.");
  EXPECT_EQ(r.InfoTextAfter,
            "Dieser Text kann nach einem erfolgreichen Entpackvorgang angezeigt werden.");
  EXPECT_EQ(r.Terminates, 0);
  EXPECT_EQ(r.TargetEditable, 1);
  EXPECT_EQ(r.CleanUp, 0);
  EXPECT_EQ(std::strcmp(kAppTitle, "ZAL Gralvex Version 0.5b"), 0);
}

TEST(InstallInf, TheGlobalsStartAsDocumented) {
  EXPECT_TRUE(BatchReport.AllowDuplicates);
  EXPECT_EQ(BatchRunning, 0);
  EXPECT_FALSE(Settings.SourcePaths.AllowDuplicates);
}

TEST(InstallInf, TrimTextsRemovesOnlyOuterSpacesOfTheNineStrings) {
  TInstallInf r;
  r.SourcePaths.Add("  C:\\Quelle  ");
  r.TargetDir = "  C:\\Ziel  ";
  r.SfxName = "     ";
  r.Command = "\tcmd ";
  r.SecondCommand = " a  b ";
  r.IconFile = "";
  r.DialogText = " \r\nText\r\n ";
  r.DialogTitle = " T ";
  r.InfoTextBefore = "x";
  r.InfoTextAfter = "\xE4 ";
  r.TrimTexts();
  EXPECT_EQ(r.TargetDir, "C:\\Ziel");
  EXPECT_EQ(r.SfxName, "");
  EXPECT_EQ(r.Command, "\tcmd");  // a tab is not a space
  EXPECT_EQ(r.SecondCommand, "a  b");
  EXPECT_EQ(r.IconFile, "");
  EXPECT_EQ(r.DialogText, "\r\nText\r\n");
  EXPECT_EQ(r.DialogTitle, "T");
  EXPECT_EQ(r.InfoTextBefore, "x");
  EXPECT_EQ(r.InfoTextAfter, "\xE4");
  EXPECT_EQ(r.SourcePaths.At(0), "  C:\\Quelle  ");  // the source list is left alone
}

TEST(InstallInf, TrimBlanksOnItsOwn) {
  EXPECT_EQ(TrimBlanks(""), "");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(TrimBlanks(" a "), "a");
  EXPECT_EQ(TrimBlanks("a"), "a");
  EXPECT_EQ(TrimBlanks("\ta\n"), "\ta\n");
}

TEST(InstallInf, CopyAndAssignmentCopyEveryField) {
  const TInstallInf source = Filled();
  const TInstallInf copy(source);
  ExpectSameFields(copy, source);
  TInstallInf assigned;
  assigned = source;
  ExpectSameFields(assigned, source);
}

TEST(InstallInf, AssignmentKeepsTheTargetListsDuplicateRule) {
  TInstallInf source;
  source.SourcePaths = TUSStrings(true);  // list assignment: the rule of SourcePaths stays
  EXPECT_FALSE(source.SourcePaths.AllowDuplicates);
  source.SourcePaths.AllowDuplicates = true;
  source.SourcePaths.Add("A");
  source.SourcePaths.Add("A");
  source.SourcePaths.Add("B");
  TInstallInf target;
  target.SourcePaths.Add("old");
  target = source;
  EXPECT_FALSE(target.SourcePaths.AllowDuplicates);
  EXPECT_EQ(target.SourcePaths.Strings, (std::vector<std::string>{"A", "B"}));
}

TEST(InstallInf, SelfAssignmentChangesNothing) {
  TInstallInf r = Filled();
  const TInstallInf before = r;
  TInstallInf& alias = r;
  r = alias;
  ExpectSameFields(r, before);
}

TEST(InstallInf, ASecondEqualSourceDirectoryIsRefused) {
  TInstallInf r;
  EXPECT_EQ(r.SourcePaths.Add("C:\\Quelle"), 0);
  EXPECT_EQ(r.SourcePaths.Add("C:\\Quelle"), -1);
  EXPECT_EQ(r.SourcePaths.Count(), 1);
}
