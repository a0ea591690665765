// The Windows console builder's command line: wmain's UTF-16 arguments become code page 1252
// strings only when they convert exactly; the refusal names the argument, shown off the console
// in code page 1252 with every other character as its code point.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/console_wide.h"

namespace {

// What ArgumentsOfWide writes to a file (never a console), and its result.
struct Outcome {
  bool ok;
  std::vector<std::string> args;
  std::string err;
};
Outcome Arguments(std::vector<const wchar_t*> argv) {
  argv.insert(argv.begin(), L"tambrixc.exe");
  Outcome o;
  std::FILE* f = std::tmpfile();
  o.args = {"stale"};
  o.ok = console::ArgumentsOfWide(static_cast<int>(argv.size()), argv.data(), o.args, f);
  std::rewind(f);
  char buffer[1024];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) o.err.append(buffer, n);
  std::fclose(f);
  return o;
}

TEST(CliWideArgs, CodePageArgumentsPassAndEveryOtherIsRefusedByNameAsTyped) {
  using Args = std::vector<std::string>;
  const std::string tail = "\" enth\xE4lt Zeichen, die es in Codepage 1252 nicht gibt: ";
  const struct {
    std::vector<const wchar_t*> argv;
    bool ok;
    Args args;
    std::string firstLine;  // of the message, "" when there is none
  } cases[] = {
      {{L"build", L"--sfx", L"M\u00FCller\u20AC.exe"},
       true,
       Args{"build", "--sfx", "M\xFCller\x80.exe"},
       ""},
      {{}, true, Args{}, ""},
      {{L"extract", L"a.exe", L"\u0141\u00F3d\u017A"},
       false,
       Args{},
       "tambrixc: Das Argument \"<U+0141>\xF3"
       "d<U+017A>" +
           tail + "<U+0141> <U+017A>\n"},
      // Control characters as Shown shows them; invisible marks and unpaired surrogates by code.
      {{L"list", L"x\x1B[2J\u0416"},
       false,
       Args{},
       "tambrixc: Das Argument \"x<1B>[2J<U+0416>" + tail + "<U+0416>\n"},
      {{L"a\u202E"
        L"b\xD800"},
       false,
       Args{},
       "tambrixc: Das Argument \"a<U+202E>b<U+D800>" + tail + "<U+202E> <U+D800>\n"},
      {{L"\xD83D\xDE00"},
       false,
       Args{},
       "tambrixc: Das Argument \"<U+1F600>" + tail + "<U+1F600>\n"},
  };
  for (const auto& c : cases) {
    const Outcome o = Arguments(c.argv);
    EXPECT_EQ(o.ok, c.ok) << c.firstLine;
    EXPECT_EQ(o.args, c.args) << c.firstLine;
    EXPECT_EQ(o.err.substr(0, o.err.find('\n') + 1), c.firstLine);
  }
}

}  // namespace
