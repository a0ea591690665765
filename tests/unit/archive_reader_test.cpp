// The archive reader and the entry decoders against archives assembled byte by byte here, so the
// reader is checked independently of the writer.
#include "archive/archive_reader.h"

#include <bzlib.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/archive_layout.h"
#include "archive/entry_decoder.h"
#include "archive/file_byte_source.h"
#include "archive/pe_image.h"
#include "archive/stored_name.h"
#include "tests/unit/pe_test_image.h"
#include "tests/unit/test_util.h"

namespace {

using Bytes = std::string;

void Put16(Bytes& b, uint16_t v) {
  b += static_cast<char>(v & 0xFF);
  b += static_cast<char>(v >> 8);
}
void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutStr(Bytes& b, const std::string& s) {
  Put16(b, static_cast<uint16_t>(s.size()));
  b += s;
}

Bytes Bzip2(const Bytes& data) {
  unsigned int outLen = static_cast<unsigned int>(data.size() + data.size() / 100 + 700);
  Bytes out(outLen, '\0');
  Bytes in = data + '\0';  // never a null source, even for no data
  const int rc = BZ2_bzBuffToBuffCompress(&out[0], &outLen, &in[0],
                                          static_cast<unsigned int>(data.size()), 9, 0, 0);
  EXPECT_EQ(rc, BZ_OK);
  out.resize(outLen);
  return out;
}

Bytes Gzip(const Bytes& data) {
  z_stream s{};
  EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes out(deflateBound(&s, data.size()) + 64, '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(&out[0]);
  s.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

struct TestFile {
  std::string name;
  Bytes data;
};

// Assembles a program file: stub, settings block, compressed part, settings offset.
struct ArchiveMaker {
  Bytes stub = Bytes("MZ-placeholder-stub", 19);
  std::string sourcePath = "C:\\Daten";
  std::string title = "ZAL Self-Extractor";
  uint8_t method = layout::kMethodGzip;
  int maxCompression = -1;  // the MaxCompression setting; -1: the one that belongs to method
  std::vector<TestFile> files;

  Bytes Settings() const {
    Bytes b;
    b += '\x01';
    Put16(b, 1);
    PutStr(b, sourcePath);
    b += '\x01';  // StoreDirNames
    b += static_cast<char>(maxCompression >= 0              ? maxCompression
                           : method == layout::kMethodBzip2 ? 1
                                                            : 0);
    PutStr(b, "C:\\Ziel");
    PutStr(b, "out.exe");
    PutStr(b, "setup.exe");
    PutStr(b, "");
    PutStr(b, "");
    PutStr(b, "Dialogtext");
    PutStr(b, "vorher");
    PutStr(b, "nachher");
    b += '\x00';  // Terminates
    PutStr(b, title);
    b += '\x01';  // TargetEditable
    b += '\x00';  // CleanUp
    return b;
  }

  Bytes Entry(const TestFile& f) const {
    const Bytes data = method == layout::kMethodBzip2 ? Bzip2(f.data) : Gzip(f.data);
    Bytes b;
    Put16(b, static_cast<uint16_t>(f.name.size()));
    b += f.name;
    for (uint32_t v : {29u, 31u, 14u, 7u, 12u, 46u}) Put32(b, v);
    Put32(b, static_cast<uint32_t>(f.data.size()));
    Put32(b, static_cast<uint32_t>(data.size()));
    b += static_cast<char>(method);
    b += '\x00';
    Put32(b, 0);
    return b + data;
  }

  Bytes CompressedPart() const {
    if (files.empty()) return Bytes();
    Bytes b("SFX2", 4);
    uint32_t total = 0;
    for (const TestFile& f : files) total += static_cast<uint32_t>(f.data.size());
    Put32(b, static_cast<uint32_t>(files.size()));
    Put32(b, total);
    Put32(b, 0);
    b += static_cast<char>(method);
    for (const TestFile& f : files) b += Entry(f);
    return b;
  }

  Bytes Build() const {
    Bytes b = stub + Settings() + CompressedPart();
    Put32(b, static_cast<uint32_t>(stub.size()));
    return b;
  }
};

// A minimal PE32+ program of 1024 bytes (the offset 1024 has a zero high byte, like most stubs):
// headers up to 512, one section whose raw data fills the rest, and an empty security directory
// (data directory 4) that a signer fills in.
Bytes PeStub() {
  Bytes stub(1024, '\0');
  stub[0] = 'M';
  stub[1] = 'Z';
  PutU32(reinterpret_cast<uint8_t*>(&stub[0x3C]), 0x80);
  std::memcpy(&stub[0x80], "PE\0\0", 4);
  PutU16(reinterpret_cast<uint8_t*>(&stub[0x80 + 4 + 2]), 1);     // NumberOfSections
  PutU16(reinterpret_cast<uint8_t*>(&stub[0x80 + 4 + 16]), 240);  // SizeOfOptionalHeader
  const size_t opt = 0x80 + 24;
  PutU16(reinterpret_cast<uint8_t*>(&stub[opt]), 0x20b);
  PutU32(reinterpret_cast<uint8_t*>(&stub[opt + 60]), 512);   // SizeOfHeaders
  PutU32(reinterpret_cast<uint8_t*>(&stub[opt + 108]), 16);  // NumberOfRvaAndSizes
  const size_t section = opt + 240;
  std::memcpy(&stub[section], ".text", 5);
  PutU32(reinterpret_cast<uint8_t*>(&stub[section + 16]), 512);  // SizeOfRawData
  PutU32(reinterpret_cast<uint8_t*>(&stub[section + 20]), 512);  // PointerToRawData
  return stub;
}

std::vector<TestFile> SampleFiles() {
  Bytes binary;
  for (int i = 0; i < 3000; ++i) binary += static_cast<char>((i * 7919) % 251);
  return {{"\\a.txt", "Hallo Welt\r\n"}, {"\\sub\\leer.dat", ""}, {"\\sub\\bin\xE4r.bin", binary}};
}

DecodeStatus Decode(ByteSource& src, const ArchiveEntry& e, Bytes* out) {
  ByteSink sink = [out](const uint8_t* p, size_t n) {
    out->append(reinterpret_cast<const char*>(p), n);
    return true;
  };
  return e.method == layout::kMethodBzip2 ? DecodeBzip2Entry(src, e, sink)
                                          : DecodeGzipEntry(src, e, sink);
}

ReadStatus Read(const Bytes& bytes, ArchiveInfo& info, std::string* why = nullptr) {
  MemoryByteSource src(bytes.data(), bytes.size());
  return ReadArchive(src, info, why);
}

// True when the archive reads and every entry decodes to exactly the data it had when made.
// Names and dates are not covered by any checksum; the data always is.
bool ReadsAndDecodesFully(const Bytes& bytes, const std::vector<TestFile>& originals) {
  MemoryByteSource src(bytes.data(), bytes.size());
  ArchiveInfo info;
  if (ReadArchive(src, info) != ReadStatus::Ok) return false;
  for (size_t i = 0; i < info.entries.size(); ++i) {
    Bytes out;
    if (Decode(src, info.entries[i], &out) != DecodeStatus::Ok) return false;
    // Whatever decodes must be one of the files put in, never altered bytes.
    EXPECT_LT(i, originals.size());
    if (i < originals.size()) {
      EXPECT_EQ(out, originals[i].data) << "entry " << i;
    }
  }
  return true;
}

class ArchiveReaderTest : public ::testing::TestWithParam<uint8_t> {
 protected:
  ArchiveMaker Maker() const {
    ArchiveMaker m;
    m.method = GetParam();
    m.files = SampleFiles();
    return m;
  }
};

TEST_P(ArchiveReaderTest, GoodArchiveReadsAndDecodes) {
  const ArchiveMaker m = Maker();
  const Bytes bytes = m.Build();
  MemoryByteSource src(bytes.data(), bytes.size());
  ArchiveInfo info;
  std::string why;
  ASSERT_EQ(ReadArchive(src, info, &why), ReadStatus::Ok) << why;
  EXPECT_EQ(info.settingsOffset, m.stub.size());
  EXPECT_EQ(info.payloadEnd, bytes.size() - 4);
  EXPECT_EQ(info.signatureSize, 0u);
  ASSERT_EQ(info.settings.SourcePaths.Count(), 1);
  EXPECT_EQ(info.settings.SourcePaths.At(0), "C:\\Daten");
  EXPECT_EQ(info.settings.TargetDir, "C:\\Ziel");
  EXPECT_EQ(info.settings.Command, "setup.exe");
  EXPECT_EQ(info.settings.InfoTextAfter, "nachher");
  EXPECT_EQ(info.settings.DialogTitle, "ZAL Self-Extractor");
  EXPECT_EQ(info.settings.TargetEditable, 1);
  EXPECT_EQ(info.settings.MaxCompression, m.method == layout::kMethodBzip2 ? 1 : 0);
  EXPECT_TRUE(info.hasCompressedPart);
  EXPECT_EQ(info.fileCount, 3u);
  EXPECT_EQ(info.method, m.method);
  ASSERT_EQ(info.entries.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const ArchiveEntry& e = info.entries[i];
    EXPECT_EQ(e.name, m.files[i].name);
    EXPECT_EQ(e.size, m.files[i].data.size());
    EXPECT_EQ(e.time.seconds2, 29u);
    EXPECT_EQ(e.time.minute, 31u);
    EXPECT_EQ(e.time.hour, 14u);
    EXPECT_EQ(e.time.day, 7u);
    EXPECT_EQ(e.time.month, 12u);
    EXPECT_EQ(e.time.year1980, 46u);
    EXPECT_EQ(e.dataOffset, e.headerOffset + 40 + e.name.size());
    Bytes out;
    EXPECT_EQ(Decode(src, e, &out), DecodeStatus::Ok);
    EXPECT_EQ(out, m.files[i].data);
  }
}

TEST_P(ArchiveReaderTest, SettingsNameTheMethodOfTheStubAndOfTheData) {
  const uint8_t own = GetParam();
  const uint8_t other = own == layout::kMethodBzip2 ? layout::kMethodGzip : layout::kMethodBzip2;
  ArchiveMaker m = Maker();
  ArchiveInfo info;
  ASSERT_EQ(Read(m.Build(), info), ReadStatus::Ok);
  EXPECT_EQ(SettingsMethod(info.settings), own);
  EXPECT_TRUE(MethodsAgree(info));
  EXPECT_TRUE(ArchiveUsesMethod(info, own));
  std::string why;
  EXPECT_FALSE(ArchiveUsesMethod(info, other, &why));
  EXPECT_NE(why.find(std::string("Methode ") + MethodName(own)), std::string::npos) << why;

  // Settings naming the other method than the data: no stub unpacks it, no reader accepts it.
  m.maxCompression = own == layout::kMethodBzip2 ? 0 : 1;
  ASSERT_EQ(Read(m.Build(), info), ReadStatus::Ok);
  EXPECT_EQ(SettingsMethod(info.settings), other);
  EXPECT_FALSE(ArchiveUsesMethod(info, own));
  EXPECT_FALSE(ArchiveUsesMethod(info, other));
  why.clear();
  EXPECT_FALSE(MethodsAgree(info, &why));
  EXPECT_NE(why.find(std::string("Methode ") + MethodName(other)), std::string::npos) << why;
  EXPECT_NE(why.find(std::string("mit ") + MethodName(own) + " gepackt"), std::string::npos) << why;
  why.clear();
  EXPECT_FALSE(IsUnpackable(info, &why));
  EXPECT_NE(why.find("Maximale Kompression"), std::string::npos) << why;

  // Without files only the settings name a method; any value but 0 is bzip2, as for the builder.
  m.files.clear();
  ASSERT_EQ(Read(m.Build(), info), ReadStatus::Ok);
  EXPECT_TRUE(MethodsAgree(info));
  EXPECT_TRUE(ArchiveUsesMethod(info, other));
  EXPECT_FALSE(ArchiveUsesMethod(info, own));
  m.maxCompression = 0xF2;
  ASSERT_EQ(Read(m.Build(), info), ReadStatus::Ok);
  EXPECT_EQ(SettingsMethod(info.settings), layout::kMethodBzip2);
}

TEST_P(ArchiveReaderTest, TheStubInFrontIsKnownByItsMarkResource) {
  const uint8_t own = GetParam();
  const uint8_t other = own == layout::kMethodBzip2 ? layout::kMethodGzip : layout::kMethodBzip2;
  const auto markOf = [](uint8_t method) {
    return std::string(layout::kStubMethodMark) + MethodName(method) + ";";
  };
  const auto mark = [](const std::string& text, uint16_t id = layout::kStubMethodResource) {
    return testutil::TextResource(pe::kTypeRcData, id, text);
  };
  ArchiveMaker m = Maker();
  ArchiveInfo info;
  ASSERT_EQ(Read(m.Build(), info), ReadStatus::Ok);
  EXPECT_EQ(info.stubMethod, -1) << "a stub without a mark names nothing";
  EXPECT_TRUE(MethodsAgree(info));

  // Only the mark resource counts: the same text anywhere else in the program, in an icon or as
  // the reader's own copy of the bare mark, names nothing.
  const pe::Resource iconWithOtherMark =
      testutil::TextResource(pe::kTypeIcon, 1, "\x28\0\0\0" + markOf(other) + "pixels");
  const struct {
    const char* what;
    Bytes stub;
    int method;
  } cases[] = {
      {"the mark resource", testutil::TinyProgramBytes({mark(markOf(own))}), own},
      {"the mark closed by zero bytes",
       testutil::TinyProgramBytes({mark(markOf(own) + Bytes(3, '\0'))}), own},
      {"an icon holding the other mark",
       testutil::TinyProgramBytes({iconWithOtherMark, mark(markOf(own))}), own},
      {"the other mark", testutil::TinyProgramBytes({mark(markOf(other))}), other},
      {"only an icon with a mark", testutil::TinyProgramBytes({iconWithOtherMark}), -1},
      {"the bare mark", testutil::TinyProgramBytes({mark(layout::kStubMethodMark)}), -1},
      {"the mark and more text", testutil::TinyProgramBytes({mark(markOf(own) + "x")}), -1},
      {"the mark under another id", testutil::TinyProgramBytes({mark(markOf(own), 201)}), -1},
      {"a program without resources", testutil::TinyProgramBytes({}), -1},
      {"the mark as text in no program", Bytes("MZ stub ") + markOf(own), -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    m.stub = c.stub;
    ASSERT_EQ(Read(m.Build(), info), ReadStatus::Ok);
    EXPECT_EQ(info.stubMethod, c.method);
    EXPECT_EQ(MethodsAgree(info), c.method != other);
  }

  m.stub = testutil::TinyProgramBytes({mark(markOf(other))});
  ASSERT_EQ(Read(m.Build(), info), ReadStatus::Ok);
  std::string why;
  EXPECT_FALSE(MethodsAgree(info, &why));
  EXPECT_NE(why.find(std::string("entpackt nur ") + MethodName(other)), std::string::npos) << why;
  EXPECT_FALSE(IsUnpackable(info));
  m.files.clear();
  ASSERT_EQ(Read(m.Build(), info), ReadStatus::Ok);
  EXPECT_FALSE(MethodsAgree(info)) << "also without files";
}

TEST_P(ArchiveReaderTest, ArchiveWithoutFilesHasNoCompressedPart) {
  ArchiveMaker m = Maker();
  m.files.clear();
  const Bytes bytes = m.Build();
  EXPECT_EQ(bytes.size(), m.stub.size() + m.Settings().size() + 4);
  ArchiveInfo info;
  ASSERT_EQ(Read(bytes, info), ReadStatus::Ok);
  EXPECT_FALSE(info.hasCompressedPart);
  EXPECT_TRUE(info.entries.empty());
}

TEST_P(ArchiveReaderTest, TruncatedFileNeverReadsAsWrongData) {
  const ArchiveMaker m = Maker();
  const Bytes bytes = m.Build();
  for (size_t n = 0; n < bytes.size(); ++n) {
    ArchiveInfo info;
    const Bytes cut = bytes.substr(0, n);
    EXPECT_NE(Read(cut, info), ReadStatus::Ok) << "cut at " << n;
  }
}

TEST_P(ArchiveReaderTest, CompressedPartCutAnywhereIsDamagedOrAWholePrefix) {
  const ArchiveMaker m = Maker();
  const Bytes head = m.stub + m.Settings();
  const Bytes part = m.CompressedPart();
  // Boundaries at which a cut leaves whole entries only.
  std::vector<size_t> boundaries{0, layout::kArchiveHeaderSize};
  for (const TestFile& f : m.files) boundaries.push_back(boundaries.back() + m.Entry(f).size());
  for (size_t n = 0; n < part.size(); ++n) {
    Bytes bytes = head + part.substr(0, n);
    Put32(bytes, static_cast<uint32_t>(m.stub.size()));
    ArchiveInfo info;
    const ReadStatus status = Read(bytes, info);
    const bool whole = std::find(boundaries.begin(), boundaries.end(), n) != boundaries.end();
    if (whole) {
      EXPECT_EQ(status, ReadStatus::Ok) << "cut at " << n;
      EXPECT_TRUE(ReadsAndDecodesFully(bytes, m.files));
      EXPECT_LT(info.entries.size(), info.fileCount == 0 ? 1u : info.fileCount);
    } else {
      EXPECT_EQ(status, ReadStatus::Damaged) << "cut at " << n;
    }
  }
}

TEST_P(ArchiveReaderTest, FlippedBitsNeverDecodeToWrongData) {
  const ArchiveMaker m = Maker();
  const Bytes bytes = m.Build();
  int refused = 0;
  for (size_t i = m.stub.size(); i < bytes.size(); ++i) {
    // One bit per byte, a different one each time.
    Bytes flipped = bytes;
    flipped[i] = static_cast<char>(flipped[i] ^ (1 << (i % 8)));
    // ReadsAndDecodesFully checks the data of whatever still decodes.
    if (!ReadsAndDecodesFully(flipped, m.files)) ++refused;
  }
  EXPECT_GT(refused, 0);
}

TEST_P(ArchiveReaderTest, LyingSizesAreDamage) {
  const ArchiveMaker m = Maker();
  const Bytes good = m.Build();
  ArchiveInfo info;
  ASSERT_EQ(Read(good, info), ReadStatus::Ok);
  const ArchiveEntry last = info.entries.back();
  const size_t sizeAt = last.headerOffset + 2 + last.name.size() + layout::kEntSize;
  const size_t compAt = last.headerOffset + 2 + last.name.size() + layout::kEntCompressedSize;
  for (int64_t delta : {-1, 1, 1000}) {
    Bytes bytes = good;
    PutU32(reinterpret_cast<uint8_t*>(&bytes[sizeAt]), static_cast<uint32_t>(last.size + delta));
    MemoryByteSource src(bytes.data(), bytes.size());
    ASSERT_EQ(ReadArchive(src, info), ReadStatus::Ok);
    Bytes out;
    EXPECT_EQ(Decode(src, info.entries.back(), &out), DecodeStatus::Damaged) << delta;
  }
  // A compressed size that reaches past the end, or stops short of it.
  for (int64_t delta : {1, -1, 0x10000000}) {
    Bytes bytes = good;
    PutU32(reinterpret_cast<uint8_t*>(&bytes[compAt]),
           static_cast<uint32_t>(last.compressedSize + delta));
    EXPECT_EQ(Read(bytes, info), ReadStatus::Damaged) << delta;
  }
  // A decoder never trusts the entry it is given: data beyond the source is damage.
  {
    MemoryByteSource src(good.data(), good.size());
    ArchiveEntry e = last;
    e.compressedSize = 0x7FFFFFFF;
    Bytes out;
    EXPECT_EQ(Decode(src, e, &out), DecodeStatus::Damaged);
    e = last;
    e.compressedSize = 0;
    EXPECT_EQ(Decode(src, e, &out), DecodeStatus::Damaged);
  }
}

TEST_P(ArchiveReaderTest, StreamMustEndExactlyAtTheStatedSize) {
  ArchiveMaker m = Maker();
  m.files = {{"\\a.txt", "eins"}};
  Bytes bytes = m.Build();
  ArchiveInfo info;
  ASSERT_EQ(Read(bytes, info), ReadStatus::Ok);
  // Two complete streams where one is stated: the second is not part of the entry.
  const Bytes extra = m.method == layout::kMethodBzip2 ? Bzip2("zwei") : Gzip("zwei");
  const ArchiveEntry e = info.entries[0];
  bytes.insert(e.dataOffset + e.compressedSize, extra);
  const size_t compAt = e.headerOffset + 2 + e.name.size() + layout::kEntCompressedSize;
  PutU32(reinterpret_cast<uint8_t*>(&bytes[compAt]),
         static_cast<uint32_t>(e.compressedSize + extra.size()));
  MemoryByteSource src(bytes.data(), bytes.size());
  ASSERT_EQ(ReadArchive(src, info), ReadStatus::Ok);
  Bytes out;
  EXPECT_EQ(Decode(src, info.entries[0], &out), DecodeStatus::Damaged);
}

TEST_P(ArchiveReaderTest, SinkFailureStopsTheDecoder) {
  const ArchiveMaker m = Maker();
  const Bytes bytes = m.Build();
  MemoryByteSource src(bytes.data(), bytes.size());
  ArchiveInfo info;
  ASSERT_EQ(ReadArchive(src, info), ReadStatus::Ok);
  int calls = 0;
  ByteSink failing = [&calls](const uint8_t*, size_t) {
    ++calls;
    return false;
  };
  const ArchiveEntry& e = info.entries[2];
  const DecodeStatus status = m.method == layout::kMethodBzip2 ? DecodeBzip2Entry(src, e, failing)
                                                               : DecodeGzipEntry(src, e, failing);
  EXPECT_EQ(status, DecodeStatus::SinkFailed);
  EXPECT_EQ(calls, 1);
}

TEST_P(ArchiveReaderTest, SignedArchiveStillReads) {
  // A minimal PE32+ header in the stub, whose security directory a signer fills in. Every
  // padding length from 0 to 7 is met by varying the title's length.
  for (int extra = 0; extra < 8; ++extra) {
    ArchiveMaker m = Maker();
    m.title = std::string("Titel") + std::string(static_cast<size_t>(extra), 'x');
    const size_t opt = 0x80 + 24;
    m.stub = PeStub();
    const Bytes unsigned_ = m.Build();
    Bytes bytes = unsigned_;
    while (bytes.size() % 8 != 0) bytes += '\0';
    const uint32_t tableAt = static_cast<uint32_t>(bytes.size());
    Bytes table;
    Put32(table, 24);  // WIN_CERTIFICATE: length, revision, type, then data
    Put16(table, 0x0200);
    Put16(table, 0x0002);
    table += Bytes(16, '\x5A');
    bytes += table;
    PutU32(reinterpret_cast<uint8_t*>(&bytes[opt + 112 + 32]), tableAt);
    PutU32(reinterpret_cast<uint8_t*>(&bytes[opt + 112 + 36]), static_cast<uint32_t>(table.size()));

    MemoryByteSource src(bytes.data(), bytes.size());
    ArchiveInfo info;
    std::string why;
    ASSERT_EQ(ReadArchive(src, info, &why), ReadStatus::Ok) << "padding case " << extra << why;
    EXPECT_EQ(info.settingsOffset, 1024u);
    EXPECT_EQ(info.payloadEnd, unsigned_.size() - 4);
    EXPECT_EQ(info.signatureSize, bytes.size() - unsigned_.size());
    EXPECT_EQ(info.settings.DialogTitle, m.title);
    ASSERT_TRUE(ReadsAndDecodesFully(bytes, m.files));
    ASSERT_EQ(info.entries.size(), 3u);

    // The table must reach the end of the file exactly; otherwise it is ignored and the file
    // is read as it stands (here: no settings offset at its end).
    Bytes longer = bytes + "junk";
    EXPECT_NE(Read(longer, info), ReadStatus::Ok);
  }
}

// A download cut short is told from a program that never held an archive by what follows the
// program's image: the start of an archive (its settings block) without an end.
TEST_P(ArchiveReaderTest, AnArchiveCutShortIsIncompleteNotForeign) {
  ArchiveMaker m = Maker();
  m.stub = PeStub();
  const Bytes bytes = m.Build();
  const size_t settingsEnd = m.stub.size() + m.Settings().size();
  for (size_t n = 600; n < bytes.size(); n += (n < 1100 || n + 300 > bytes.size()) ? 1 : 37) {
    ArchiveInfo info;
    std::string why;
    const ReadStatus status = Read(bytes.substr(0, n), info, &why);
    if (n < m.stub.size()) {
      EXPECT_EQ(status, ReadStatus::Incomplete) << "the program itself cut at " << n;
    } else if (n < settingsEnd) {
      // Cut inside the settings block: nothing says an archive was there.
      EXPECT_EQ(status, ReadStatus::NotAnArchive) << "cut at " << n;
    } else {
      EXPECT_TRUE(status == ReadStatus::Incomplete || status == ReadStatus::Damaged)
          << "cut at " << n << ": " << static_cast<int>(status);
      if (status == ReadStatus::Incomplete) {
        EXPECT_NE(why.find("erneut herunter"), std::string::npos) << why;
      }
    }
  }
  // The program alone, and the program with anything else behind it, hold no archive.
  ArchiveInfo info;
  EXPECT_EQ(Read(m.stub, info), ReadStatus::NotAnArchive);
  EXPECT_EQ(Read(m.stub + Bytes(3000, 'q'), info), ReadStatus::NotAnArchive);
  // Without PE headers nothing tells where the program ends: a cut file is no archive.
  ArchiveMaker plain = Maker();
  const Bytes plainBytes = plain.Build();
  EXPECT_EQ(Read(plainBytes.substr(0, plainBytes.size() - 5), info), ReadStatus::NotAnArchive);
}

INSTANTIATE_TEST_SUITE_P(BothMethods, ArchiveReaderTest,
                         ::testing::Values(layout::kMethodBzip2, layout::kMethodGzip),
                         [](const ::testing::TestParamInfo<uint8_t>& p) {
                           return p.param == layout::kMethodBzip2 ? "bzip2" : "gzip";
                         });

TEST(ArchiveReader, BadSettingsOffsetsAreNotAnArchive) {
  ArchiveMaker m;
  m.files = SampleFiles();
  const Bytes good = m.Build();
  const uint32_t limit = static_cast<uint32_t>(good.size() - 4);
  for (uint32_t offset : {0u, limit, limit - 1, limit + 2, limit + 100, 0xFFFFFFFFu}) {
    Bytes bytes = good;
    PutU32(reinterpret_cast<uint8_t*>(&bytes[limit]), offset);
    ArchiveInfo info;
    std::string why;
    EXPECT_EQ(Read(bytes, info, &why), ReadStatus::NotAnArchive) << offset;
    EXPECT_FALSE(why.empty());
  }
  // An offset one byte off lands on bytes that are not a version-1 block.
  Bytes bytes = good;
  PutU32(reinterpret_cast<uint8_t*>(&bytes[limit]), static_cast<uint32_t>(m.stub.size() + 1));
  ArchiveInfo info;
  EXPECT_NE(Read(bytes, info), ReadStatus::Ok);
}

TEST(ArchiveReader, SettingsBlockCutOrWrongVersionIsRefused) {
  ArchiveMaker m;
  // Version 2.
  Bytes bytes = m.Build();
  bytes[m.stub.size()] = 2;
  ArchiveInfo info;
  EXPECT_EQ(Read(bytes, info), ReadStatus::NotAnArchive);
  // A string longer than what is left before the offset.
  bytes = m.stub + m.Settings();
  bytes.resize(bytes.size() - 3);
  Put32(bytes, static_cast<uint32_t>(m.stub.size()));
  EXPECT_EQ(Read(bytes, info), ReadStatus::NotAnArchive);
  // A source list claiming 30000 strings in a tiny block: refused without reading past it.
  bytes = m.stub + m.Settings();
  PutU16(reinterpret_cast<uint8_t*>(&bytes[m.stub.size() + 1]), 30000);
  Put32(bytes, static_cast<uint32_t>(m.stub.size()));
  EXPECT_EQ(Read(bytes, info), ReadStatus::NotAnArchive);
}

TEST(ArchiveReader, NegativeListCountHoldsNoString) {
  // The count is signed 16-bit: 0xFFFF stands for -1 and no string follows.
  ArchiveMaker m;
  Bytes settings = m.Settings();
  const size_t pathBytes = 2 + m.sourcePath.size();
  settings.erase(3, pathBytes);
  settings[1] = '\xFF';
  settings[2] = '\xFF';
  Bytes bytes = m.stub + settings;
  Put32(bytes, static_cast<uint32_t>(m.stub.size()));
  ArchiveInfo info;
  ASSERT_EQ(Read(bytes, info), ReadStatus::Ok);
  EXPECT_EQ(info.settings.SourcePaths.Count(), 0);
  EXPECT_EQ(info.settings.TargetDir, "C:\\Ziel");
}

TEST(ArchiveReader, HeaderAndEntryFieldsAreChecked) {
  ArchiveMaker m;
  m.files = SampleFiles();
  const Bytes good = m.Build();
  ArchiveInfo info;
  ASSERT_EQ(Read(good, info), ReadStatus::Ok);
  const size_t part = m.stub.size() + m.Settings().size();
  const ArchiveEntry first = info.entries[0];
  const size_t fixed = first.headerOffset + 2 + first.name.size();
  struct Patch {
    size_t at;
    char value;
  };
  const Patch patches[] = {
      {part, 'X'},                                       // magic
      {part + layout::kHdrReserved, 1},                  // reserved word
      {part + layout::kHdrMethod, 2},                    // unknown method
      {static_cast<size_t>(first.headerOffset) + 1, 2},  // name length 513
      {fixed + layout::kEntMethod, 0},                   // entry method differs from the archive's
      {fixed + layout::kEntZeroByte, 1},                 // the zero byte
      {fixed + layout::kEntZeroWord + 3, 1},             // the zero word
      {fixed + layout::kEntCompressedSize + 3, '\x80'},  // compressed size over 2^31 - 1
  };
  for (const Patch& p : patches) {
    Bytes bytes = good;
    bytes[p.at] = p.value;
    std::string why;
    EXPECT_EQ(Read(bytes, info, &why), ReadStatus::Damaged) << "patch at " << p.at;
    EXPECT_FALSE(why.empty());
  }
  // Name length 0.
  Bytes bytes = good;
  bytes[first.headerOffset] = 0;
  bytes[first.headerOffset + 1] = 0;
  EXPECT_EQ(Read(bytes, info), ReadStatus::Damaged);
}

TEST(ArchiveReader, TrailingGarbageAndUnfinishedEntriesAreDamage) {
  ArchiveMaker m;
  m.files = SampleFiles();
  const Bytes head = m.stub + m.Settings() + m.CompressedPart();
  for (const Bytes& tail : {Bytes("\x01", 1), Bytes(3, '\0'), Bytes("garbage")}) {
    Bytes bytes = head + tail;
    Put32(bytes, static_cast<uint32_t>(m.stub.size()));
    ArchiveInfo info;
    EXPECT_EQ(Read(bytes, info), ReadStatus::Damaged);
  }
  // The header of a file whose compression failed: zero date block and sizes, then part of a
  // stream. This is what a build that stopped on a failed file leaves behind.
  Bytes bytes = head;
  const std::string name = "\\kaputt.txt";
  Put16(bytes, static_cast<uint16_t>(name.size()));
  bytes += name;
  bytes += Bytes(24 + 8, '\0');
  bytes += static_cast<char>(m.method);
  bytes += Bytes(5, '\0');
  bytes += Gzip("abgebrochen").substr(0, 10);
  Put32(bytes, static_cast<uint32_t>(m.stub.size()));
  ArchiveInfo info;
  std::string why;
  EXPECT_EQ(Read(bytes, info, &why), ReadStatus::Damaged);
  EXPECT_NE(why.find("unvollst\xE4ndig"), std::string::npos) << why;
}

TEST(ArchiveReader, FileByteSourceReadsTheSameBytes) {
  testutil::TempDir dir;
  ArchiveMaker m;
  m.files = SampleFiles();
  const Bytes bytes = m.Build();
  const std::string path = dir.Join("a.exe");
  ASSERT_TRUE(testutil::WriteFile(path, bytes));
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  FileByteSource src(f);
  EXPECT_EQ(src.Size(), bytes.size());
  char four[4];
  EXPECT_FALSE(src.ReadAt(bytes.size() - 3, four, 4));
  EXPECT_FALSE(src.ReadAt(~0ULL - 1, four, 4));
  ArchiveInfo info;
  ASSERT_EQ(ReadArchive(src, info), ReadStatus::Ok);
  ASSERT_EQ(info.entries.size(), 3u);
  Bytes out;
  EXPECT_EQ(Decode(src, info.entries[2], &out), DecodeStatus::Ok);
  EXPECT_EQ(out, m.files[2].data);
  std::fclose(f);
}

TEST(ArchiveReader, MemoryByteSourceRefusesReadsPastItsEnd) {
  const char data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  MemoryByteSource src(data, sizeof data);
  char out[8];
  EXPECT_TRUE(src.ReadAt(0, out, 8));
  EXPECT_TRUE(src.ReadAt(8, out, 0));
  EXPECT_FALSE(src.ReadAt(1, out, 8));
  EXPECT_FALSE(src.ReadAt(9, out, 0));
  EXPECT_FALSE(src.ReadAt(~0ULL, out, 2));
}

}  // namespace
