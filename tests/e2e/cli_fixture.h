// The fixture of the console builder's in-process tests: a scratch directory as the current
// one, placeholder stubs, a small source tree, and each command run with its output captured.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/platform.h"
#include "tests/unit/test_util.h"

namespace fs = std::filesystem;

namespace {

bool OnWindows() { return platform::Real().Separator() == '\\'; }

// Code page 1252 text as the console carries it (arguments, output): UTF-8 on POSIX, as it is
// on Windows.
std::string Arg1252(const std::string& cp1252) {
  if (OnWindows()) return cp1252;
  std::string out;
  for (unsigned char c : cp1252) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {  // the Latin-1 range is enough for the texts used here
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

struct RunResult {
  int code = -1;
  std::string out;
  std::string err;
};

// Every file below root: relative path (generic form) -> contents.
inline std::map<std::string, std::string> TreeOf(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    if (it->is_regular_file()) {
      files[fs::relative(it->path(), root).generic_u8string()] =
          testutil::ReadFile(it->path().string());
    }
  }
  return files;
}

std::string Gzip(const std::string& data) {
  z_stream s{};
  deflateInit2(&s, 9, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&s, data.size()) + 64, '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(&out[0]);
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

void Put16(std::string& b, uint16_t v) {
  b += static_cast<char>(v & 0xFF);
  b += static_cast<char>(v >> 8);
}
void Put32(std::string& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A gzip archive with the given stored names, assembled by hand (any name, safe or not), behind
// stub. Without files and with noHeader it has no compressed part at all, as the builder writes it.
std::string HandMadeArchive(const std::vector<std::pair<std::string, std::string>>& files,
                            bool storeDirNames = true,
                            const std::string& stub = "MZ hand-made stub", bool noHeader = false) {
  std::string b = stub;
  b += '\x01';
  Put16(b, 1);
  Put16(b, 1);
  b += 'x';
  b += storeDirNames ? '\x01' : '\x00';
  b += '\x00';
  for (int i = 0; i < 8; ++i) Put16(b, 0);
  b += '\x00';
  Put16(b, 0);
  b += '\x01';
  b += '\x00';
  if (noHeader && files.empty()) {
    Put32(b, static_cast<uint32_t>(stub.size()));
    return b;
  }
  b += "SFX2";
  Put32(b, static_cast<uint32_t>(files.size()));
  Put32(b, 0);
  Put32(b, 0);
  b += '\x01';
  for (const auto& f : files) {
    const std::string data = Gzip(f.second);
    Put16(b, static_cast<uint16_t>(f.first.size()));
    b += f.first;
    for (uint32_t v : {29u, 31u, 14u, 7u, 12u, 46u}) Put32(b, v);
    Put32(b, static_cast<uint32_t>(f.second.size()));
    Put32(b, static_cast<uint32_t>(data.size()));
    b += '\x01';
    b += '\x00';
    Put32(b, 0);
    b += data;
  }
  Put32(b, static_cast<uint32_t>(stub.size()));
  return b;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stubs_ = dir_.Join("stubs");
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("stubs/tambrix.res1"), "MZ placeholder bzip2 stub"));
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("stubs/tambrix.res2"), "MZ placeholder gzip stub!"));
    oldCwd_ = fs::current_path();
    fs::current_path(dir_.path());  // relative source paths keep the stored names short
  }
  void TearDown() override { fs::current_path(oldCwd_); }

  RunResult Run(const std::vector<std::string>& args) {
    RunResult r;
    std::FILE* out = std::fopen(dir_.Join("stdout.txt").c_str(), "w+b");
    std::FILE* err = std::fopen(dir_.Join("stderr.txt").c_str(), "w+b");
    r.code = RunTambrixc(args, out, err);
    std::fclose(out);
    std::fclose(err);
    r.out = testutil::ReadFile(dir_.Join("stdout.txt"));
    r.err = testutil::ReadFile(dir_.Join("stderr.txt"));
    return r;
  }

  // A small tree with a subdirectory, an empty file, binary data and a German name.
  void MakeSourceTree() {
    std::string binary;
    for (int i = 0; i < 150000; ++i) binary += static_cast<char>((i * 2654435761u) >> 13);
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("src/a.txt"), "Hallo\r\nWelt\r\n"));
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("src/sub/b.bin"), binary));
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("src/sub/leer.dat"), ""));
    // The platform's own encoding of the name: UTF-8 on POSIX, the ANSI code page on Windows.
    ASSERT_TRUE(testutil::WriteFile(dir_.Join("src/sub/deep/" + Arg1252("\xDC"
                                                                        "bersicht.txt")),
                                    "Inhalt"));
  }

  std::string BuildArchive(const std::string& name, bool bzip2) {
    std::vector<std::string> args{"build", "--source", "src", "--sfx", name, "--stub-dir", stubs_};
    if (bzip2) args.push_back("--max-compression");
    const RunResult r = Run(args);
    EXPECT_EQ(r.code, kExitOk) << r.err;
    return dir_.Join(name);
  }

  testutil::TempDir dir_;
  std::string stubs_;
  fs::path oldCwd_;
};

}  // namespace
