// Resource and control ids of the extractor program (shared by stub.rc and the code).
#pragma once

#define IDD_STUB_MAIN 100
#define IDC_STUB_TEXT 101
#define IDC_STUB_TARGET_LABEL 102
#define IDC_STUB_TARGET 103
#define IDC_STUB_BROWSE 104
#define IDC_STUB_PROGRESS 105
#define IDC_STUB_CURRENT 106

// The manifest (common controls 6, asInvoker, DPI awareness).
#define IDR_STUB_MANIFEST 1

// The method mark (archive/archive_layout.h, kStubMethodMark) by which readers know the stub.
#define IDR_STUB_METHOD 200

// The message window (stub/stub_box.h): its text and icon; the buttons are IDOK and IDCANCEL, or
// IDYES and IDNO.
#define IDD_STUB_BOX 110
#define IDC_BOX_TEXT 111
#define IDC_BOX_ICON 112
