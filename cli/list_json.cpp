// tambrixc list --json: the archive as a JSON document for scripts. The output is pure ASCII:
// every code page 1252 character beyond it is written as its \u escape, so the document is valid
// UTF-8 whatever the console's encoding.
#include <cstdio>

#include "archive/archive_layout.h"
#include "cli/commands.h"
#include "platform/name_case.h"

namespace {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c >= 0x20 && c < 0x7F) {
      out += ch;
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", platform::CodePointOf1252(c));
      out += escape;
    }
  }
  return out + "\"";
}

std::string Flag(uint8_t value) { return value != 0 ? "true" : "false"; }

std::string Two(uint32_t v) { return (v < 10 ? "0" : "") + std::to_string(v); }

// ISO 8601 without a zone: the stored time is the builder's local time (or UTC when it was
// limited by SOURCE_DATE_EPOCH), and the archive does not say which.
std::string IsoTime(const platform::DosTime& t) {
  return std::to_string(1980 + t.year1980) + "-" + Two(t.month) + "-" + Two(t.day) + "T" +
         Two(t.hour) + ":" + Two(t.minute) + ":" + Two(t.seconds2 * 2);
}

// The program in front of the archive: its icon, version information and elevation level.
std::string ProgramJson(const StubLookInfo& look) {
  const char* icon = look.icon == StubLookInfo::Icon::Own        ? "own"
                     : look.icon == StubLookInfo::Icon::Replaced ? "replaced"
                                                                 : "none";
  std::string j = "  \"program\": {\n";
  j += std::string("    \"icon\": \"") + icon + "\",\n";
  j += "    \"executionLevel\": " +
       (look.level.empty() ? std::string("null") : JsonString(look.level)) + ",\n";
  if (!look.hasVersion) return j + "    \"version\": null\n  },\n";
  j += "    \"version\": {\n";
  j += "      \"fileVersion\": " +
       JsonString(version_info::VersionNumberText(look.version.fileVersion)) + ",\n";
  j += "      \"productVersion\": " +
       JsonString(version_info::VersionNumberText(look.version.productVersion)) + ",\n";
  j += "      \"texts\": {";
  for (size_t i = 0; i < look.version.strings.size(); ++i) {
    j += std::string(i > 0 ? "," : "") + "\n        " + JsonString(look.version.strings[i].first) +
         ": " + JsonString(look.version.strings[i].second);
  }
  j += look.version.strings.empty() ? "}\n" : "\n      }\n";
  return j + "    }\n  },\n";
}

}  // namespace

std::string ArchiveJson(const std::string& path, const ArchiveInfo& info, const StubLookInfo& look,
                        const std::string& problem) {
  const TInstallInf& s = info.settings;
  std::string j = "{\n";
  j += "  \"archive\": " + JsonString(path) + ",\n";
  j += "  \"settingsOffset\": " + std::to_string(info.settingsOffset) + ",\n";
  j += "  \"signatureSize\": " + std::to_string(info.signatureSize) + ",\n";
  j += ProgramJson(look);
  j += "  \"settings\": {\n";
  j += "    \"sourcePaths\": [";
  for (int i = 0; i < s.SourcePaths.Count(); ++i) {
    j += (i > 0 ? ", " : "") + JsonString(s.SourcePaths.At(i));
  }
  j += "],\n";
  j += "    \"storeDirNames\": " + Flag(s.StoreDirNames) + ",\n";
  j += "    \"maxCompression\": " + Flag(s.MaxCompression) + ",\n";
  j += "    \"targetDir\": " + JsonString(s.TargetDir) + ",\n";
  j += "    \"sfxName\": " + JsonString(s.SfxName) + ",\n";
  j += "    \"command\": " + JsonString(s.Command) + ",\n";
  j += "    \"secondCommand\": " + JsonString(s.SecondCommand) + ",\n";
  j += "    \"iconFile\": " + JsonString(s.IconFile) + ",\n";
  j += "    \"dialogTitle\": " + JsonString(s.DialogTitle) + ",\n";
  j += "    \"dialogText\": " + JsonString(s.DialogText) + ",\n";
  j += "    \"infoTextBefore\": " + JsonString(s.InfoTextBefore) + ",\n";
  j += "    \"infoTextAfter\": " + JsonString(s.InfoTextAfter) + ",\n";
  j += "    \"terminates\": " + Flag(s.Terminates) + ",\n";
  j += "    \"targetEditable\": " + Flag(s.TargetEditable) + ",\n";
  j += "    \"cleanUp\": " + Flag(s.CleanUp) + "\n";
  j += "  },\n";
  if (!info.hasCompressedPart) {
    j +=
        "  \"method\": null,\n  \"fileCount\": 0,\n  \"totalSize\": 0,\n  \"headerTotalSize\": 0,\n"
        "  \"entries\": [],\n";
  } else {
    j += std::string("  \"method\": ") +
         (info.method == layout::kMethodBzip2 ? "\"bzip2\"" : "\"gzip\"") + ",\n";
    j += "  \"fileCount\": " + std::to_string(info.fileCount) + ",\n";
    // The sum of the entries; the header's 32-bit field beside it, for comparison.
    j += "  \"totalSize\": " + std::to_string(EntriesTotal(info)) + ",\n";
    j += "  \"headerTotalSize\": " + std::to_string(info.totalSize) + ",\n";
    j += "  \"entries\": [";
    for (size_t i = 0; i < info.entries.size(); ++i) {
      const ArchiveEntry& e = info.entries[i];
      j += std::string(i > 0 ? "," : "") + "\n    {\"name\": " + JsonString(e.name) +
           ", \"size\": " + std::to_string(e.size) +
           ", \"compressedSize\": " + std::to_string(e.compressedSize) + ", \"time\": \"" +
           IsoTime(e.time) + "\"}";
    }
    j += info.entries.empty() ? "],\n" : "\n  ],\n";
  }
  const bool complete = !info.hasCompressedPart || info.entries.size() == info.fileCount;
  j += std::string("  \"complete\": ") + (complete ? "true" : "false") + ",\n";
  j += "  \"problem\": " + (problem.empty() ? std::string("null") : JsonString(problem)) + "\n";
  j += "}\n";
  return j;
}
