// The extractor's command line as text: where its own arguments end and the arguments for the
// first command begin, and which of those cmd.exe would act on in a batch file.
#include <gtest/gtest.h>

#include <string>

#include "stub/command_line.h"

namespace {

TEST(StubCommandLine, TheFirstLoneDashDashOutsideQuotesSeparatesTheCommandsArguments) {
  struct Case {
    const wchar_t* line;
    const wchar_t* own;
    bool separated;
    const wchar_t* passOn;
  };
  const Case cases[] = {
      // Handed on exactly as written: quotes, an odd quote, backslashes.
      {L"setup.exe /S /W -- /quiet \"C:\\Mein Ziel\" a\"b", L"setup.exe /S /W ", true,
       L"/quiet \"C:\\Mein Ziel\" a\"b"},
      {L"setup.exe /S \"/D=C:\\x\"", L"setup.exe /S \"/D=C:\\x\"", false, L""},
      // A trailing separator, alone or followed by blanks only, hands on nothing.
      {L"setup.exe /S --", L"setup.exe /S ", true, L""},
      {L"setup.exe /S --  \t ", L"setup.exe /S ", true, L""},
      // Inside quotes, quoted or glued to other characters it is no separator.
      {L"setup.exe \"/D=C:\\a -- b\" /S", L"setup.exe \"/D=C:\\a -- b\" /S", false, L""},
      {L"setup.exe \"/D=C:\\a -- b\" -- x", L"setup.exe \"/D=C:\\a -- b\" ", true, L"x"},
      {L"setup.exe \"--\" /S", L"setup.exe \"--\" /S", false, L""},
      {L"setup.exe -\"-\" /S", L"setup.exe -\"-\" /S", false, L""},
      {L"setup.exe --x a--b /S", L"setup.exe --x a--b /S", false, L""},
      // A quote that is never closed quotes the rest of the line.
      {L"setup.exe \"/D=C:\\x -- y", L"setup.exe \"/D=C:\\x -- y", false, L""},
      // A backslash does not escape a quote, as for the extractor's own switches.
      {L"setup.exe \"/D=C:\\x\\\" -- y", L"setup.exe \"/D=C:\\x\\\" ", true, L"y"},
      // Only the first one counts; later ones belong to the command.
      {L"setup.exe -- /S -- /N", L"setup.exe ", true, L"/S -- /N"},
      // Tabs are blanks; blanks inside and at the end of the rest stay.
      {L"setup.exe\t/S\t--\t/q\t \"a  b\" ", L"setup.exe\t/S\t", true, L"/q\t \"a  b\" "},
      // The program name is never the separator, however it is written.
      {L"\"C:\\a -- b\\setup.exe\" -- x", L"\"C:\\a -- b\\setup.exe\" ", true, L"x"},
      {L"-- /S", L"-- /S", false, L""},
      {L"\"setup.exe\"-- x", L"\"setup.exe\"", true, L"x"},
      {L"", L"", false, L""},
  };
  for (const Case& c : cases) {
    const CommandLineCut cut = CutAtSeparator(c.line);
    EXPECT_EQ(cut.own, c.own) << c.line;
    EXPECT_EQ(cut.separated, c.separated) << c.line;
    EXPECT_EQ(cut.passOn, c.passOn) << c.line;
  }
  EXPECT_FALSE(CutAtSeparator(nullptr).separated);
}

TEST(StubCommandLine, WhatCmdActsOnInABatchFilesArgumentsIsFound) {
  struct Case {
    const wchar_t* args;
    size_t at;
  };
  constexpr size_t kNone = std::wstring::npos;
  const Case cases[] = {
      {L"/quiet \"C:\\Mein Ziel\" a\"b", kNone},
      {L"/key=AB-12 !x! (y) \"a&b|c<d>e^f\"", kNone},
      {L"a&b", 1},
      {L"x|y", 1},
      {L"a>b", 1},
      {L"a<b", 1},
      {L"a^b", 1},
      {L"\"%PATH%\"", 1},
      {L"a\"b&c", kNone},  // the odd quote quotes the rest
      {L"\"a\"&b", 3},
      {L"\"a\r\nb\"", 2},
      {L"a\nb", 1},
  };
  for (const Case& c : cases) EXPECT_EQ(FirstBatchSpecial(c.args), c.at) << c.args;
}

}  // namespace
