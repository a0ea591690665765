// Screen pixels for the window drivers of the builder's dialog and of the extractor: a rectangle
// of the screen as 0x00RRGGBB values, the dark (text) pixels inside a control, and a picture as
// the bytes of a BMP file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace screencap {

struct Capture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0x00RRGGBB, top row first
};

// The screen's pixels in r (screen coordinates); empty when r is empty or no bitmap was had.
inline Capture CaptureScreen(const RECT& r) {
  Capture cap;
  cap.width = r.right - r.left;
  cap.height = r.bottom - r.top;
  if (cap.width <= 0 || cap.height <= 0) return cap;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = cap.width;
  info.bmiHeader.biHeight = -cap.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, cap.width, cap.height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const uint32_t* p = static_cast<const uint32_t*>(bits);
    cap.pixels.assign(p, p + static_cast<size_t>(cap.width) * cap.height);
    for (uint32_t& px : cap.pixels) px &= 0xFFFFFF;
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return cap;
}

// Dark pixels (text) of a control on the screen, inset pixels of its border left out.
inline int DarkPixelsIn(HWND control, int inset) {
  RECT r;
  if (!GetWindowRect(control, &r)) return 0;
  InflateRect(&r, -inset, -inset);
  int dark = 0;
  for (uint32_t p : CaptureScreen(r).pixels) {
    int sum = static_cast<int>((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF);
    if (sum < 240) ++dark;
  }
  return dark;
}

// The picture as a 32-bit top-down BMP file.
inline std::string BmpBytes(const Capture& cap) {
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof(info);
  info.biWidth = cap.width;
  info.biHeight = -cap.height;
  info.biPlanes = 1;
  info.biBitCount = 32;
  info.biCompression = BI_RGB;
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + static_cast<DWORD>(cap.pixels.size() * 4);
  std::string bytes(reinterpret_cast<const char*>(&file), sizeof(file));
  bytes.append(reinterpret_cast<const char*>(&info), sizeof(info));
  bytes.append(reinterpret_cast<const char*>(cap.pixels.data()), cap.pixels.size() * 4);
  return bytes;
}

}  // namespace screencap
