// Text at the console boundary: the program's strings are code page 1252; the console and the
// command line are in the platform's own encoding.
#pragma once

#include <cstdio>
#include <string>

namespace console {

// A command-line argument as a code page 1252 path. On POSIX a UTF-8 argument is converted; one
// that is not valid UTF-8 or holds a character the code page lacks stays byte for byte (the
// platform layer finds such names on disk again). On Windows the ANSI argument as it is.
std::string PathArg(const std::string& arg);
// A command-line argument as code page 1252 text. False when it holds a character the code page
// cannot represent (POSIX); on Windows always true.
bool TextArg(const std::string& arg, std::string& out);

// Writes code page 1252 text to f: converted to UTF-8 on POSIX; on Windows through the wide
// console functions when f is a console, else byte for byte.
void Write(std::FILE* f, const std::string& text);
// True when f is an interactive terminal or console.
bool IsTerminal(std::FILE* f);

}  // namespace console
