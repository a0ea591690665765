// The program file's assembly: what lands in the file, in which order, and what each failure
// leaves behind. The expected settings block comes from the tests' own encoder.
#include "archive/archive_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "tests/unit/fake_front_end.h"
#include "tests/unit/sfx_test_parser.h"
#include "tests/unit/test_util.h"

namespace {

using testutil::TempDir;

class ArchiveWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stub_ = "MZ stub " + sfxtest::Content(70000, 1);  // more than one copy chunk
    part_ = "SFX2" + sfxtest::Content(3000, 2);
    ASSERT_TRUE(testutil::WriteFile(stubPath_, stub_));
    ASSERT_TRUE(testutil::WriteFile(partPath_, part_));
    settings_.SourcePaths.Add("C:\\Quelle");
    settings_.TargetDir = "  C:\\Ziel ";
    settings_.DialogTitle = " Titel";
  }

  // Runs WriteArchive on a new program file with the given stub stream (nullptr: none) and the
  // compressed part opened by open; closes everything and reads the program file back.
  ArchiveWriteStatus Write(std::FILE* stub, const std::function<std::FILE*()>& open) {
    std::FILE* program = platform::Real().Open(programPath_, "wb");
    EXPECT_NE(program, nullptr);
    std::FILE* part = nullptr;
    const ArchiveWriteStatus status = WriteArchive(program, stub, settings_, [&]() {
      ++opens_;
      part = open();
      return part;
    });
    if (part != nullptr) std::fclose(part);
    if (stub != nullptr) std::fclose(stub);
    if (program != nullptr) std::fclose(program);
    program_ = testutil::ReadFile(programPath_);
    return status;
  }
  ArchiveWriteStatus Write() { return Write(OpenStub(), OpenPart()); }
  std::FILE* OpenStub() { return platform::Real().Open(stubPath_, "rb"); }
  std::function<std::FILE*()> OpenPart() {
    return [this]() { return platform::Real().Open(partPath_, "rb"); };
  }
  // The block of the record as the writer should have trimmed it.
  std::string TrimmedBlock() const {
    TInstallInf trimmed = settings_;
    trimmed.TrimTexts();
    return sfxtest::ExpectedSettingsBlock(testfe::BlockOf(trimmed));
  }

  TempDir dir_;
  std::string stubPath_ = dir_.Join("tambrix.res2");
  std::string partPath_ = dir_.Join("data.tmp");
  std::string programPath_ = dir_.Join("out.exe");
  std::string stub_, part_, program_;
  TInstallInf settings_;
  int opens_ = 0;
};

TEST_F(ArchiveWriterTest, StubBlockPartAndOffsetFollowEachOther) {
  const std::string block = TrimmedBlock();
  EXPECT_EQ(Write(), ArchiveWriteStatus::Ok);
  EXPECT_TRUE(program_ == stub_ + block + part_ + sfxtest::LE32(uint32_t(stub_.size())));
  EXPECT_EQ(settings_.TargetDir, "C:\\Ziel") << "the record keeps its trimmed texts";
  EXPECT_EQ(opens_, 1);

  // No file was added: the data file is empty, and the offset follows the block.
  ASSERT_TRUE(testutil::WriteFile(partPath_, ""));
  EXPECT_EQ(Write(), ArchiveWriteStatus::Ok);
  EXPECT_TRUE(program_ == stub_ + block + sfxtest::LE32(uint32_t(stub_.size())));
}

TEST_F(ArchiveWriterTest, ThePartIsOpenedOnlyOnceStubAndBlockAreWritten) {
  std::FILE* program = platform::Real().Open(programPath_, "wb");
  ASSERT_NE(program, nullptr);
  std::FILE* stub = OpenStub();
  int64_t writtenAtOpen = -1;
  std::FILE* part = nullptr;
  const ArchiveWriteStatus status = WriteArchive(program, stub, settings_, [&]() {
    writtenAtOpen = platform::Tell64(program);
    part = platform::Real().Open(partPath_, "rb");
    return part;
  });
  std::fclose(part);
  std::fclose(stub);
  std::fclose(program);
  EXPECT_EQ(status, ArchiveWriteStatus::Ok);
  EXPECT_EQ(writtenAtOpen, static_cast<int64_t>(stub_.size() + TrimmedBlock().size()));
}

// A failed stub copy writes nothing after the stub, never opens the data file and leaves the
// record as it was.
TEST_F(ArchiveWriterTest, StubThatCannotBeCopiedStopsBeforeTheBlock) {
  EXPECT_EQ(Write(nullptr, OpenPart()), ArchiveWriteStatus::StubFailed);
  EXPECT_EQ(program_, "");

  // A stream that cannot be read: the first chunk fails.
  EXPECT_EQ(Write(platform::Real().Open(stubPath_, "ab"), OpenPart()),
            ArchiveWriteStatus::StubFailed);
  EXPECT_EQ(program_, "");

  {
    std::FILE* stub = OpenStub();
    EXPECT_EQ(WriteArchive(nullptr, stub, settings_, OpenPart()), ArchiveWriteStatus::WriteFailed);
    std::fclose(stub);
  }
  EXPECT_EQ(opens_, 0);
  EXPECT_EQ(settings_.TargetDir, "  C:\\Ziel ");

  // The settings offset is 32 bits: a longer stub is refused before a byte of it is copied. The
  // file is sparse and never read.
  std::error_code ec;
  std::filesystem::resize_file(std::filesystem::path(stubPath_), 0x100000000ULL, ec);
  if (ec) GTEST_SKIP() << "no sparse file here: " << ec.message();
  EXPECT_EQ(Write(), ArchiveWriteStatus::StubFailed);
  EXPECT_EQ(program_, "");
  EXPECT_EQ(opens_, 0);
  testutil::WriteFile(stubPath_, "");
}

TEST_F(ArchiveWriterTest, PartThatCannotBeCopiedLeavesStubAndBlock) {
  const std::string block = TrimmedBlock();
  EXPECT_EQ(Write(OpenStub(), []() -> std::FILE* { return nullptr; }),
            ArchiveWriteStatus::PartFailed);
  EXPECT_TRUE(program_ == stub_ + block);

  EXPECT_EQ(Write(OpenStub(), [this]() { return platform::Real().Open(partPath_, "ab"); }),
            ArchiveWriteStatus::PartFailed);
  EXPECT_TRUE(program_ == stub_ + block);
  EXPECT_EQ(opens_, 2);
}

// A record the block's counts cannot describe is refused before a byte is written.
TEST_F(ArchiveWriterTest, RecordTooLargeForTheBlockWritesNothing) {
  settings_.DialogText = std::string(70000, 'x');
  EXPECT_EQ(Write(), ArchiveWriteStatus::SettingsTooLarge);
  EXPECT_EQ(program_, "");
  EXPECT_EQ(opens_, 0);
}

}  // namespace
