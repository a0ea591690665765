// Build benchmark: the builder against the limit of this format on one thread.
//
// The limit is what any builder must at least spend: list the tree, read every file and compress
// it with the same library at the same settings (bzip2 block size 9 with the default work factor;
// zlib level 9 in the gzip wrapper), writing the compressed bytes to a data file. The builder
// (BuildArchive with both methods) also writes headers, copies the data file behind the stub and
// the settings block, and reports progress. Each run happens in its own child process, so its CPU
// time and peak memory (ru_maxrss) are its own. A build of one large generated file shows that
// the builder's memory does not grow with the size of a file.
#include <bzlib.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive/build_driver.h"
#include "settings/install_inf.h"
#include "support/dir_scanner.h"

namespace fs = std::filesystem;

namespace {

struct Measure {
  double wall = 0;    // seconds
  double cpu = 0;     // user + system seconds of the child
  long maxRssKb = 0;  // peak resident set of the child
  bool ok = false;
};

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

// Runs body in a child process; its exit status is body's result.
Measure InChild(const std::function<bool()>& body) {
  std::fflush(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) _exit(body() ? 0 : 1);
  Measure m;
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return m;
  m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  m.maxRssKb = usage.ru_maxrss;
  m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return m;
}

// The front end of an unattended build: no progress, messages kept for the verdict.
class QuietFrontEnd : public BuildFrontEnd {
 public:
  void ShowProgress(const std::string&) override {}
  void ShowMessage(const std::string& text) override { last = text; }
  void FocusSfxName() override {}
  void StartProgram(const std::string&) override {}
  void FileFailed(const std::string& path, const std::string& reason) override {
    std::fprintf(stderr, "failed: %s: %s\n", path.c_str(), reason.c_str());
  }
  std::string last;
};

bool Build(const std::string& source, const std::string& sfx, const std::string& stubDir,
           bool bzip2) {
  Settings = TInstallInf();
  Settings.SourcePaths.Add(source);
  Settings.SfxName = sfx;
  Settings.MaxCompression = bzip2 ? 1 : 0;
  QuietFrontEnd ui;
  BuildOptions options;
  options.stubDir = stubDir;
  return BuildArchive(ui, options) == BuildResult::Success;
}

constexpr size_t kChunk = 64000;  // the builder's read buffer

// The limit for one method: list, read and compress every file into one data file.
bool Limit(const std::string& source, const std::string& dataPath, bool bzip2) {
  TDirList list;
  list.Masks.push_back("*.*");
  list.Recursive = true;
  list.Scan(source);
  std::FILE* data = std::fopen(dataPath.c_str(), "wb");
  if (!data) return false;
  std::vector<char> in(kChunk);
  std::vector<char> out(kChunk);
  bool ok = true;
  for (const TFileInfo& file : list.Files) {
    std::FILE* f = std::fopen(file.Name.c_str(), "rb");
    if (!f) continue;
    if (bzip2) {
      bz_stream s{};
      BZ2_bzCompressInit(&s, 9, 0, 0);
      size_t got;
      int action = BZ_RUN;
      do {
        got = std::fread(in.data(), 1, kChunk, f);
        if (got < kChunk) action = BZ_FINISH;
        s.next_in = in.data();
        s.avail_in = static_cast<unsigned>(got);
        int rc;
        do {
          s.next_out = out.data();
          s.avail_out = kChunk;
          rc = BZ2_bzCompress(&s, action);
          std::fwrite(out.data(), 1, kChunk - s.avail_out, data);
        } while (action == BZ_FINISH ? rc != BZ_STREAM_END : s.avail_in > 0);
      } while (action != BZ_FINISH);
      BZ2_bzCompressEnd(&s);
    } else {
      z_stream s{};
      deflateInit2(&s, 9, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY);
      size_t got;
      int flush = Z_NO_FLUSH;
      do {
        got = std::fread(in.data(), 1, kChunk, f);
        if (got < kChunk) flush = Z_FINISH;
        s.next_in = reinterpret_cast<Bytef*>(in.data());
        s.avail_in = static_cast<uInt>(got);
        int rc;
        do {
          s.next_out = reinterpret_cast<Bytef*>(out.data());
          s.avail_out = kChunk;
          rc = deflate(&s, flush);
          std::fwrite(out.data(), 1, kChunk - s.avail_out, data);
        } while (flush == Z_FINISH ? rc != Z_STREAM_END : s.avail_out == 0);
      } while (flush != Z_FINISH);
      deflateEnd(&s);
    }
    std::fclose(f);
  }
  ok = std::fclose(data) == 0 && ok;
  return ok;
}

void Usage() {
  std::printf(
      "tambrix_bench [--source DIR] [--in-place] [--big-mib N] [--work DIR] [--repeat N]\n"
      "  --source DIR  tree to archive (default /usr/include, copied to the work directory)\n"
      "  --in-place    archive the source where it is instead of a copy\n"
      "  --big-mib N   size of the generated single file for the memory check (default 1024;\n"
      "                0 skips it)\n"
      "  --work DIR    work directory (default: a new one below $TMPDIR or /tmp)\n"
      "  --repeat N    runs of each measurement, the fastest counts (default 1)\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string source = "/usr/include";
  std::string work;
  bool inPlace = false;
  long bigMib = 1024;
  int repeat = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        Usage();
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--source")
      source = value();
    else if (a == "--in-place")
      inPlace = true;
    else if (a == "--big-mib")
      bigMib = std::atol(value().c_str());
    else if (a == "--work")
      work = value();
    else if (a == "--repeat")
      repeat = std::max(1, std::atoi(value().c_str()));
    else {
      Usage();
      return a == "--help" ? 0 : 2;
    }
  }
  std::error_code ec;
  if (work.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    work = std::string(tmp && *tmp ? tmp : "/tmp") + "/tambrix-bench-" + std::to_string(getpid());
  }
  fs::create_directories(work, ec);
  const fs::path root(work);
  std::FILE* stub = std::fopen((root / "tambrix.res1").c_str(), "wb");
  if (stub) std::fputs("MZ benchmark placeholder stub", stub), std::fclose(stub);
  fs::copy_file(root / "tambrix.res1", root / "tambrix.res2", fs::copy_options::overwrite_existing,
                ec);
  const std::string stubDir = work + "/";

  std::string tree = source;
  if (!inPlace) {
    tree = (root / "tree").string();
    fs::remove_all(tree, ec);
    std::printf("Kopiere %s nach %s ...\n", source.c_str(), tree.c_str());
    fs::copy(source, tree, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (ec) std::printf("  (Kopie unvollst\xC3\xA4ndig: %s)\n", ec.message().c_str());
  }
  TDirList list;
  list.Masks.push_back("*.*");
  list.Recursive = true;
  list.Scan(tree);
  uint64_t bytes = 0;
  {  // read everything once so every run starts with a warm cache
    std::vector<char> buf(1 << 20);
    for (const TFileInfo& f : list.Files) {
      bytes += f.TrueSize;
      if (std::FILE* in = std::fopen(f.Name.c_str(), "rb")) {
        while (std::fread(buf.data(), 1, buf.size(), in) > 0) {
        }
        std::fclose(in);
      }
    }
  }
  const size_t files = list.Files.size();
  std::printf("Korpus: %s, %zu Dateien, %.1f MB\n\n", tree.c_str(), files, bytes / 1e6);
  std::printf("%-6s %10s %10s %10s %10s %8s %8s %10s %10s\n", "Method", "Limit s", "Builder s",
              "Limit CPU", "Build CPU", "Ratio", "CPU-Rat.", "Dateien/s", "Peak MiB");

  bool allOk = true;
  long treePeak[2] = {0, 0};
  for (int m = 0; m < 2; ++m) {
    const bool bzip2 = m == 0;
    Measure limit, builder;
    for (int r = 0; r < repeat; ++r) {
      const Measure l = InChild([&] { return Limit(tree, work + "/limit.dat", bzip2); });
      const Measure b = InChild([&] { return Build(tree, work + "/bench.exe", stubDir, bzip2); });
      if (r == 0 || l.wall < limit.wall) limit = l;
      if (r == 0 || b.wall < builder.wall) builder = b;
    }
    allOk = allOk && limit.ok && builder.ok;
    treePeak[m] = builder.maxRssKb;
    std::printf("%-6s %10.2f %10.2f %10.2f %10.2f %8.3f %8.3f %10.0f %10.1f%s\n",
                bzip2 ? "bzip2" : "gzip", limit.wall, builder.wall, limit.cpu, builder.cpu,
                builder.wall / limit.wall, builder.cpu / limit.cpu, files / builder.wall,
                builder.maxRssKb / 1024.0, builder.ok ? "" : "  (Build fehlgeschlagen)");
    std::printf("       Archiv %.1f MB, Limit-Daten %.1f MB\n",
                fs::file_size(work + "/bench.exe", ec) / 1e6,
                fs::file_size(work + "/limit.dat", ec) / 1e6);
  }

  if (bigMib > 0) {
    const fs::path bigDir = root / "big";
    fs::create_directories(bigDir, ec);
    const std::string big = (bigDir / "gross.bin").string();
    // A sparse file: the memory check needs its size, not disk space.
    std::FILE* f = std::fopen(big.c_str(), "wb");
    if (!f || ftruncate(fileno(f), static_cast<off_t>(bigMib) << 20) != 0) allOk = false;
    if (f) std::fclose(f);
    std::printf("\nSpeicher: eine Datei von %ld MiB gegen den Baum oben\n", bigMib);
    for (int m = 0; m < 2; ++m) {
      const bool bzip2 = m == 0;
      const Measure b =
          InChild([&] { return Build(bigDir.string(), work + "/big.exe", stubDir, bzip2); });
      allOk = allOk && b.ok;
      std::printf("%-6s Peak %.1f MiB (Baum: %.1f MiB), %.2f s%s\n", bzip2 ? "bzip2" : "gzip",
                  b.maxRssKb / 1024.0, treePeak[m] / 1024.0, b.wall,
                  b.ok ? "" : "  (Build fehlgeschlagen)");
    }
    fs::remove(big, ec);
  }
  fs::remove_all(root, ec);
  return allOk ? 0 : 1;
}
