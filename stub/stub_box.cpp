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

// Labels and ids of the buttons, the icon, the text control, then sizes and centres the window.
void Layout(HWND dlg, const Box& box) {
  SetWindowTextW(dlg, box.title->c_str());
  const UINT type = box.flags & MB_TYPEMASK;
  HWND buttons[2] = {GetDlgItem(dlg, IDOK), GetDlgItem(dlg, IDCANCEL)};
  int count = 2;
  if (type == MB_YESNO) {
    SetWindowLongPtrW(buttons[0], GWLP_ID, IDYES);
    SetWindowLongPtrW(buttons[1], GWLP_ID, IDNO);
    SetWindowTextW(buttons[0], L"&Ja");
    SetWindowTextW(buttons[1], L"&Nein");
  } else if (type != MB_OKCANCEL) {
    DestroyWindow(buttons[1]);
    count = 1;
  }
  if (!box.firstLabel->empty()) SetWindowTextW(buttons[0], box.firstLabel->c_str());
  HWND defButton = buttons[(box.flags & MB_DEFBUTTON2) && count == 2 ? 1 : 0];

  // Margin, button size, the gaps between buttons and above them, and a comfortable reading
  // width of 60 average characters, in dialog units.
  RECT base = {7, 7, 50, 14};
  RECT gaps = {4, 7, 240, 0};
  MapDialogRect(dlg, &base);
  MapDialogRect(dlg, &gaps);
  const int marginX = base.left, marginY = base.top, buttonW = base.right, buttonH = base.bottom;
  const int buttonGap = gaps.left, rowGap = gaps.top, readingW = gaps.right;

  HMONITOR monitor = MonitorFromWindow(box.owner ? box.owner : dlg, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO mi;
  mi.cbSize = sizeof(mi);
  RECT work;
  if (GetMonitorInfoW(monitor, &mi))
    work = mi.rcWork;
  else
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  RECT window, client;
  GetWindowRect(dlg, &window);
  GetClientRect(dlg, &client);
  const int frameW = (window.right - window.left) - client.right;
  const int frameH = (window.bottom - window.top) - client.bottom;
  const int maxClientW = (work.right - work.left) - frameW;
  const int maxClientH = (work.bottom - work.top) - frameH;

  HWND iconControl = GetDlgItem(dlg, IDC_BOX_ICON);
  LPCWSTR iconName = SystemIcon(box.flags);
  HICON icon = iconName ? LoadIconW(nullptr, iconName) : nullptr;
  int iconW = 0, iconH = 0;
  if (icon) {
    SendMessageW(iconControl, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    iconW = GetSystemMetrics(SM_CXICON);
    iconH = GetSystemMetrics(SM_CYICON);
  } else {
    ShowWindow(iconControl, SW_HIDE);
  }
  const int textX = marginX + (icon ? iconW + marginX : 0);

  HFONT font = reinterpret_cast<HFONT>(SendMessageW(dlg, WM_GETFONT, 0, 0));
  HDC dc = GetDC(dlg);
  HGDIOBJ oldFont = SelectObject(dc, font);
  TEXTMETRICW tm;
  GetTextMetricsW(dc, &tm);

  // The edit control keeps margins inside; one average character more keeps its line breaks
  // where the measurement put them. A scroll bar is allowed for, so that a text that must
  // scroll still fits beside it.
  RECT probe = {0, 0, 0, tm.tmHeight};
  HWND edit = MakeTextControl(dlg, font, box.text, 0, probe);
  LRESULT margins = edit ? SendMessageW(edit, EM_GETMARGINS, 0, 0) : 0;
  const int slack = LOWORD(margins) + HIWORD(margins) + tm.tmAveCharWidth;
  const int scrollW = GetSystemMetrics(SM_CXVSCROLL);
  int limit = maxClientW - textX - marginX - slack - scrollW;
  if (limit > readingW) limit = readingW;
  if (limit < tm.tmAveCharWidth) limit = tm.tmAveCharWidth;
  RECT measured = {0, 0, limit, 0};
  DrawTextW(dc, box.text.c_str(), static_cast<int>(box.text.size()), &measured,
            DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX | DT_EXPANDTABS);
  // A word longer than a line (a deep path) is broken by the edit control, not widened for.
  int editW = (measured.right < limit ? measured.right : limit) + slack;
  int textH = measured.bottom > tm.tmHeight ? measured.bottom : tm.tmHeight;

  int widths[2] = {0, 0};
  int buttonsW = 0;
  for (int i = 0; i < count; ++i) {
    widths[i] = LabelWidth(dc, buttons[i]) + 2 * marginX;
    if (widths[i] < buttonW) widths[i] = buttonW;
    buttonsW += widths[i] + (i ? buttonGap : 0);
  }
  // The caption needs its text and the close button.
  int captionW = 0;
  NONCLIENTMETRICSW ncm;
  ncm.cbSize = sizeof(ncm);
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0)) {
    HFONT captionFont = CreateFontIndirectW(&ncm.lfCaptionFont);
    SelectObject(dc, captionFont);
    SIZE size;
    if (GetTextExtentPoint32W(dc, box.title->c_str(), static_cast<int>(box.title->size()), &size))
      captionW = size.cx + 2 * GetSystemMetrics(SM_CXSIZE) + 2 * marginX - frameW;
    SelectObject(dc, font);
    DeleteObject(captionFont);
  }
  SelectObject(dc, oldFont);
  ReleaseDC(dlg, dc);

  // The edit control itself tells how many lines the text takes at that width.
  if (edit) {
    SetWindowPos(edit, nullptr, 0, 0, editW, tm.tmHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    int lines = static_cast<int>(SendMessageW(edit, EM_GETLINECOUNT, 0, 0));
    if (lines * tm.tmHeight > textH) textH = lines * tm.tmHeight;
  }
  const int chromeH = marginY + rowGap + buttonH + marginY;
  bool scrolls = false;
  if (textH > maxClientH - chromeH) {
    textH = maxClientH - chromeH;
    if (textH < tm.tmHeight) textH = tm.tmHeight;
    editW += scrollW;
    scrolls = true;
  }
  const int contentH = textH > iconH ? textH : iconH;
  int clientW = textX + editW + marginX;
  if (clientW < buttonsW + 2 * marginX) clientW = buttonsW + 2 * marginX;
  if (clientW < captionW) clientW = captionW;
  if (clientW > maxClientW) clientW = maxClientW;
  const int clientH = marginY + contentH + rowGap + buttonH + marginY;

  // A short text stands beside the middle of the icon, as in a message box.
  RECT at = {textX, marginY + (contentH - textH) / 2, textX + editW, 0};
  at.bottom = at.top + textH;
  if (scrolls && edit) {
    DestroyWindow(edit);
    edit = MakeTextControl(dlg, font, box.text, WS_VSCROLL, at);
  }
  if (edit) {
    SetWindowPos(edit, iconControl, at.left, at.top, editW, textH, SWP_NOACTIVATE);
    SendMessageW(edit, EM_SETSEL, 0, 0);
  }
  if (icon) SetWindowPos(iconControl, nullptr, marginX, marginY, iconW, iconH,
                         SWP_NOZORDER | SWP_NOACTIVATE);
  int x = clientW - marginX - buttonsW;
  const int buttonY = clientH - marginY - buttonH;
  for (int i = 0; i < count; ++i) {
    SetWindowPos(buttons[i], nullptr, x, buttonY, widths[i], buttonH,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    x += widths[i] + buttonGap;
  }

  // Centred over the owner, or in the work area; never outside the work area.
  const int windowW = clientW + frameW, windowH = clientH + frameH;
  RECT area = work;
  if (box.owner && IsWindowVisible(box.owner)) GetWindowRect(box.owner, &area);
  int left = area.left + ((area.right - area.left) - windowW) / 2;
  int top = area.top + ((area.bottom - area.top) - windowH) / 2;
  if (left + windowW > work.right) left = work.right - windowW;
  if (top + windowH > work.bottom) top = work.bottom - windowH;
  if (left < work.left) left = work.left;
  if (top < work.top) top = work.top;
  SetWindowPos(dlg, nullptr, left, top, windowW, windowH, SWP_NOZORDER | SWP_NOACTIVATE);

  SendMessageW(dlg, DM_SETDEFID, GetDlgCtrlID(defButton), 0);
  SendMessageW(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(defButton), TRUE);
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
