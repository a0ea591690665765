#include "app/window_text.h"

#include <vector>

void GetWindowTextString(std::string& text, HWND window) {
  int length = GetWindowTextLengthA(window);
  if (length <= 0) {
    text.clear();
    return;
  }
  std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
  int copied = GetWindowTextA(window, buffer.data(), length + 1);
  text.assign(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

void SetWindowTextString(const std::string& text, HWND window) {
  SetWindowTextA(window, text.c_str());
}
