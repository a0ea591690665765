#include "support/util_var_man.h"

#include "platform/platform.h"

std::string DirectoryOfProgram(const std::string& programPath, char sep) {
  // On Windows only the backslash counts, as it always did; POSIX paths use '/'.
  const std::string::size_type cut = programPath.find_last_of(sep);
  if (cut == std::string::npos) return std::string();
  return programPath.substr(0, cut + 1);
}

std::string NormaliseWindowsDir(const std::string& dir) {
  if (dir.empty()) return dir;
  std::string s = dir;
  while (!s.empty() && s.back() == '\\') s.pop_back();
  return s + '\\';
}

static char FirstCharOr(const std::string& value, char fallback) {
  return value.empty() ? fallback : value[0];
}

TUtilVarMan::TUtilVarMan() {
  platform::Os& os = platform::Current();
  DateSep[0] = FirstCharOr(os.UserProfileString("intl", "sDate", "."), '.');
  DecimalSep[0] = FirstCharOr(os.UserProfileString("intl", "sDecimal", ","), ',');
  TimeSep[0] = FirstCharOr(os.UserProfileString("intl", "sTime", ","), ',');

  // The whole path: cutting it to a buffer size would name some other directory.
  ProgramDir = DirectoryOfProgram(os.ProgramPath(), os.Separator());
  ProgramDirString = ProgramDir;

  const platform::ScreenInfo screen = os.Screen();
  ScreenWidth = screen.width;
  ScreenHeight = screen.height;
  ColorBits = screen.bitsPerPixel * screen.planes;

  SystemDir = os.SystemDirectory();
  SystemDirOk = !SystemDir.empty();
  WindowsDir = NormaliseWindowsDir(os.WindowsDirectory());
}
