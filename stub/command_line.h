// The extractor's command line as text: its own arguments, and the rest that a caller hands on to
// the first command after a separator "--". Plain C++ without Windows calls, so that the native
// tests link it as the extractor does.
//
// One reading of quotes for all of it: outside quotes a blank (space or tab) ends an argument; a
// double quote opens or closes quoting and is dropped; a backslash is an ordinary character.
#pragma once

#include <string>
#include <vector>

// The command line cut at its separator.
struct CommandLineCut {
  std::wstring own;        // the program name and the extractor's own arguments
  bool separated = false;  // a separator was found
  std::wstring passOn;     // what follows it, without the blanks after "--", otherwise as written
};

// Cuts a whole command line (the program name first, as GetCommandLineW gives it) at the first
// argument after the program name that is exactly "--" as written: unquoted, standing alone
// between blanks or at the end. "--" inside quotes, "\"--\"" and "--x" are no separator. Without
// one, own is the whole line and passOn is empty.
CommandLineCut CutAtSeparator(const wchar_t* commandLine);

// The arguments after the program name, their quotes removed ("/D=C:\a b" and /D="C:\a b" are
// the same). The program name is quoted up to the next quote, or else ends at the first blank.
std::vector<std::wstring> SplitArguments(const wchar_t* commandLine);

// Where args holds the first character that cmd.exe acts on when it runs a batch file with them:
// '%' (a variable, expanded inside quotes too), a line break, or outside quotes '&', '|', '<',
// '>' or '^'. npos when there is none.
size_t FirstBatchSpecial(const std::wstring& args);

// args followed by extra, with one blank between them when both are there.
std::wstring AppendArguments(const std::wstring& args, const std::wstring& extra);
