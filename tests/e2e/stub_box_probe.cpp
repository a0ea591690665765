// The extractor's message window alone, for the window driver: shows one box with the extractor's
// own code and resources and ends with the button pressed as its exit code.
//   stub_box_probe.exe FLAGS [FIRST-LABEL]
// FLAGS: the MB_* value given to ShowBox (decimal or 0x...).
#include <windows.h>

#include <cwchar>
#include <string>

#include "stub/stub_box.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return 100;
  const UINT flags = argc > 1 ? static_cast<UINT>(wcstoul(argv[1], nullptr, 0)) : MB_OK;
  const std::wstring label = argc > 2 ? argv[2] : L"";
  LocalFree(argv);
  return ShowBox(nullptr, L"Die Datei liegt schon im Ziel. Soll sie ersetzt werden?",
                 L"Probe", flags, label);
}
