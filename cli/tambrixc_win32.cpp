// tambrixc on Windows: the console builder with its command line read in UTF-16, so that the ANSI
// code page never turns an argument into another name; see tambrixc --help.
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console_wide.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  if (!console::ArgumentsOfWide(argc, argv, args, stderr)) return kExitUsage;
  return RunTambrixc(args, stdout, stderr);
}
