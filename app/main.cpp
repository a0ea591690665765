// Entry of the Windows builder: refuses screens below 800 x 600, then runs the main dialog.
// <windows.h> has to come before the other Windows headers.
// clang-format off
#include <windows.h>
// clang-format on
#include <commctrl.h>
#include <ole2.h>

#include "app/window.h"
#include "settings/install_inf.h"
#include "support/util_var_man.h"

namespace {

const char kScreenTooSmall[] =
    "Zum Betrieb dieses Programmes ist einen minimale Bildschirmaufl\xF6sung von 800x600 "
    "erforderlich!";

}  // namespace

// The command line is not read.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int showCommand) {
  {
    TUtilVarMan environment;
    if (environment.ScreenWidth < 800 || environment.ScreenHeight < 600) {
      MessageBoxA(nullptr, kScreenTooSmall, kAppTitle, MB_OK | MB_ICONINFORMATION);
      return 0;
    }
  }

  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  // The folder browser needs COM on this thread.
  OleInitialize(nullptr);

  int exitCode;
  {
    TTambrixApp app(kAppTitle, instance, showCommand);
    exitCode = app.Run();
  }
  OleUninitialize();
  return exitCode;
}
