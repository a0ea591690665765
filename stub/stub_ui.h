// The extractor's one window: the dialog with the text and the target folder, which turns into the
// progress display while unpacking. Built from dialog template IDD_STUB_MAIN; runs modeless so that
// the unpacking loop can keep it alive between chunks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "stub/stub_box.h"

class StubWindow {
 public:
  StubWindow(HINSTANCE instance, const std::wstring& title);
  ~StubWindow();
  StubWindow(const StubWindow&) = delete;
  StubWindow& operator=(const StubWindow&) = delete;

  // Shows text and target and waits for "Entpacken" (true, target holds the field's text) or
  // "Abbrechen" (false). The field is read-only and browsing hidden unless editable.
  bool AskTarget(const std::wstring& text, std::wstring& target, bool editable);
  // Turns the window into the progress display for total bytes; text replaces the dialog text
  // when not empty (for a test run).
  bool BeginProgress(const std::wstring& text, uint64_t total);
  // Names the file being worked on (shown at the next update).
  void SetCurrent(const std::wstring& name);
  // Records the bytes done, updates the display now and then and handles waiting messages.
  // False once the user has cancelled: Abbrechen (or closing the window) asks once whether to
  // cancel, and the unpacking waits for the answer.
  bool Tick(uint64_t done);
  void Close();
  HWND hwnd() const { return hwnd_; }

 private:
  enum class Choice { Waiting, Unpack, Cancel };
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  INT_PTR HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  void OnCommand(int id);
  void OnUnpack();
  void OnCancel();
  void OnBrowse();
  bool Create();
  void Pump();
  void Update();

  HINSTANCE instance_;
  std::wstring title_;
  HWND hwnd_ = nullptr;
  Choice choice_ = Choice::Waiting;
  bool working_ = false;
  bool cancelled_ = false;
  bool asking_ = false;  // the question whether to cancel is open
  uint64_t total_ = 0;
  uint64_t done_ = 0;
  std::wstring current_;
  bool currentChanged_ = false;
  DWORD lastUpdate_ = 0;
};

// Makes the progress bar class available (common controls, loaded from the system only).
void LoadCommonControls();
