// The settings block: the version byte and then the install-info record's fields in one fixed
// order. The same bytes are the settings file tambrix.dat and the settings block of every
// produced archive, so the field table below is the only place that order is written down; the
// settings file's writer and tolerant reader and the archive reader's strict parser all walk it.
//
// Encodings of the kinds (support/tus_strings.h): a u8 is one byte; a string is a u16 byte count
// and the bytes (code page 1252), no NUL; a string list is a u16 count and that many strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "settings/install_inf.h"
#include "support/tus_strings.h"

// The first byte of every settings block; a block of another version is not read.
constexpr uint8_t kSettingsBlockVersion = 1;

enum class SettingsFieldKind : uint8_t { U8, String, StringList };

// One field of the block: its kind and the record member that holds it. Only the member pointer
// of the field's own kind is set.
struct SettingsField {
  SettingsFieldKind kind;
  uint8_t TInstallInf::*u8;
  std::string TInstallInf::*text;
  TUSStrings TInstallInf::*list;
};

constexpr SettingsField U8Field(uint8_t TInstallInf::*m) {
  return {SettingsFieldKind::U8, m, nullptr, nullptr};
}
constexpr SettingsField StringField(std::string TInstallInf::*m) {
  return {SettingsFieldKind::String, nullptr, m, nullptr};
}
constexpr SettingsField StringListField(TUSStrings TInstallInf::*m) {
  return {SettingsFieldKind::StringList, nullptr, nullptr, m};
}

// The fields after the version byte, in the order they are stored.
inline constexpr SettingsField kSettingsFields[] = {
    StringListField(&TInstallInf::SourcePaths),
    U8Field(&TInstallInf::StoreDirNames),
    U8Field(&TInstallInf::MaxCompression),
    StringField(&TInstallInf::TargetDir),
    StringField(&TInstallInf::SfxName),
    StringField(&TInstallInf::Command),
    StringField(&TInstallInf::SecondCommand),
    StringField(&TInstallInf::IconFile),
    StringField(&TInstallInf::DialogText),
    StringField(&TInstallInf::InfoTextBefore),
    StringField(&TInstallInf::InfoTextAfter),
    U8Field(&TInstallInf::Terminates),
    StringField(&TInstallInf::DialogTitle),
    U8Field(&TInstallInf::TargetEditable),
    U8Field(&TInstallInf::CleanUp),
};
constexpr size_t kSettingsFieldCount = std::size(kSettingsFields);

// Hands the fields of record to visitor in the stored order: visitor.U8(uint8_t&),
// visitor.String(std::string&) or visitor.List(TUSStrings&), as const references when record is
// const. Stops at the first call that returns false and returns false; true when every field was
// handed over.
template <class Record, class Visitor>
bool VisitSettingsFields(Record& record, Visitor& visitor) {
  for (const SettingsField& field : kSettingsFields) {
    bool ok = false;
    switch (field.kind) {
      case SettingsFieldKind::U8:
        ok = visitor.U8(record.*field.u8);
        break;
      case SettingsFieldKind::String:
        ok = visitor.String(record.*field.text);
        break;
      case SettingsFieldKind::StringList:
        ok = visitor.List(record.*field.list);
        break;
    }
    if (!ok) return false;
  }
  return true;
}

// True when the block's 16-bit counts can describe record: every string at most
// kMaxEncodedLength bytes, every list at most kMaxEncodedStrings strings of at most that length.
// A record that does not fit would be written cut short, so writers refuse it.
bool FitsSettingsBlock(const TInstallInf& record);

// The bytes the settings block of record takes, the version byte included, for a record that
// fits the block (FitsSettingsBlock).
uint64_t SettingsBlockSize(const TInstallInf& record);
