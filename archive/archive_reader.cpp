#include "archive/archive_reader.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "archive/archive_layout.h"
#include "archive/pe_image.h"
#include "settings/settings_block.h"

namespace {

// Reason texts (code page 1252).
const char kWhyTooShort[] = "Die Datei ist zu kurz f\xFCr ein Archiv.";
const char kWhyOffset[] =
    "Die Datei enth\xE4lt keinen g\xFCltigen Verweis auf die Archiveinstellungen.";
const char kWhySettings[] = "Die Archiveinstellungen sind unvollst\xE4ndig oder ung\xFCltig.";
const char kWhyVersion[] = "Die Archiveinstellungen haben eine unbekannte Version.";
const char kWhyHeader[] =
    "Der Archivkopf fehlt oder ist besch\xE4"
    "digt.";
const char kWhyMethod[] = "Das Archiv nennt eine unbekannte Kompressionsmethode.";
const char kWhyEntryCut[] =
    "Ein Eintragskopf ist abgeschnitten oder besch\xE4"
    "digt.";
const char kWhyNameLength[] = "Ein Eintrag hat eine ung\xFCltige Namensl\xE4nge.";
const char kWhyEntryMethod[] = "Ein Eintrag weicht von der Methode des Archivs ab.";
const char kWhyEntryFields[] = "Ein Eintragskopf enth\xE4lt ung\xFCltige Werte.";
const char kWhyIncomplete[] =
    "Ein Eintrag ist unvollst\xE4ndig (die Erstellung des Archivs wurde abgebrochen).";
const char kWhyDataCut[] =
    "Die Daten eines Eintrags reichen \xFC"
    "ber das Archivende hinaus.";
const char kWhyIo[] = "Die Datei konnte nicht gelesen werden.";
const char kWhyCutOff[] =
    "Das Archiv ist abgeschnitten (der Download oder die Kopie wurde nicht beendet). Bitte laden "
    "Sie die Datei erneut herunter.";

// Reads fields one after another from [pos, limit) of a source; every read is checked against
// limit first, so nothing is ever allocated or read beyond what the region holds.
class Cursor {
 public:
  Cursor(ByteSource& src, uint64_t pos, uint64_t limit) : src_(src), pos_(pos), limit_(limit) {}

  uint64_t pos() const { return pos_; }
  uint64_t remaining() const { return pos_ < limit_ ? limit_ - pos_ : 0; }
  bool ioFailed() const { return ioFailed_; }

  bool Bytes(void* out, size_t n) {
    if (n > remaining()) return false;
    if (!src_.ReadAt(pos_, out, n)) {
      ioFailed_ = true;
      return false;
    }
    pos_ += n;
    return true;
  }
  bool Skip(uint64_t n) {
    if (n > remaining()) return false;
    pos_ += n;
    return true;
  }
  bool U8(uint8_t& v) { return Bytes(&v, 1); }
  bool U16(uint16_t& v) {
    uint8_t b[2];
    if (!Bytes(b, 2)) return false;
    v = GetU16(b);
    return true;
  }
  bool String(std::string& s) {
    uint16_t len = 0;
    if (!U16(len)) return false;
    if (len > remaining()) return false;
    std::string text(len, '\0');
    if (len && !Bytes(&text[0], len)) return false;
    s.swap(text);
    return true;
  }

 private:
  ByteSource& src_;
  uint64_t pos_;
  uint64_t limit_;
  bool ioFailed_ = false;
};

ReadStatus Fail(ReadStatus status, const char* text, std::string* why) {
  if (why) *why = text;
  return status;
}

// Reads the settings block's fields strictly from a cursor: every field must be there whole.
struct StrictFieldReader {
  Cursor& c;
  bool U8(uint8_t& v) { return c.U8(v); }
  bool String(std::string& s) { return c.String(s); }
  bool List(TUSStrings& list) {
    list.Clear();
    uint16_t raw = 0;
    if (!c.U16(raw)) return false;
    const int count = ListCountOf(raw);
    for (int i = 0; i < count; ++i) {
      std::string text;
      if (!c.String(text)) return false;
      list.Add(text);
    }
    return true;
  }
};

// The settings block in [c.pos(), limit), field by field as the settings block's table lists
// them.
ReadStatus ParseSettings(Cursor& c, TInstallInf& s, std::string* why) {
  uint8_t version = 0;
  if (!c.U8(version)) return Fail(ReadStatus::NotAnArchive, kWhySettings, why);
  if (version != kSettingsBlockVersion) return Fail(ReadStatus::NotAnArchive, kWhyVersion, why);
  StrictFieldReader reader{c};
  const bool ok = VisitSettingsFields(s, reader);
  if (c.ioFailed()) return Fail(ReadStatus::IoError, kWhyIo, why);
  if (!ok) return Fail(ReadStatus::NotAnArchive, kWhySettings, why);
  return ReadStatus::Ok;
}

bool IsZeroDate(const platform::DosTime& t) {
  return t.seconds2 == 0 && t.minute == 0 && t.hour == 0 && t.day == 0 && t.month == 0 &&
         t.year1980 == 0;
}

// The archive header at the start of the compressed part: magic, counts and the method.
ReadStatus ParseArchiveHeader(Cursor& c, ArchiveInfo& info, std::string* why) {
  uint8_t header[layout::kArchiveHeaderSize];
  if (!c.Bytes(header, sizeof header)) {
    if (c.ioFailed()) return Fail(ReadStatus::IoError, kWhyIo, why);
    return Fail(ReadStatus::Damaged, kWhyHeader, why);
  }
  if (std::memcmp(header, layout::kArchiveMagic, 4) != 0 ||
      GetU32(header + layout::kHdrReserved) != 0) {
    return Fail(ReadStatus::Damaged, kWhyHeader, why);
  }
  info.fileCount = GetU32(header + layout::kHdrFileCount);
  info.totalSize = GetU32(header + layout::kHdrTotalSize);
  info.method = header[layout::kHdrMethod];
  if (info.method != layout::kMethodBzip2 && info.method != layout::kMethodGzip) {
    return Fail(ReadStatus::Damaged, kWhyMethod, why);
  }
  return ReadStatus::Ok;
}

// One entry header and the skip over its data; every field is checked against the format.
ReadStatus ParseEntry(Cursor& c, uint8_t method, ArchiveEntry& e, std::string* why) {
  e.headerOffset = c.pos();
  uint16_t nameLength = 0;
  if (!c.U16(nameLength)) {
    if (c.ioFailed()) return Fail(ReadStatus::IoError, kWhyIo, why);
    return Fail(ReadStatus::Damaged, kWhyEntryCut, why);
  }
  if (nameLength == 0 || nameLength > layout::kMaxStoredName) {
    return Fail(ReadStatus::Damaged, kWhyNameLength, why);
  }
  uint8_t rest[layout::kMaxStoredName + layout::kEntryFixedSize - 2];
  const size_t restSize = nameLength + layout::kEntryFixedSize - 2;
  if (!c.Bytes(rest, restSize)) {
    if (c.ioFailed()) return Fail(ReadStatus::IoError, kWhyIo, why);
    return Fail(ReadStatus::Damaged, kWhyEntryCut, why);
  }
  e.name.assign(reinterpret_cast<const char*>(rest), nameLength);
  const uint8_t* f = rest + nameLength;
  e.time.seconds2 = GetU32(f + layout::kEntDate);
  e.time.minute = GetU32(f + layout::kEntDate + 4);
  e.time.hour = GetU32(f + layout::kEntDate + 8);
  e.time.day = GetU32(f + layout::kEntDate + 12);
  e.time.month = GetU32(f + layout::kEntDate + 16);
  e.time.year1980 = GetU32(f + layout::kEntDate + 20);
  e.size = GetU32(f + layout::kEntSize);
  e.compressedSize = GetU32(f + layout::kEntCompressedSize);
  e.method = f[layout::kEntMethod];
  if (e.method != method) return Fail(ReadStatus::Damaged, kWhyEntryMethod, why);
  if (f[layout::kEntZeroByte] != 0 || GetU32(f + layout::kEntZeroWord) != 0 ||
      e.size > layout::kMaxFileSize || e.compressedSize > layout::kMaxFileSize) {
    return Fail(ReadStatus::Damaged, kWhyEntryFields, why);
  }
  // A header that was never filled in: the build stopped while compressing this file. No
  // complete stream of either method is 0 bytes long.
  if (e.compressedSize == 0 || (e.size == 0 && IsZeroDate(e.time))) {
    return Fail(ReadStatus::Damaged, kWhyIncomplete, why);
  }
  e.dataOffset = c.pos();
  if (!c.Skip(e.compressedSize)) return Fail(ReadStatus::Damaged, kWhyDataCut, why);
  return ReadStatus::Ok;
}

// Parses the archive as if its payload ended at end (the 4-byte settings offset ends there).
ReadStatus ParseWithEnd(ByteSource& src, uint64_t end, ArchiveInfo& info, std::string* why) {
  info = ArchiveInfo();
  info.payloadEnd = end >= layout::kSettingsOffsetSize ? end - layout::kSettingsOffsetSize : 0;
  if (end < layout::kSettingsOffsetSize + 1)
    return Fail(ReadStatus::NotAnArchive, kWhyTooShort, why);
  const uint64_t limit = end - layout::kSettingsOffsetSize;  // end of the compressed part
  uint8_t raw[4];
  if (!src.ReadAt(limit, raw, 4)) return Fail(ReadStatus::IoError, kWhyIo, why);
  const uint64_t settingsOffset = GetU32(raw);
  // Every program file starts with its stub, so the offset is never 0, and the settings block
  // lies wholly before the offset field itself.
  if (settingsOffset == 0 || settingsOffset >= limit) {
    return Fail(ReadStatus::NotAnArchive, kWhyOffset, why);
  }
  info.settingsOffset = settingsOffset;

  Cursor c(src, settingsOffset, limit);
  const ReadStatus settingsStatus = ParseSettings(c, info.settings, why);
  if (settingsStatus != ReadStatus::Ok) return settingsStatus;
  if (c.remaining() == 0) return ReadStatus::Ok;  // no file was added: no compressed part

  info.hasCompressedPart = true;
  const ReadStatus headerStatus = ParseArchiveHeader(c, info, why);
  if (headerStatus != ReadStatus::Ok) return headerStatus;
  while (c.remaining() > 0) {
    ArchiveEntry e;
    const ReadStatus entryStatus = ParseEntry(c, info.method, e, why);
    if (entryStatus != ReadStatus::Ok) return entryStatus;
    info.entries.push_back(std::move(e));
  }
  return ReadStatus::Ok;
}

// True when the file holds a program followed by the start of an archive that the file's end
// does not close: the settings block lies right behind the program (where the builder puts it)
// but no valid settings offset ends the file. That is an archive cut short, not a file that never
// held one.
bool IsCutOffArchive(ByteSource& src) {
  pe::Image image;
  if (!pe::ReadImage(src, image) || image.imageEnd == 0) return false;
  const uint64_t size = src.Size();
  if (size < image.imageEnd) return true;  // even the program is cut
  if (size == image.imageEnd) return false;
  Cursor c(src, image.imageEnd, size);
  TInstallInf settings;
  return ParseSettings(c, settings, nullptr) == ReadStatus::Ok;
}

// The ends the unsigned payload may have had: a signer pads the file with up to 7 zero bytes to a
// multiple of 8 before the table, and the original length is not recorded anywhere, so each end
// from the table start downwards over zero bytes is a candidate.
std::vector<uint64_t> CandidateEnds(ByteSource& src) {
  const uint64_t table = pe::CertificateTableStart(src);
  if (table == 0) return {src.Size()};
  std::vector<uint64_t> ends{table};
  uint8_t tail[7] = {};
  const uint64_t back = table < 7 ? table : 7;
  if (src.ReadAt(table - back, tail, back)) {
    for (uint64_t i = 0; i < back && tail[back - 1 - i] == 0; ++i) ends.push_back(table - 1 - i);
  }
  return ends;
}

// The first stubLength bytes of a source: the stub in front of an archive, read as a file of its
// own so that nothing of it is looked for in the archive behind it.
class PrefixSource : public ByteSource {
 public:
  PrefixSource(ByteSource& src, uint64_t length) : src_(src), length_(length) {}
  uint64_t Size() const override { return length_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t n) override {
    return offset <= length_ && n <= length_ - offset && src_.ReadAt(offset, buffer, n);
  }

 private:
  ByteSource& src_;
  uint64_t length_;
};

// The method a stub of length stubLength names by its mark resource, or -1 when it is no program
// or has no such resource. The mark is read from the resource tree alone, so that the same text
// inside an icon or anywhere else in the program never counts.
int ReadStubMethod(ByteSource& src, uint64_t stubLength) {
  PrefixSource stub(src, stubLength);
  pe::Image image;
  std::vector<uint8_t> mark;
  if (!pe::ReadImage(stub, image) ||
      !pe::ReadResourceData(stub, image, pe::kTypeRcData, layout::kStubMethodResource, mark))
    return -1;
  for (uint8_t m : {layout::kMethodBzip2, layout::kMethodGzip}) {
    const std::string text = layout::kStubMethodMark + std::string(MethodName(m)) + ';';
    if (mark.size() < text.size() || std::memcmp(mark.data(), text.data(), text.size()) != 0)
      continue;
    // A resource compiler may close the text with zero bytes; nothing else may follow.
    if (std::all_of(mark.begin() + text.size(), mark.end(), [](uint8_t b) { return b == 0; }))
      return m;
  }
  return -1;
}

}  // namespace

ReadStatus ReadArchive(ByteSource& src, ArchiveInfo& info, std::string* why) {
  const std::vector<uint64_t> ends = CandidateEnds(src);
  std::string firstWhy;
  ReadStatus firstStatus = ReadStatus::Ok;
  for (size_t i = 0; i < ends.size(); ++i) {
    std::string reason;
    const ReadStatus status = ParseWithEnd(src, ends[i], info, &reason);
    if (status == ReadStatus::Ok) {
      info.signatureSize = src.Size() - ends[i];
      info.stubMethod = ReadStubMethod(src, info.settingsOffset);
      return status;
    }
    if (i == 0) {
      firstStatus = status;
      firstWhy = reason;
    }
  }
  // A PE file whose security directory happens to reach the end but whose payload does not sit
  // before it: read it as an unsigned file, and report the first failure if that fails too.
  if (ends.front() != src.Size()) {
    if (ParseWithEnd(src, src.Size(), info, nullptr) == ReadStatus::Ok) {
      info.stubMethod = ReadStubMethod(src, info.settingsOffset);
      return ReadStatus::Ok;
    }
  }
  info = ArchiveInfo();
  if (firstStatus == ReadStatus::NotAnArchive && IsCutOffArchive(src)) {
    if (why) *why = kWhyCutOff;
    return ReadStatus::Incomplete;
  }
  if (why) *why = firstWhy;
  return firstStatus;
}

uint64_t EntriesTotal(const ArchiveInfo& info) {
  uint64_t total = 0;
  for (const ArchiveEntry& e : info.entries) total += e.size;
  return total;
}

uint8_t SettingsMethod(const TInstallInf& settings) {
  return settings.MaxCompression != 0 ? layout::kMethodBzip2 : layout::kMethodGzip;
}

const char* MethodName(uint8_t method) { return method == layout::kMethodBzip2 ? "bzip2" : "gzip"; }

bool ArchiveUsesMethod(const ArchiveInfo& info, uint8_t method, std::string* why) {
  const uint8_t named = SettingsMethod(info.settings);
  if (named == method && (!info.hasCompressedPart || info.method == method)) return true;
  if (why) {
    *why = std::string("Die Einstellungen nennen die Methode ") + MethodName(named) +
           " (Maximale Kompression: " + std::to_string(info.settings.MaxCompression) + ")";
    if (info.hasCompressedPart)
      *why += std::string(", die Daten sind mit ") + MethodName(info.method) + " gepackt";
    *why += ".";
  }
  return false;
}

bool MethodsAgree(const ArchiveInfo& info, std::string* why) {
  const uint8_t named = SettingsMethod(info.settings);
  if (!ArchiveUsesMethod(info, named, why)) return false;
  if (info.stubMethod < 0 || info.stubMethod == named) return true;
  if (why) {
    *why = std::string("Das Entpackprogramm vor dem Archiv entpackt nur ") +
           MethodName(static_cast<uint8_t>(info.stubMethod)) +
           ", die Einstellungen nennen die Methode " + MethodName(named) +
           " (Maximale Kompression: " + std::to_string(info.settings.MaxCompression) + ").";
  }
  return false;
}
