// Moving the whole text of a window into a string and back. The windows hold UTF-16; the program
// keeps code page 1252 strings, so a text is taken only when every character has a byte of its
// own in that code page (never a look-alike, never a question mark).
#pragma once

#include <windows.h>

#include <string>

// The window's whole text as it stands there, however long it is.
std::wstring WindowTextWide(HWND window);
// Assigns the window's whole text to text. False, text unchanged, when the window's text holds a
// character code page 1252 lacks.
bool GetWindowTextString(std::string& text, HWND window);
// Sets the window's text to the characters of text.
void SetWindowTextString(const std::string& text, HWND window);

// A message box: subject (which names typed, the text concerned, as it stands) holds characters
// code page 1252 lacks; they are listed, and consequence says what follows from it.
void ShowOutsideCodePage(HWND owner, const std::wstring& subject, const std::wstring& typed,
                         const std::string& consequence);
