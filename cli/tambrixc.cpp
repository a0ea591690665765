// tambrixc: the console builder. Builds archives, runs batch files, lists, verifies and unpacks
// archives; see tambrixc --help.
#include <string>
#include <vector>

#include "cli/commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return RunTambrixc(args, stdout, stderr);
}
