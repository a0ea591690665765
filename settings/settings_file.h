// The settings file tambrix.dat beside the program, and the record's binary layout, which is also
// the settings block of every produced archive.
#pragma once

#include <cstdio>
#include <string>

#include "settings/install_inf.h"

// Writes the version byte and the record's fields in the order of settings/settings_block.h.
// False, with nothing written, when the record does not fit the block's 16-bit counts; false on a
// short write.
bool WriteInstallInf(const TInstallInf& record, std::FILE* f);
// Reads a version byte; if it is kSettingsBlockVersion, reads the fields in order into record,
// each field that the file still holds (a field beyond the end keeps its value). False when the
// version differs or the data ended early.
bool ReadInstallInf(TInstallInf& record, std::FILE* f);

// ProgramDir + "tambrix.dat".
std::string SettingsFilePath();
// Loads path (default: SettingsFilePath()) into record; a missing or unusable file leaves the
// defaults. Returns true when a version-1 file was read.
bool LoadSettingsFile(TInstallInf& record, const std::string& path = std::string());
// Trims the record's texts, then writes it to a temporary file beside path and replaces path only
// when every byte was written; on failure the previous file stays whole. False on failure.
bool SaveSettingsFile(TInstallInf& record, const std::string& path = std::string());
