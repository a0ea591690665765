// The version information of a Windows program (the RT_VERSION resource, VS_VERSIONINFO): written
// by the builder into a produced program and read back by tambrixc. Both directions live here so
// that the block layout is stated once.
//
// The layout: every block is wLength, wValueLength, wType (1 text, 0 binary), a NUL-terminated
// UTF-16 key, zero padding to 4 bytes, the value, zero padding to 4 bytes, then its children, each
// starting 4-aligned. wLength counts the block from its first byte to the end of its last child
// (trailing padding not counted); wValueLength counts WCHARs, the terminating zero included, for a
// text and bytes for binary data.
//
// Texts are code page 1252 in the program and UTF-16 in the resource. Readers return false with a
// reason (German, code page 1252) and never read outside the data they are given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace version_info {

// The one string table we write: German (0407), Unicode (04B0, code page 1200).
constexpr char kGermanUnicodeTable[] = "040704B0";
constexpr uint16_t kLanguageGerman = 0x0407;
constexpr uint16_t kCodePageUnicode = 1200;

// VS_FIXEDFILEINFO's mark.
constexpr uint32_t kFixedSignature = 0xFEEF04BD;

// A version number a.b.c.d as the four 16-bit parts.
struct VersionNumber {
  uint16_t part[4] = {0, 0, 0, 0};
};
bool operator==(const VersionNumber& a, const VersionNumber& b);

// The content of a version resource as this project uses it.
struct VersionInfo {
  VersionNumber fileVersion, productVersion;  // VS_FIXEDFILEINFO
  // The string pairs (key, value) of every string table in order, in code page 1252.
  std::vector<std::pair<std::string, std::string>> strings;
  // The string table's key as read ("040704B0" when written here); the first one when several.
  std::string table;
};

// Parses "a.b.c.d": one to four decimal parts of 0..65535 separated by single dots, no signs or
// blanks; missing parts are 0. False, with why naming the text, for anything else.
bool ParseVersionNumber(const std::string& text, VersionNumber& out, std::string* why);
// "a.b.c.d".
std::string VersionNumberText(const VersionNumber& v);

// Builds the resource for info (its table is always kGermanUnicodeTable, with the translation
// 0407/1200). False, with why, when a text holds a NUL byte or the whole would exceed the 16-bit
// lengths of the blocks.
bool BuildVersionInfo(const VersionInfo& info, std::vector<uint8_t>& out, std::string* why);

// Reads a version resource. Characters outside code page 1252 become '?'; blocks other than the
// string tables are skipped. False, with why, when a length or key does not fit the data, or the
// root block is not VS_VERSION_INFO with either no fixed info (versions 0) or one of 52 bytes whose
// signature is kFixedSignature.
bool ParseVersionInfo(const uint8_t* data, size_t size, VersionInfo& out, std::string* why);

}  // namespace version_info
