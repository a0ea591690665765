// How the extractor's windows look at the screen's DPI: the checks of tests/window_look.h in the
// extractor's dialog font at the DPI that TAMBRIX_STUB_DPI names, which a run must see.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/e2e/stub_driver.h"
#include "tests/window_look.h"

namespace stubtest {

using namespace windowlook;

inline int ExpectedDpi() { return _wtoi(Env(L"TAMBRIX_STUB_DPI").c_str()); }

// ExpectLaidOut of tests/window_look.h at the DPI of this run, in the extractor's dialog font.
inline void ExpectLaidOut(HWND window, const char* what) {
  windowlook::ExpectLaidOut(window, what, ExpectedDpi());
}

}  // namespace stubtest
