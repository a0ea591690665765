// The console builder's command line on Windows: the arguments come as UTF-16 (wmain), the
// program works on code page 1252. An argument the code page cannot hold is refused whole, before
// any command runs: converting it would name another file (Ł would become L), or a name of
// question marks.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace console {

// argv[1] to argv[argc - 1] as code page 1252 strings in args. False, after a message on err that
// names the first argument holding characters the code page lacks (as typed) and those
// characters, when there is such an argument.
bool ArgumentsOfWide(int argc, const wchar_t* const* argv, std::vector<std::string>& args,
                     std::FILE* err);

// Writes UTF-16 text to f as one of the program's messages ("tambrixc: " before every line). On
// a console every character is written as it is; elsewhere the output stays code page 1252, as
// all of the program's output, and a character the code page lacks is written as <U+XXXX>. Control
// characters (and, on a console too, invisible formatting characters and unpaired surrogates)
// are shown as codes, as Shown shows them.
void MessageWide(std::FILE* f, const std::wstring& text);

}  // namespace console
