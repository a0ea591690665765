// The extractor's message window: every text it shows besides its main window (info texts,
// questions, results, errors) goes through here, in a window of its own with German buttons.
#pragma once

#include <windows.h>

#include <string>

// Shows text captioned title and returns the button pressed, as MessageBoxW does. flags: MB_OK,
// MB_OKCANCEL or MB_YESNO, one of MB_ICONINFORMATION, MB_ICONQUESTION, MB_ICONWARNING,
// MB_ICONERROR, and MB_DEFBUTTON2 to make the second button the default. firstLabel, when not
// empty, replaces the text of the first button (say "&Ersetzen"). Closing the window or Escape
// answers IDCANCEL (MB_OKCANCEL), IDNO (MB_YESNO) or IDOK (MB_OK).
int ShowBox(HWND owner, const std::wstring& text, const std::wstring& title, UINT flags,
            const std::wstring& firstLabel = std::wstring());
