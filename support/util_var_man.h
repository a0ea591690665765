// A snapshot of the environment the program runs in, read once at construction.
#pragma once

#include <string>

class TUtilVarMan {
 public:
  // Reads every field from the platform; a value that cannot be read keeps its default.
  TUtilVarMan();

  std::string ProgramDir;  // directory of the program file with a trailing separator
  int ScreenWidth = 0;     // screen width in pixels
  int ScreenHeight = 0;    // screen height in pixels
  int ColorBits = 0;       // bits per pixel times colour planes
  void* Instance = nullptr;  // module handle where a window framework holds one
  std::string SystemDir;   // the Windows system directory, "" when unreadable
  std::string WindowsDir;  // the Windows directory with exactly one trailing backslash, or ""
  std::string ProgramDirString;  // copy of ProgramDir
  bool SystemDirOk = false;      // the system directory could be read
  char DateSep[2] = {'.', 0};    // intl sDate, default "."
  char DecimalSep[2] = {',', 0}; // intl sDecimal, default ","
  char TimeSep[2] = {',', 0};    // intl sTime, default "," (a comma, as the program always had)
};

// The directory part of a program path, up to and including the last separator ('\\', or '/'
// where sep is '/'); "" when the path has none.
std::string DirectoryOfProgram(const std::string& programPath, char sep);
// A Windows directory with its trailing backslashes stripped and exactly one appended.
std::string NormaliseWindowsDir(const std::string& dir);
