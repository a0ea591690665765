// The message window: dialog template IDD_STUB_BOX (icon and two buttons) laid out at run time
// for its text. The text sits in a read-only edit control, so that it can be selected and copied
// and, when it is taller than the monitor's work area, scrolled while the buttons stay in view.
// Every size comes from the dialog's font (dialog units, text metrics) and the system metrics,
// so the window follows the system DPI.
#include "stub/stub_box.h"

#include "stub/stub_ids.h"

namespace {

struct Box {
  std::wstring text;  // lines end in CR LF
  const std::wstring* title;
  const std::wstring* firstLabel;
  HWND owner;
  UINT flags;
};

// The edit control breaks lines only at CR LF; an archive's info text may end lines in LF alone.
std::wstring WithCrLf(const std::wstring& s) {
  std::wstring out;
  out.reserve(s.size() + s.size() / 16);
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == L'\n' && (i == 0 || s[i - 1] != L'\r')) out += L'\r';
    out += s[i];
  }
  return out;
}

// The answer to Escape and to closing the window.
int EscapeAnswer(UINT flags) {
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return IDCANCEL;
    case MB_YESNO:
      return IDNO;
  }
  return IDOK;
}

LPCWSTR SystemIcon(UINT flags) {
  switch (flags & MB_ICONMASK) {
    case MB_ICONERROR:
      return IDI_ERROR;
    case MB_ICONWARNING:
      return IDI_WARNING;
    case MB_ICONQUESTION:
      return IDI_QUESTION;
    case MB_ICONINFORMATION:
      return IDI_INFORMATION;
  }
  return nullptr;
}

// Width of a button's label as drawn (an & marks the access key and takes no room).
int LabelWidth(HDC dc, HWND button) {
  wchar_t label[128];
  int n = GetWindowTextW(button, label, 128);
  RECT r = {0, 0, 0, 0};
  DrawTextW(dc, label, n, &r, DT_CALCRECT | DT_SINGLELINE);
  return r.right;
}

HWND MakeTextControl(HWND dlg, HFONT font, const std::wstring& text, DWORD extraStyle,
                     const RECT& at) {
  HWND edit = CreateWindowExW(
      0, L"EDIT", nullptr,
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_READONLY | extraStyle, at.left,
      at.top, at.right - at.left, at.bottom - at.top, dlg,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_BOX_TEXT)), GetModuleHandleW(nullptr),
      nullptr);
  if (!edit) return nullptr;
  SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  SetWindowTextW(edit, text.c_str());
  return edit;
}

// The message window's layout, worked out in steps: the buttons and the icon chosen, the measures
// taken (dialog units, work area, text, labels, caption), the sizes fitted to the work area, then
// every control and the window placed. Sizes in pixels.
class BoxLayout {
 public:
  BoxLayout(HWND dlg, const Box& box) : dlg_(dlg), box_(box) {}

  // Title, button ids and labels for the kind of question, and the button Enter presses.
  void ChooseButtons() {
    SetWindowTextW(dlg_, box_.title->c_str());
    const UINT type = box_.flags & MB_TYPEMASK;
    buttons_[0] = GetDlgItem(dlg_, IDOK);
    buttons_[1] = GetDlgItem(dlg_, IDCANCEL);
    if (type == MB_YESNO) {
      SetWindowLongPtrW(buttons_[0], GWLP_ID, IDYES);
      SetWindowLongPtrW(buttons_[1], GWLP_ID, IDNO);
      SetWindowTextW(buttons_[0], L"&Ja");
      SetWindowTextW(buttons_[1], L"&Nein");
    } else if (type != MB_OKCANCEL) {
      DestroyWindow(buttons_[1]);
      count_ = 1;
    }
    if (!box_.firstLabel->empty()) SetWindowTextW(buttons_[0], box_.firstLabel->c_str());
    defButton_ = buttons_[(box_.flags & MB_DEFBUTTON2) && count_ == 2 ? 1 : 0];
  }

  // Margin, button size, the gaps between buttons and above them, and a comfortable reading
  // width of 60 average characters, given in dialog units.
  void MeasureUnits() {
    RECT base = {7, 7, 50, 14};
    RECT gaps = {4, 7, 240, 0};
    MapDialogRect(dlg_, &base);
    MapDialogRect(dlg_, &gaps);
    marginX_ = base.left, marginY_ = base.top, buttonW_ = base.right, buttonH_ = base.bottom;
    buttonGap_ = gaps.left, rowGap_ = gaps.top, readingW_ = gaps.right;
  }

  // The work area of the owner's monitor (or the window's), the room the frame takes, and so
  // the largest client area that fits.
  void MeasureWorkArea() {
    HMONITOR monitor = MonitorFromWindow(box_.owner ? box_.owner : dlg_, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO mi;
    mi.cbSize = sizeof(mi);
    if (GetMonitorInfoW(monitor, &mi))
      work_ = mi.rcWork;
    else
      SystemParametersInfoW(SPI_GETWORKAREA, 0, &work_, 0);
    RECT window, client;
    GetWindowRect(dlg_, &window);
    GetClientRect(dlg_, &client);
    frameW_ = (window.right - window.left) - client.right;
    frameH_ = (window.bottom - window.top) - client.bottom;
    maxClientW_ = (work_.right - work_.left) - frameW_;
    maxClientH_ = (work_.bottom - work_.top) - frameH_;
  }

  // The system icon of the message's kind; without one its control is hidden and the text
  // starts at the margin.
  void ChooseIcon() {
    iconControl_ = GetDlgItem(dlg_, IDC_BOX_ICON);
    LPCWSTR iconName = SystemIcon(box_.flags);
    icon_ = iconName ? LoadIconW(nullptr, iconName) : nullptr;
    if (icon_) {
      SendMessageW(iconControl_, STM_SETICON, reinterpret_cast<WPARAM>(icon_), 0);
      iconW_ = GetSystemMetrics(SM_CXICON);
      iconH_ = GetSystemMetrics(SM_CYICON);
    } else {
      ShowWindow(iconControl_, SW_HIDE);
    }
    textX_ = marginX_ + (icon_ ? iconW_ + marginX_ : 0);
  }

  // The text, the button labels and the caption measured in their fonts.
  void MeasureTexts() {
    font_ = reinterpret_cast<HFONT>(SendMessageW(dlg_, WM_GETFONT, 0, 0));
    HDC dc = GetDC(dlg_);
    HGDIOBJ oldFont = SelectObject(dc, font_);
    GetTextMetricsW(dc, &tm_);
    MeasureText(dc);
    MeasureButtons(dc);
    MeasureCaption(dc);
    SelectObject(dc, oldFont);
    ReleaseDC(dlg_, dc);
  }

  // The edit control itself tells how many lines the text takes at that width. A text taller
  // than the work area allows scrolls, with a scroll bar beside it. Then the client area's size.
  void FitSizes() {
    if (edit_) {
      SetWindowPos(edit_, nullptr, 0, 0, editW_, tm_.tmHeight, SWP_NOZORDER | SWP_NOACTIVATE);
      int lines = static_cast<int>(SendMessageW(edit_, EM_GETLINECOUNT, 0, 0));
      if (lines * tm_.tmHeight > textH_) textH_ = lines * tm_.tmHeight;
    }
    const int chromeH = marginY_ + rowGap_ + buttonH_ + marginY_;
    if (textH_ > maxClientH_ - chromeH) {
      textH_ = maxClientH_ - chromeH;
      if (textH_ < tm_.tmHeight) textH_ = tm_.tmHeight;
      editW_ += scrollW_;
      scrolls_ = true;
    }
    contentH_ = textH_ > iconH_ ? textH_ : iconH_;
    clientW_ = textX_ + editW_ + marginX_;
    if (clientW_ < buttonsW_ + 2 * marginX_) clientW_ = buttonsW_ + 2 * marginX_;
    if (clientW_ < captionW_) clientW_ = captionW_;
    if (clientW_ > maxClientW_) clientW_ = maxClientW_;
    clientH_ = marginY_ + contentH_ + rowGap_ + buttonH_ + marginY_;
  }

  // The text (a new control when it scrolls), the icon and the buttons in their places.
  void PlaceControls() {
    // A short text stands beside the middle of the icon, as in a message box.
    RECT at = {textX_, marginY_ + (contentH_ - textH_) / 2, textX_ + editW_, 0};
    at.bottom = at.top + textH_;
    if (scrolls_ && edit_) {
      DestroyWindow(edit_);
      edit_ = MakeTextControl(dlg_, font_, box_.text, WS_VSCROLL, at);
    }
    if (edit_) {
      SetWindowPos(edit_, iconControl_, at.left, at.top, editW_, textH_, SWP_NOACTIVATE);
      SendMessageW(edit_, EM_SETSEL, 0, 0);
    }
    if (icon_)
      SetWindowPos(iconControl_, nullptr, marginX_, marginY_, iconW_, iconH_,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    int x = clientW_ - marginX_ - buttonsW_;
    const int buttonY = clientH_ - marginY_ - buttonH_;
    for (int i = 0; i < count_; ++i) {
      SetWindowPos(buttons_[i], nullptr, x, buttonY, widths_[i], buttonH_,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      x += widths_[i] + buttonGap_;
    }
  }

  // Centred over the owner, or in the work area; never outside the work area.
  void PlaceWindow() {
    const int windowW = clientW_ + frameW_, windowH = clientH_ + frameH_;
    RECT area = work_;
    if (box_.owner && IsWindowVisible(box_.owner)) GetWindowRect(box_.owner, &area);
    int left = area.left + ((area.right - area.left) - windowW) / 2;
    int top = area.top + ((area.bottom - area.top) - windowH) / 2;
    if (left + windowW > work_.right) left = work_.right - windowW;
    if (top + windowH > work_.bottom) top = work_.bottom - windowH;
    if (left < work_.left) left = work_.left;
    if (top < work_.top) top = work_.top;
    SetWindowPos(dlg_, nullptr, left, top, windowW, windowH, SWP_NOZORDER | SWP_NOACTIVATE);
  }

  // The default button answers Enter and has the focus.
  void FocusDefault() {
    SendMessageW(dlg_, DM_SETDEFID, GetDlgCtrlID(defButton_), 0);
    SendMessageW(dlg_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(defButton_), TRUE);
  }

 private:
  // The text's width and height at the widest line that fits the reading width and the work
  // area. The edit control keeps margins inside; one average character more keeps its line
  // breaks where the measurement put them. A scroll bar is allowed for, so that a text that
  // must scroll still fits beside it.
  void MeasureText(HDC dc) {
    RECT probe = {0, 0, 0, tm_.tmHeight};
    edit_ = MakeTextControl(dlg_, font_, box_.text, 0, probe);
    LRESULT margins = edit_ ? SendMessageW(edit_, EM_GETMARGINS, 0, 0) : 0;
    const int slack = LOWORD(margins) + HIWORD(margins) + tm_.tmAveCharWidth;
    scrollW_ = GetSystemMetrics(SM_CXVSCROLL);
    int limit = maxClientW_ - textX_ - marginX_ - slack - scrollW_;
    if (limit > readingW_) limit = readingW_;
    if (limit < tm_.tmAveCharWidth) limit = tm_.tmAveCharWidth;
    RECT measured = {0, 0, limit, 0};
    DrawTextW(dc, box_.text.c_str(), static_cast<int>(box_.text.size()), &measured,
              DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX | DT_EXPANDTABS);
    // A word longer than a line (a deep path) is broken by the edit control, not widened for.
    editW_ = (measured.right < limit ? measured.right : limit) + slack;
    textH_ = measured.bottom > tm_.tmHeight ? measured.bottom : tm_.tmHeight;
  }

  // Each button as wide as its label with margins, at least the standard width.
  void MeasureButtons(HDC dc) {
    for (int i = 0; i < count_; ++i) {
      widths_[i] = LabelWidth(dc, buttons_[i]) + 2 * marginX_;
      if (widths_[i] < buttonW_) widths_[i] = buttonW_;
      buttonsW_ += widths_[i] + (i ? buttonGap_ : 0);
    }
  }

  // The caption needs its text and the close button.
  void MeasureCaption(HDC dc) {
    NONCLIENTMETRICSW ncm;
    ncm.cbSize = sizeof(ncm);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0)) return;
    HFONT captionFont = CreateFontIndirectW(&ncm.lfCaptionFont);
    SelectObject(dc, captionFont);
    SIZE size;
    if (GetTextExtentPoint32W(dc, box_.title->c_str(), static_cast<int>(box_.title->size()), &size))
      captionW_ = size.cx + 2 * GetSystemMetrics(SM_CXSIZE) + 2 * marginX_ - frameW_;
    SelectObject(dc, font_);
    DeleteObject(captionFont);
  }

  // Each step sets what it works out, in the order Layout() runs them (the window is laid out
  // once, and the stub counts its bytes); only what a step may leave alone starts with a value.
  HWND dlg_;
  const Box& box_;
  HWND buttons_[2];
  int count_ = 2;  // buttons shown
  HWND defButton_;
  int marginX_, marginY_, buttonW_, buttonH_, buttonGap_, rowGap_, readingW_;
  RECT work_;            // the monitor's work area
  int frameW_, frameH_;  // what the frame and caption add to the client area
  int maxClientW_, maxClientH_;
  HWND iconControl_;
  HICON icon_;
  int iconW_ = 0, iconH_ = 0;
  int textX_;  // the text's left edge
  HFONT font_;
  TEXTMETRICW tm_;
  HWND edit_;    // the text control
  int scrollW_;  // a vertical scroll bar's width
  int editW_, textH_;
  int widths_[2] = {0, 0};  // each button's width
  int buttonsW_ = 0;        // the row of buttons' width
  int captionW_ = 0;        // the client width the caption needs
  bool scrolls_ = false;
  int contentH_, clientW_, clientH_;
};

// Labels and ids of the buttons, the icon, the text control, then sizes and centres the window.
void Layout(HWND dlg, const Box& box) {
  BoxLayout layout(dlg, box);
  layout.ChooseButtons();
  layout.MeasureUnits();
  layout.MeasureWorkArea();
  layout.ChooseIcon();
  layout.MeasureTexts();
  layout.FitSizes();
  layout.PlaceControls();
  layout.PlaceWindow();
  layout.FocusDefault();
}

INT_PTR CALLBACK BoxProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG: {
      const Box* box = reinterpret_cast<const Box*>(lp);
      SetWindowLongPtrW(dlg, DWLP_USER, lp);
      // Without an owner the window stands alone: a button in the task bar, in front.
      if (!box->owner)
        SetWindowLongPtrW(dlg, GWL_EXSTYLE, GetWindowLongPtrW(dlg, GWL_EXSTYLE) | WS_EX_APPWINDOW);
      Layout(dlg, *box);
      if (!box->owner) SetForegroundWindow(dlg);
      return FALSE;  // the focus is on the default button already
    }
    case WM_CTLCOLORSTATIC:
      // The read-only text on the dialog's own background, as a message box shows it.
      SetTextColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_COMMAND: {
      if (HIWORD(wp) != BN_CLICKED) break;
      const Box* box = reinterpret_cast<const Box*>(GetWindowLongPtrW(dlg, DWLP_USER));
      const int id = LOWORD(wp);
      if (id == IDCANCEL)
        EndDialog(dlg, EscapeAnswer(box->flags));
      else if ((id == IDOK || id == IDYES || id == IDNO) && GetDlgItem(dlg, id))
        EndDialog(dlg, id);
      return TRUE;
    }
    case WM_CLOSE: {
      const Box* box = reinterpret_cast<const Box*>(GetWindowLongPtrW(dlg, DWLP_USER));
      EndDialog(dlg, EscapeAnswer(box->flags));
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace

int ShowBox(HWND owner, const std::wstring& text, const std::wstring& title, UINT flags,
            const std::wstring& firstLabel) {
  Box box = {WithCrLf(text), &title, &firstLabel, owner, flags};
  MessageBeep(flags & MB_ICONMASK);
  INT_PTR answer = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_STUB_BOX),
                                   owner, BoxProc, reinterpret_cast<LPARAM>(&box));
  // Without the window (no resources, no memory) the text still reaches the user.
  if (answer <= 0)
    return MessageBoxW(owner, box.text.c_str(), title.c_str(), flags | MB_SETFOREGROUND);
  return static_cast<int>(answer);
}
