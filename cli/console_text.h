// Text at the console boundary: the program's strings are code page 1252; the console and the
// command line are in the platform's own encoding.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

namespace console {

// A command-line argument as a code page 1252 path. On POSIX a UTF-8 argument is converted; one
// that is not valid UTF-8 or holds a character the code page lacks stays byte for byte (the
// platform layer finds such names on disk again). On Windows the argument as it is: the
// program's entry (console_wide.h) has already refused any argument the code page cannot hold.
std::string PathArg(const std::string& arg);
// A command-line argument as code page 1252 text. False when it holds a character the code page
// cannot represent (POSIX); on Windows always true, for the reason above.
bool TextArg(const std::string& arg, std::string& out);

// Writes code page 1252 text to f: converted to UTF-8 on POSIX; on Windows through the wide
// console functions when f is a console, else byte for byte. Control characters other than line
// feed and tab are shown as Shown shows them, so no name or text from an archive can steer the
// terminal.
void Write(std::FILE* f, const std::string& text);
// Writes text to f as one of the program's messages: every line begins with "tambrixc: ".
void Message(std::FILE* f, const std::string& text);
// Overwrites the current terminal line with line (shown as by Shown): the progress line.
void Rewrite(std::FILE* f, const std::string& line);
// value with every control character (0x00-0x1F, 0x7F, and the bytes code page 1252 leaves
// undefined, which would reach a terminal as C1 controls) written as <XX> in hex. '<' and '>'
// cannot occur in a Windows file name, so a shown name is never mistaken for another.
std::string Shown(const std::string& value);
// text as Write shows it: line feeds and tabs kept, "\r\n" taken as a line feed, every other
// control character as in Shown.
std::string ShownText(const std::string& text);
// True when f is an interactive terminal or console.
bool IsTerminal(std::FILE* f);

// From now on the first Ctrl-C (SIGINT, SIGTERM; on Windows the console's Ctrl-C and
// Ctrl-Break) only sets the flag returned, so that a build can stop and remove what it made; a
// second one ends the program at once.
const std::atomic<bool>* CatchInterrupt();

}  // namespace console
