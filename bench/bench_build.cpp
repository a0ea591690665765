// Build benchmark: the builder on one and on N threads against the limit of this format on one
// thread, its peak memory on 1, 2 and 4 threads, and the peer tools where they are installed.
//
// The limit is what any builder must at least spend: list the tree, read every file and compress
// it with the same library at the same settings (bzip2 block size 9 with the default work factor;
// zlib level 9 in the gzip wrapper) on one thread, writing the compressed bytes to one data file.
// The builder (BuildArchive with both methods) also writes headers, copies the data file behind
// the stub and the settings block, and reports progress. On N threads the best a builder can do is
// the limit divided by N. The one-thread and the N-thread archive must be the same bytes.
//
// Corpora: a copy of /usr/include, thinned to one of each set of names that differ only in case
// (the builder refuses a tree Windows could not hold), and one file of the tree's files
// concatenated again and again to 200 MiB: text as headers are, neither zeros nor noise. The
// memory check builds one 1 GiB file of the same text and one sparse 1 GiB file (all zeros, the
// longest bzip2 blocks) on 1, 2 and 4 threads: the builder's memory grows with the threads, not
// with the size of a file.
//
// Each measured run happens in its own child process, so its wall time, CPU time and peak memory
// (ru_maxrss) are its own; the fastest of --repeat runs counts. The memory check's builds run once
// each, as many at a time as there are processors: only their peak memory counts. The peers
// (makeself with pbzip2 and with pigz, and tar piped into pbzip2 and pigz) run as programs on the
// same tree, with as many threads as the builder's -jN.
#include <bzlib.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "builder/build_driver.h"
#include "builder/parallel_compressor.h"
#include "platform/name_case.h"
#include "platform/posix/cp1252.h"
#include "settings/install_inf.h"
#include "support/dir_scanner.h"

namespace fs = std::filesystem;

namespace {

struct Measure {
  double wall = 0;    // seconds
  double cpu = 0;     // user + system seconds of the child and the children it waited for
  long maxRssKb = 0;  // peak resident set of the child (or of its largest waited-for child)
  bool ok = false;
  bool ran = false;
};

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

Measure Reaped(int status, const rusage& usage, double wall) {
  Measure m;
  m.wall = wall;
  m.cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  m.maxRssKb = usage.ru_maxrss;
  m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  m.ran = true;
  return m;
}

Measure Reap(pid_t pid, std::chrono::steady_clock::time_point start) {
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return Measure();
  return Reaped(status, usage,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

// Runs body in a child process; its exit status is body's result.
Measure InChild(const std::function<bool()>& body) {
  std::fflush(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) _exit(body() ? 0 : 1);
  return Reap(pid, start);
}

// Runs every body in a child process of its own, atOnce of them at a time, in the order given
// (the longest first packs best). For measurements whose peak memory counts and not their time:
// children that share the processors take longer each, so their wall times say little.
std::vector<Measure> InChildren(const std::vector<std::function<bool()>>& bodies, int atOnce) {
  std::vector<Measure> results(bodies.size());
  std::map<pid_t, std::pair<size_t, std::chrono::steady_clock::time_point>> running;
  size_t next = 0;
  while (next < bodies.size() || !running.empty()) {
    while (next < bodies.size() && running.size() < static_cast<size_t>(std::max(1, atOnce))) {
      std::fflush(nullptr);
      const auto start = std::chrono::steady_clock::now();
      const pid_t pid = fork();
      if (pid == 0) _exit(bodies[next]() ? 0 : 1);
      if (pid > 0) running[pid] = {next, start};  // a failed fork leaves the result not ok
      ++next;
    }
    if (running.empty()) continue;
    int status = 0;
    rusage usage{};
    const pid_t pid = wait4(-1, &status, 0, &usage);
    if (pid < 0) break;
    const auto it = running.find(pid);
    if (it == running.end()) continue;
    results[it->second.first] = Reaped(
        status, usage,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - it->second.second)
            .count());
    running.erase(it);
  }
  return results;
}

// Runs a program (searched on PATH) with no input and its output thrown away, its errors
// appended to errorLog, and TMPDIR set to tmpDir for whatever temporary files it writes.
Measure RunProgram(const std::vector<std::string>& args, const std::string& errorLog,
                   const std::string& tmpDir) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    const int err = open(errorLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (null < 0 || err < 0) _exit(126);
    dup2(null, 0);
    dup2(null, 1);
    dup2(err, 2);
    setenv("TMPDIR", tmpDir.c_str(), 1);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return Reap(pid, start);
}

// The faster of two runs of one measurement; ok only when both were.
Measure Fastest(const Measure& best, const Measure& run) {
  if (!best.ran) return run;
  Measure f = run.wall < best.wall ? run : best;
  f.ok = best.ok && run.ok;
  return f;
}

// The front end of an unattended build: no progress, the last message kept for a failure.
// Messages and names are code page 1252 text, shown as UTF-8.
class QuietFrontEnd : public BuildFrontEnd {
 public:
  void ShowProgress(const std::string&) override {}
  void ShowMessage(const std::string& text) override { last = text; }
  void FocusSfxName() override {}
  void StartProgram(const std::string&) override {}
  void FileFailed(const std::string& path, const std::string& reason) override {
    std::fprintf(stderr, "failed: %s: %s\n", platform::posix::Cp1252ToUtf8(path).c_str(),
                 platform::posix::Cp1252ToUtf8(reason).c_str());
  }
  std::string last;
};

bool Build(const std::string& source, const std::string& sfx, const std::string& stubDir,
           bool bzip2, int jobs) {
  Settings = TInstallInf();
  Settings.SourcePaths.Add(source);
  Settings.SfxName = sfx;
  Settings.MaxCompression = bzip2 ? 1 : 0;
  QuietFrontEnd ui;
  BuildOptions options;
  options.stubDir = stubDir;
  options.jobs = jobs;
  if (BuildArchive(ui, options) == BuildResult::Success) return true;
  std::fprintf(stderr, "  build of %s (-j%d) failed: %s\n", source.c_str(), jobs,
               platform::posix::Cp1252ToUtf8(ui.last).c_str());
  return false;
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
  return std::fclose(data) == 0;
}

// Removes, in every folder below dir, all but one of each set of names that are one name after
// the code page 1252 case fold, as Windows compares names (one folder there holds only one of
// them). The byte-wise greatest spelling stays: of ASCII names the most lower-case one, so
// xt_mark.h stays and xt_MARK.h goes. Symbolic links to folders are not descended, as the builder
// does not descend them. Returns the paths removed, relative to dir; with dryRun only finds them.
std::vector<std::string> RemoveCaseTwins(const fs::path& dir, bool dryRun,
                                         const fs::path& relative = fs::path()) {
  std::vector<std::string> removed;
  std::error_code ec;
  std::map<std::string, std::vector<std::string>> byFold;
  for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
    const std::string name = e.path().filename().string();
    std::string folded = name;
    for (char& c : folded) c = static_cast<char>(platform::FoldCase1252(static_cast<unsigned char>(c)));
    byFold[folded].push_back(name);
  }
  std::vector<std::string> kept;
  for (auto& [folded, names] : byFold) {
    std::sort(names.begin(), names.end());
    for (size_t i = 0; i + 1 < names.size(); ++i) {
      removed.push_back((relative / names[i]).string());
      if (!dryRun) fs::remove_all(dir / names[i], ec);
    }
    kept.push_back(names.back());
  }
  for (const std::string& name : kept) {
    const fs::path p = dir / name;
    if (fs::is_directory(fs::symlink_status(p, ec))) {
      std::vector<std::string> below = RemoveCaseTwins(p, dryRun, relative / name);
      removed.insert(removed.end(), below.begin(), below.end());
    }
  }
  return removed;
}

// Removes every symbolic link below dir that leads to no regular file (to a folder, or nowhere):
// the builder stores none of them, and the peers, which follow links as the builder does, would
// fail on a dangling one or store a folder twice. Returns how many it removed.
size_t RemoveLinksToNoFile(const fs::path& dir) {
  std::vector<fs::path> links;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code target;
    if (it->is_symlink(ec) && !fs::is_regular_file(fs::status(it->path(), target)))
      links.push_back(it->path());
  }
  for (const fs::path& link : links) fs::remove(link, ec);
  return links.size();
}

// Writes bytes bytes to path: the contents of files in listing order, from the first again when
// they run out.
bool MakeTextFile(const std::string& path, uint64_t bytes, const std::vector<TFileInfo>& files) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  std::vector<char> buf(1 << 20);
  uint64_t left = bytes;
  bool ok = true;
  while (ok && left > 0) {
    const uint64_t before = left;
    for (const TFileInfo& file : files) {
      if (left == 0) break;
      std::FILE* in = std::fopen(file.Name.c_str(), "rb");
      if (!in) continue;
      size_t got;
      while (left > 0 && (got = std::fread(buf.data(), 1, buf.size(), in)) > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(got, left));
        ok = ok && std::fwrite(buf.data(), 1, n, out) == n;
        left -= n;
      }
      std::fclose(in);
    }
    if (left == before) ok = false;  // nothing to read: the tree is empty
  }
  return std::fclose(out) == 0 && ok;
}

bool SameBytes(const std::string& a, const std::string& b) {
  std::error_code ec1, ec2;
  if (fs::file_size(a, ec1) != fs::file_size(b, ec2) || ec1 || ec2) return false;
  std::FILE* fa = std::fopen(a.c_str(), "rb");
  std::FILE* fb = std::fopen(b.c_str(), "rb");
  bool same = fa && fb;
  std::vector<char> ba(1 << 20), bb(1 << 20);
  while (same) {
    const size_t na = std::fread(ba.data(), 1, ba.size(), fa);
    const size_t nb = std::fread(bb.data(), 1, bb.size(), fb);
    same = na == nb && std::memcmp(ba.data(), bb.data(), na) == 0;
    if (na == 0) break;
  }
  if (fa) std::fclose(fa);
  if (fb) std::fclose(fb);
  return same;
}

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t from = 0;
  while (from <= dirs.size()) {
    size_t to = dirs.find(':', from);
    if (to == std::string::npos) to = dirs.size();
    const std::string dir = to > from ? dirs.substr(from, to - from) : ".";
    if (access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    from = to + 1;
  }
  return false;
}

double Mib(long kb) { return kb / 1024.0; }
double MegaBytes(const std::string& path) {
  std::error_code ec;
  const auto n = fs::file_size(path, ec);
  return ec ? 0 : n / 1e6;
}

void Usage() {
  std::printf(
      "tambrix_bench [--source DIR] [--in-place] [--jobs N] [--file-mib N] [--big-mib N]\n"
      "              [--no-peers] [--work DIR] [--repeat N]\n"
      "  --source DIR    tree to archive (default /usr/include, copied to the work directory\n"
      "                  and thinned to one of each set of names that differ only in case)\n"
      "  --in-place      archive the source where it is instead of a copy (nothing removed)\n"
      "  --jobs N        threads of the parallel builds (default: one per processor)\n"
      "  --file-mib N    size of the one-file corpus of the tree's text (default 200; 0 skips)\n"
      "  --big-mib N     size of the text and the sparse file of the memory check (default\n"
      "                  1024; 0 checks the tree only)\n"
      "  --no-peers      leave out makeself, pbzip2 and pigz\n"
      "  --work DIR      work directory (default: a new one below $TMPDIR or /tmp)\n"
      "  --repeat N      runs of each speed measurement and peer, the fastest counts (default\n"
      "                  1; the memory check runs each build once)\n");
}

const char* MethodName(bool bzip2) { return bzip2 ? "bzip2" : "gzip"; }

}  // namespace

int main(int argc, char** argv) {
  const auto benchStart = std::chrono::steady_clock::now();
  std::string source = "/usr/include";
  std::string work;
  bool inPlace = false;
  bool peers = true;
  int jobs = DefaultJobs();
  long fileMib = 200;
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
    else if (a == "--jobs")
      jobs = std::max(1, std::atoi(value().c_str()));
    else if (a == "--file-mib")
      fileMib = std::max(0L, std::atol(value().c_str()));
    else if (a == "--big-mib")
      bigMib = std::max(0L, std::atol(value().c_str()));
    else if (a == "--no-peers")
      peers = false;
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
  const fs::path root = fs::absolute(work);
  work = root.string();
  std::FILE* stub = std::fopen((root / "tambrix.res1").c_str(), "wb");
  if (stub) std::fputs("MZ benchmark placeholder stub", stub), std::fclose(stub);
  fs::copy_file(root / "tambrix.res1", root / "tambrix.res2", fs::copy_options::overwrite_existing,
                ec);
  const std::string stubDir = work + "/";
  bool allOk = true;

  // ---- the tree
  std::string tree = source;
  if (!inPlace) {
    tree = (root / "tree").string();
    fs::remove_all(tree, ec);
    std::printf("Copying %s to %s ...\n", source.c_str(), tree.c_str());
    fs::copy(source, tree, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (ec) std::printf("  (copy incomplete: %s)\n", ec.message().c_str());
  }
  const size_t links = inPlace ? 0 : RemoveLinksToNoFile(tree);
  const std::vector<std::string> twins = RemoveCaseTwins(tree, inPlace);
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
  std::printf("tree: %s, %zu files, %.1f MB\n", tree.c_str(), files, bytes / 1e6);
  if (inPlace) {
    if (!twins.empty())
      std::printf("      %zu names differ from another only in case (the builder refuses the tree;"
                  " a copy would keep one of each)\n", twins.size());
  } else {
    std::printf("      %zu names removed from the copy that differ from another only in case"
                " (the lower-case spelling kept)", twins.size());
    for (size_t i = 0; i < twins.size() && i < 3; ++i)
      std::printf("%s%s", i == 0 ? ": " : ", ", twins[i].c_str());
    std::printf("%s\n", twins.size() > 3 ? ", ..." : "");
    std::printf("      %zu symbolic links removed that lead to no file (the builder stores none)\n",
                links);
  }

  // ---- 1. speed: limit, -j1 and -jN on the tree and on one file of its text
  const std::string jN = "-j" + std::to_string(jobs);
  const fs::path fileDir = root / "file";
  const uint64_t fileBytes = static_cast<uint64_t>(fileMib) << 20;
  if (fileMib > 0) {
    fs::create_directories(fileDir, ec);
    if (!MakeTextFile((fileDir / "text.h").string(), fileBytes, list.Files)) {
      std::printf("could not write %s\n", (fileDir / "text.h").c_str());
      allOk = false;
    }
    std::printf("file: one file of %ld MiB, the tree's files concatenated again and again\n",
                fileMib);
  }
  std::printf(
      "limit: list, read and compress every file with libbz2/zlib in-process on one thread at the\n"
      "       builder's settings (bzip2 block size 9, zlib level 9), into one data file\n"
      "%s/(limit/%d): the builder on %d threads against the ideal for %d threads\n\n",
      jN.c_str(), jobs, jobs, jobs);
  std::printf("Speed (fastest of %d run%s; N = %d)\n", repeat, repeat == 1 ? "" : "s", jobs);
  auto centered = [](const std::string& text, size_t width) {
    const size_t left = text.size() < width ? (width - text.size()) / 2 : 0;
    std::string s = std::string(left, ' ') + text;
    return s + std::string(s.size() < width ? width - s.size() : 0, ' ');
  };
  std::printf("%13s|%s|%s|%s|%s\n", "", centered("wall s", 29).c_str(),
              centered("ratios of wall times", 33).c_str(), centered("CPU s", 23).c_str(),
              centered("archive", 9).c_str());
  std::printf("%-6s %-6s| %8s %8s %8s  | %9s %8s %12s | %6s %6s %6s  | %7s  %s\n", "corpus",
              "method", "limit", "-j1", jN.c_str(), "-j1/limit", ("-j1/" + jN).c_str(),
              (jN + "/(lim/" + std::to_string(jobs) + ")").c_str(), "limit", "-j1", jN.c_str(),
              "MB", ("-j1 vs " + jN).c_str());

  struct Corpus {
    std::string name;
    std::string dir;
  };
  std::vector<Corpus> corpora{{"tree", tree}};
  if (fileMib > 0) corpora.push_back({"file", fileDir.string()});
  // The tree's builds on 1 and N threads, for the memory table and the peers.
  std::map<std::pair<bool, int>, Measure> treeBuilds;
  double treeArchiveMb[2] = {0, 0};
  std::map<std::pair<bool, int>, Measure> fileBuilds;  // the same for the text file
  for (const Corpus& corpus : corpora) {
    for (int m = 0; m < 2; ++m) {
      const bool bzip2 = m == 0;
      // Both builds write the same SFX name, which the settings block holds; the one-thread
      // archive is then moved aside for the comparison.
      const std::string sfx = work + "/bench.exe";
      const std::string one = work + "/j1.exe";
      const std::string many = sfx;
      Measure limit, single, parallel;
      bool identical = true;
      for (int r = 0; r < repeat; ++r) {
        limit = Fastest(limit, InChild([&] { return Limit(corpus.dir, work + "/limit.dat", bzip2); }));
        single = Fastest(single, InChild([&] { return Build(corpus.dir, sfx, stubDir, bzip2, 1); }));
        fs::rename(sfx, one, ec);
        parallel =
            Fastest(parallel, InChild([&] { return Build(corpus.dir, sfx, stubDir, bzip2, jobs); }));
        identical = identical && single.ok && parallel.ok && SameBytes(one, many);
      }
      allOk = allOk && limit.ok && single.ok && parallel.ok && identical;
      if (corpus.name == "tree") {
        treeBuilds[{bzip2, 1}] = single;
        treeBuilds[{bzip2, jobs}] = parallel;
        treeArchiveMb[m] = MegaBytes(many);
      } else {
        fileBuilds[{bzip2, 1}] = single;
        fileBuilds[{bzip2, jobs}] = parallel;
      }
      std::printf("%-6s %-6s| %8.2f %8.2f %8.2f  | %9.3f %7.2fx %12.3f | %6.2f %6.2f %6.2f  | %7.1f  %s\n",
                  corpus.name.c_str(), MethodName(bzip2), limit.wall, single.wall, parallel.wall,
                  single.wall / limit.wall, single.wall / parallel.wall,
                  parallel.wall / (limit.wall / jobs), limit.cpu, single.cpu, parallel.cpu,
                  MegaBytes(one),
                  !single.ok || !parallel.ok ? "BUILD FAILED"
                                             : identical ? "identical" : "DIFFERENT");
      fs::remove(one, ec);
      fs::remove(many, ec);
      fs::remove(work + "/limit.dat", ec);
    }
  }
  fs::remove_all(fileDir, ec);

  // ---- 2. memory on 1, 2 and 4 threads: the tree, one text file and one sparse file
  const int memoryJobs[] = {1, 2, 4};
  const fs::path textDir = root / "text";
  const fs::path sparseDir = root / "sparse";
  const uint64_t bigBytes = static_cast<uint64_t>(bigMib) << 20;
  std::map<std::pair<bool, int>, Measure> textBuilds, sparseBuilds;
  struct Run {
    std::map<std::pair<bool, int>, Measure>* into;
    bool bzip2;
    int jobs;
    std::function<bool()> body;
  };
  std::vector<Run> runs;
  auto add = [&](std::map<std::pair<bool, int>, Measure>& into, const std::string& dir, bool bzip2,
                 int n) {
    const std::string sfx = work + "/memory-" + std::to_string(runs.size()) + ".exe";
    runs.push_back({&into, bzip2, n, [=] { return Build(dir, sfx, stubDir, bzip2, n); }});
  };
  if (bigMib > 0) {
    fs::create_directories(textDir, ec);
    fs::create_directories(sparseDir, ec);
    if (!MakeTextFile((textDir / "text.h").string(), bigBytes, list.Files)) allOk = false;
    // A sparse file: the memory check needs its size, not disk space.
    std::FILE* f = std::fopen((sparseDir / "sparse.bin").c_str(), "wb");
    if (!f || ftruncate(fileno(f), static_cast<off_t>(bigBytes)) != 0) allOk = false;
    if (f) std::fclose(f);
    // The longest first: one thread of bzip2, then gzip (one file is one thread whatever -j).
    add(textBuilds, textDir.string(), true, 1);
    for (int n : memoryJobs) add(textBuilds, textDir.string(), false, n);
    for (int n : memoryJobs)
      if (n > 1) add(textBuilds, textDir.string(), true, n);
    for (int m = 0; m < 2; ++m)
      for (int n : memoryJobs) add(sparseBuilds, sparseDir.string(), m == 0, n);
  }
  for (int m = 0; m < 2; ++m)  // the tree on the thread counts the speed table did not run
    for (int n : memoryJobs)
      if (!treeBuilds.count({m == 0, n})) add(treeBuilds, tree, m == 0, n);
  {
    std::vector<std::function<bool()>> bodies;
    for (const Run& r : runs) bodies.push_back(r.body);
    const std::vector<Measure> done = InChildren(bodies, DefaultJobs());
    for (size_t i = 0; i < runs.size(); ++i) (*runs[i].into)[{runs[i].bzip2, runs[i].jobs}] = done[i];
    for (size_t i = 0; i < runs.size(); ++i)
      fs::remove(work + "/memory-" + std::to_string(i) + ".exe", ec);
  }
  fs::remove_all(textDir, ec);
  fs::remove_all(sparseDir, ec);

  std::printf("\nPeak memory of the builder, MiB (ru_maxrss): the tree's -j1 and %s builds are those"
              " above; the\nothers ran once, %d at a time\n", jN.c_str(), DefaultJobs());
  char treeHead[40], textHead[40], sparseHead[40];
  std::snprintf(treeHead, sizeof treeHead, "tree %.0f MB", bytes / 1e6);
  std::snprintf(textHead, sizeof textHead, "text %ld MiB", bigMib);
  std::snprintf(sparseHead, sizeof sparseHead, "sparse %ld MiB", bigMib);
  std::printf("%-6s %4s  %14s", "method", "jobs", treeHead);
  if (bigMib > 0) std::printf("  %14s  %14s", textHead, sparseHead);
  std::printf("\n");
  auto cell = [](const Measure& b) {
    char s[40];
    if (b.ok)
      std::snprintf(s, sizeof s, "  %14.1f", Mib(b.maxRssKb));
    else
      std::snprintf(s, sizeof s, "  %14s", "FAILED");
    return std::string(s);
  };
  std::vector<std::string> growth;
  for (int m = 0; m < 2; ++m) {
    const bool bzip2 = m == 0;
    for (int n : memoryJobs) {
      const Measure& t = treeBuilds[{bzip2, n}];
      allOk = allOk && t.ok;
      std::printf("%-6s %4d%s", MethodName(bzip2), n, cell(t).c_str());
      if (bigMib > 0) {
        const Measure& x = textBuilds[{bzip2, n}];
        const Measure& s = sparseBuilds[{bzip2, n}];
        allOk = allOk && x.ok && s.ok;
        std::printf("%s%s", cell(x).c_str(), cell(s).c_str());
      }
      std::printf("\n");
    }
    // How memory follows the threads, and how it does not follow the size of a file: the text
    // file of the speed table against the big one, at the same threads.
    auto growthOf = [&](std::map<std::pair<bool, int>, Measure>& builds, const char* what) {
      char s[80];
      std::snprintf(s, sizeof s, "%+.1f MiB (%s)",
                    Mib(builds[{bzip2, 4}].maxRssKb - builds[{bzip2, 1}].maxRssKb), what);
      return std::string(s);
    };
    std::string line = std::string(MethodName(bzip2)) + ": -j1 to -j4 " +
                       growthOf(treeBuilds, "tree");
    if (bigMib > 0) {
      line += ", " + growthOf(textBuilds, "text") + ", " + growthOf(sparseBuilds, "sparse");
      if (fileMib > 0) {
        char s[120];
        std::snprintf(s, sizeof s, "; text %ld MiB against %ld MiB: %+.1f MiB at -j1", bigMib,
                      fileMib, Mib(textBuilds[{bzip2, 1}].maxRssKb - fileBuilds[{bzip2, 1}].maxRssKb));
        line += s;
        if (jobs > 1) {
          std::snprintf(s, sizeof s, ", %+.1f MiB at %s",
                        Mib(textBuilds[{bzip2, jobs}].maxRssKb -
                            fileBuilds[{bzip2, jobs}].maxRssKb),
                        jN.c_str());
          line += s;
        }
      }
    }
    growth.push_back(line);
  }
  for (const std::string& line : growth) std::printf("  %s\n", line.c_str());

  // ---- 3. peers on the tree, as programs, with as many threads as -jN
  if (peers) {
    const std::string threads = std::to_string(jobs);
    const std::string log = work + "/peers.log";
    const std::string out = work + "/peer.out";
    struct Peer {
      bool bzip2;
      std::string label;
      std::vector<std::string> needs;
      std::vector<std::string> args;
      std::string shown;  // the command, with TREE and OUT for the paths
    };
    const std::string makeselfFlags =
        "--complevel 9 --threads " + threads + " --nox11 --nomd5 --nocrc --follow --quiet";
    auto makeself = [&](const std::string& compressor) {
      Peer p{compressor == "pbzip2", "makeself --" + compressor, {"makeself", compressor}, {}, ""};
      p.args = {"makeself", "--" + compressor};
      size_t from = 0;
      for (size_t to; (to = makeselfFlags.find(' ', from)) != std::string::npos; from = to + 1)
        p.args.push_back(makeselfFlags.substr(from, to - from));
      p.args.push_back(makeselfFlags.substr(from));
      for (const char* a : {"TREE", "OUT", "tambrix-bench", "true"}) p.args.push_back(a);
      p.shown = "makeself --" + compressor + " " + makeselfFlags + " TREE OUT tambrix-bench true";
      std::replace(p.args.begin(), p.args.end(), std::string("TREE"), tree);
      std::replace(p.args.begin(), p.args.end(), std::string("OUT"), out);
      return p;
    };
    // tar follows symbolic links (-h), as the builder and makeself --follow do; bash's pipefail
    // lets a failing tar fail the run.
    auto pipe = [&](const std::string& compressor, const std::string& command) {
      const std::string tar = "tar -chf - -C ";
      return Peer{compressor == "pbzip2",
                  "tar | " + compressor + " -9",
                  {"bash", "tar", compressor},
                  {"bash", "-o", "pipefail", "-c",
                   tar + "\"$1\" . | " + command + " > \"$2\"", "bash", tree, out},
                  tar + "TREE . | " + command + " > OUT"};
    };
    const std::vector<Peer> peerList{
        makeself("pbzip2"),
        pipe("pbzip2", "pbzip2 -9 -c -p" + threads),
        makeself("pigz"),
        pipe("pigz", "pigz -9 -c -p " + threads),
    };
    std::printf("\nPeers on the tree, run as programs (fastest of %d run%s; %d threads each, level 9)"
                "\n", repeat, repeat == 1 ? "" : "s", jobs);
    const std::string versus = "wall / tambrix " + jN;
    const int vw = static_cast<int>(versus.size());
    std::printf("%-6s %-28s %8s %8s %8s  %s\n", "method", "tool", "wall s", "CPU s", "out MB",
                versus.c_str());
    for (int m = 0; m < 2; ++m) {
      const bool bzip2 = m == 0;
      const Measure& own = treeBuilds[{bzip2, jobs}];
      std::printf("%-6s %-28s %8.2f %8.2f %8.1f  %*.3f\n", MethodName(bzip2),
                  ("tambrix " + jN + " (in-process)").c_str(), own.wall, own.cpu,
                  treeArchiveMb[m], vw, 1.0);
      for (const Peer& peer : peerList) {
        if (peer.bzip2 != bzip2) continue;
        std::string missing;
        for (const std::string& program : peer.needs)
          if (!OnPath(program)) missing += (missing.empty() ? "" : ", ") + program;
        if (!missing.empty()) {
          std::printf("%-6s %-28s skipped: %s not installed\n", MethodName(bzip2),
                      peer.label.c_str(), missing.c_str());
          continue;
        }
        Measure best;
        for (int r = 0; r < repeat; ++r) {
          fs::remove(out, ec);
          best = Fastest(best, RunProgram(peer.args, log, work));
        }
        if (!best.ok) {
          std::printf("%-6s %-28s FAILED (its messages below)\n", MethodName(bzip2),
                      peer.label.c_str());
          allOk = false;
        } else {
          std::printf("%-6s %-28s %8.2f %8.2f %8.1f  %*.3f\n", MethodName(bzip2),
                      peer.label.c_str(), best.wall, best.cpu, MegaBytes(out), vw,
                      best.wall / own.wall);
        }
        fs::remove(out, ec);
      }
    }
    std::printf("  commands, TREE being the tree above and OUT the output file:\n");
    for (const Peer& peer : peerList) std::printf("    %s\n", peer.shown.c_str());
    std::printf(
        "  (makeself: --nomd5 --nocrc leave out its checksums, --nox11 its terminal window, and\n"
        "   --follow stores what links point to, as the builder does; it writes its tar to a\n"
        "   temporary file and then compresses that, as makeself always works)\n");
    if (std::FILE* f = std::fopen(log.c_str(), "r")) {
      char line[512];
      bool first = true;
      while (std::fgets(line, sizeof line, f)) {
        if (first) std::printf("  messages of the peers:\n");
        first = false;
        std::printf("    %s", line);
      }
      std::fclose(f);
    }
  }

  fs::remove_all(root, ec);
  std::printf("\nBuild benchmark: %.0f s%s\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - benchStart).count(),
              allOk ? "" : "; SOMETHING FAILED (see above)");
  return allOk ? 0 : 1;
}
