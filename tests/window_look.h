// How a window looks at a DPI, measured from outside: a dialog font at a DPI, rectangles, and the
// check that a window lies in the work area with every control in it and every text fitting its
// control. Shared by the extractor's window tests and the builder's GUI tests.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace windowlook {

// The text of a window, asked through the window itself ("" when it does not answer).
inline std::wstring Text(HWND h) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
    return std::wstring();
  std::wstring buf(static_cast<size_t>(length) + 1, L'\0');
  DWORD_PTR n = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(&buf[0]),
                           SMTO_ABORTIFHUNG, 5000, &n))
    return std::wstring();
  buf.resize(static_cast<size_t>(n));
  return buf;
}

inline std::wstring ClassOf(HWND h) {
  wchar_t buf[256];
  int n = GetClassNameW(h, buf, 256);
  return std::wstring(buf, n > 0 ? n : 0);
}

// A dialog's font (8 pt of face, MS Shell Dlg unless named) as the dialog manager makes it at
// dpi, and the dialog base units it gives.
class DialogFont {
 public:
  explicit DialogFont(int dpi, const wchar_t* face = L"MS Shell Dlg") {
    font_ = CreateFontW(-MulDiv(8, dpi, 72), 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE,
                        DEFAULT_CHARSET, 0, 0, PROOF_QUALITY, FF_DONTCARE, face);
    dc_ = CreateCompatibleDC(nullptr);
    old_ = SelectObject(dc_, font_);
    GetTextMetricsW(dc_, &tm_);
    SIZE letters = {};
    GetTextExtentPoint32W(dc_, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52,
                          &letters);
    baseX_ = (letters.cx / 26 + 1) / 2;
  }
  ~DialogFont() {
    SelectObject(dc_, old_);
    DeleteDC(dc_);
    DeleteObject(font_);
  }
  DialogFont(const DialogFont&) = delete;
  DialogFont& operator=(const DialogFont&) = delete;

  int lineHeight() const { return tm_.tmHeight; }
  int baseX() const { return baseX_; }
  int baseY() const { return tm_.tmHeight; }
  // The size text takes, broken into lines at width (0: one line); an & marks an access key
  // unless noPrefix.
  SIZE Measure(const std::wstring& text, int width, bool noPrefix) const {
    RECT r = {0, 0, width, 0};
    UINT how = DT_CALCRECT | (width ? DT_WORDBREAK : DT_SINGLELINE) | (noPrefix ? DT_NOPREFIX : 0);
    DrawTextW(dc_, text.c_str(), static_cast<int>(text.size()), &r, how);
    return SIZE{r.right, r.bottom};
  }

 private:
  HFONT font_;
  HDC dc_;
  HGDIOBJ old_;
  TEXTMETRICW tm_ = {};
  int baseX_ = 0;
};

inline RECT WorkArea() {
  RECT r = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0);
  return r;
}

inline bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

inline std::string Describe(const RECT& r) {
  return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" +
         std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

// c's rectangle in its parent's client coordinates.
inline RECT InParent(HWND c) {
  RECT r;
  GetWindowRect(c, &r);
  MapWindowPoints(nullptr, GetParent(c), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

inline RECT ClientSize(HWND h) {
  RECT r = {};
  GetClientRect(h, &r);
  return r;
}

inline LONG Style(HWND h) { return GetWindowLongW(h, GWL_STYLE); }

inline int Lines(HWND edit) {
  DWORD_PTR n = 0;
  SendMessageTimeoutW(edit, EM_GETLINECOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &n);
  return static_cast<int>(n);
}

inline int FirstVisibleLine(HWND edit) {
  DWORD_PTR n = 0;
  SendMessageTimeoutW(edit, EM_GETFIRSTVISIBLELINE, 0, 0, SMTO_ABORTIFHUNG, 5000, &n);
  return static_cast<int>(n);
}

// The window lies in the work area; every visible control lies in its client area, and every
// label, button and check box text and every text field fits its control in the dialog font
// (8 pt of face) at dpi.
inline void ExpectLaidOut(HWND window, const char* what, int dpi,
                          const wchar_t* face = L"MS Shell Dlg") {
  SCOPED_TRACE(what);
  const DialogFont font(dpi, face);
  // A check box's text begins after the box (12 pixels at 96 dpi and one more) and half a digit.
  const int box = MulDiv(12, dpi, 96) + 1 + font.Measure(L"0", 0, true).cx / 2;
  RECT outer;
  GetWindowRect(window, &outer);
  EXPECT_TRUE(Inside(outer, WorkArea())) << Describe(outer) << " not in " << Describe(WorkArea());
  const RECT client = ClientSize(window);
  const int edge = GetSystemMetrics(SM_CXEDGE);
  int controls = 0;
  for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (!IsWindowVisible(c)) continue;
    ++controls;
    const std::wstring cls = ClassOf(c), text = Text(c);
    const LONG style = Style(c);
    const RECT at = InParent(c), size = ClientSize(c);
    SCOPED_TRACE(testing::Message() << "control " << GetDlgCtrlID(c) << " " << Describe(at));
    EXPECT_TRUE(Inside(at, client)) << "outside the client area " << Describe(client);
    if (_wcsicmp(cls.c_str(), L"Button") == 0 && (style & BS_TYPEMASK) <= BS_DEFPUSHBUTTON) {
      const SIZE need = font.Measure(text, 0, false);
      EXPECT_LE(need.cx + 4 * edge, size.right) << "button text too wide";
      EXPECT_LE(need.cy + 2 * edge, size.bottom) << "button text too high";
    } else if (_wcsicmp(cls.c_str(), L"Button") == 0 &&
               ((style & BS_TYPEMASK) == BS_CHECKBOX || (style & BS_TYPEMASK) == BS_AUTOCHECKBOX)) {
      const SIZE need = font.Measure(text, 0, false);
      EXPECT_LE(box + need.cx, size.right) << "check box text too wide";
      EXPECT_LE(need.cy, size.bottom) << "check box text too high";
    } else if (_wcsicmp(cls.c_str(), L"Static") == 0 && !text.empty() &&
               (style & SS_TYPEMASK) <= SS_RIGHT) {
      if (style & SS_ELLIPSISMASK) {
        // Shortened to fit by design; one line must still show whole.
        EXPECT_LE(font.lineHeight(), size.bottom) << "label too low for a line";
      } else {
        const SIZE need = font.Measure(text, size.right, (style & SS_NOPREFIX) != 0);
        EXPECT_LE(need.cx, size.right) << "label too narrow";
        EXPECT_LE(need.cy, size.bottom) << "label too low";
      }
    } else if (_wcsicmp(cls.c_str(), L"Edit") == 0) {
      if (!(style & ES_MULTILINE) || (style & WS_VSCROLL))
        EXPECT_LE(font.lineHeight(), size.bottom) << "text field too low for a line";
      else
        EXPECT_LE(Lines(c) * font.lineHeight(), size.bottom) << "text cut off, and no scroll bar";
    }
  }
  EXPECT_GT(controls, 0);
}

}  // namespace windowlook
