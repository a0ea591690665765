// Moving the whole text of a window into a string and back.
#pragma once

#include <windows.h>

#include <string>

// Assigns the window's whole text to text, however long it is ("" for an empty text).
void GetWindowTextString(std::string& text, HWND window);
// Sets the window's text to the characters of text.
void SetWindowTextString(const std::string& text, HWND window);
