// The file and directory choosers of the main dialog. They work in UTF-16, as the system's
// choosers do; a chosen path becomes one of the program's code page 1252 strings only when it
// converts exactly, else a message names it and nothing changes.
#pragma once

#include <windows.h>

#include <string>

// Size of the path buffers the choosers work on: a path of at most 259 characters and its NUL.
constexpr int kPathBufferSize = MAX_PATH;

// Shows the shell's folder browser with the directory path preselected. True when a file-system
// directory was chosen; it is then in path. False (path unchanged) when the user cancelled.
bool BrowseForDirectory(HWND owner, std::wstring& path);

// Shows the Open (open true) or Save dialog. path holds the initial file name and receives the
// chosen path. filter uses "|" between and after its parts; the default extension is "*". When
// the dialog refuses to start (for example because of the initial name) it is shown once more
// with an empty name. True when a file was chosen; false leaves path unchanged.
bool ChooseFile(HWND owner, std::wstring& path, bool open, const char* filter, DWORD flags);

// "Pfad...": lets the user pick the source directory; the browser starts at the directory chosen
// last in this run. The choice goes into field 101 of dialog.
void ChooseSourceDirectory(HWND dialog);
// "Datei..." beside "SFX-Name:": a Save dialog starting from the stored SfxName of Settings; the
// choice goes into Settings and into field 117.
void ChooseSfxName(HWND dialog);
// "Datei..." beside "Programmsymbol:": an Open dialog for icon files starting from the text of
// field 115; the choice goes into field 115.
void ChooseIconFile(HWND dialog);
// "Datei..." beside a text field: an Open dialog (one remembered name for all three buttons);
// the chosen file's text replaces the text of the field targetId.
void ChooseTextFile(HWND dialog, int targetId);
