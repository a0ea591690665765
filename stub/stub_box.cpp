#include "stub/stub_box.h"

int ShowBox(HWND owner, const std::wstring& text, const std::wstring& title, UINT flags,
            const std::wstring&) {
  return MessageBoxW(owner, text.c_str(), title.c_str(), flags | MB_SETFOREGROUND);
}
