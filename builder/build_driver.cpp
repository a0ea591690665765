#include "builder/build_driver.h"

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "archive/archive_layout.h"
#include "archive/archive_writer.h"
#include "archive/stored_name.h"
#include "builder/compressor.h"
#include "builder/file_helpers.h"
#include "builder/parallel_compressor.h"
#include "builder/source_names.h"
#include "platform/platform.h"
#include "settings/settings_block.h"
#include "support/dir_scanner.h"
#include "support/file_access.h"
#include "support/tus_strings.h"
#include "support/util_var_man.h"

const char* const kMsgNoName = "Es wurde noch kein Archivname angegeben!";
const char* const kMsgStubMissing =
    "Kann Datei tambrix.resx nicht \xF6"
    "ffnen!";
const char* const kMsgStubCopy = "Fehler bei Lesen aus Datei tambrix.resx!";
const char* const kMsgDataCopy = "Fehler bei Lesen aus der Datendatei!";
const char* const kMsgSuccess = "Das Archiv wurde ordnungsgem\xE4\xDF erstellt!";
const char* const kMsgFileFailed = "Fehler bei der Erstellung des Archivs!";
const char* const kMsgCancelled =
    "Die Erstellung des Archivs wurde abgebrochen; es bleibt keine Datei zur\xFC"
    "ck.";

namespace {

const char* const kBatchAbort = "Abbruch: ";
const char* const kBatchSuccess = "Erfolg: ";
const char* const kBatchWarning = "Warnung: ";
const char* const kSettingsTooLarge =
    "Die Einstellungen passen nicht in das Archiv: ein Text oder eine Liste ist zu lang!";

// A message box in an interactive build, a line of BatchReport during a batch run.
void Report(BuildFrontEnd& ui, const std::string& text, const char* batchPrefix) {
  if (BatchRunning) {
    BatchReport.Add(std::string(batchPrefix) + text);
  } else {
    ui.ShowMessage(text);
  }
}

bool IsSeparator(char c, char sep) { return c == sep || (sep == '\\' && (c == '/' || c == ':')); }

bool EndsWithSeparator(const std::string& s, char sep) {
  return !s.empty() && (s.back() == sep || s.back() == '\\' || s.back() == '/');
}

// The folder part of path with its trailing separator ("C:" for a drive-relative name), or ""
// for a bare name in the current directory.
std::string FolderOf(const std::string& path, char sep) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsSeparator(path[i - 1], sep)) return path.substr(0, i);
  }
  return std::string();
}

// n with a dot between each group of three digits, as German writes large numbers.
std::string GroupedDigits(uint64_t n) {
  std::string digits = std::to_string(n);
  for (size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ".");
  return digits;
}

std::string UnreadableText(const std::vector<std::string>& folders, bool skipped) {
  const std::string& first = folders.front();
  if (folders.size() == 1) {
    return "Der Ordner " + first + " kann nicht gelesen werden" +
           (skipped ? " und fehlt im Archiv!" : "!");
  }
  return "Der Ordner " + first + " und " + std::to_string(folders.size() - 1) +
         " weitere k\xF6nnen nicht gelesen werden" + (skipped ? " und fehlen im Archiv!" : "!");
}

void CloseFile(std::FILE*& f) {
  if (f != nullptr) {
    std::fclose(f);
    f = nullptr;
  }
}

// One run of the build. It owns everything the run makes (open files, the data file, the program
// file under its temporary name); whatever is still held when it ends is closed and removed.
class BuildRun {
 public:
  BuildRun(BuildFrontEnd& ui, const BuildOptions& options)
      : ui_(ui), options_(options), os_(platform::Current()), sfxName_(Settings.SfxName) {}
  ~BuildRun() {
    CloseFile(stub_);
    CloseFile(program_);
    CloseFile(data_);
    compressor_.Close();
    if (!programTemp_.empty()) os_.Remove(programTemp_);
    if (!dataName_.empty() && FileExists(dataName_)) os_.Remove(dataName_);
  }
  BuildRun(const BuildRun&) = delete;
  BuildRun& operator=(const BuildRun&) = delete;

  BuildResult Run();

 private:
  BuildResult Fail(BuildResult result, const std::string& text) {
    Report(ui_, text, kBatchAbort);
    return result;
  }
  // The folder of the stub files, with a trailing separator unless it is the current one.
  std::string StubFolder() const {
    std::string dir = options_.stubDir.empty() ? TUtilVarMan().ProgramDir : options_.stubDir;
    if (!dir.empty() && !EndsWithSeparator(dir, os_.Separator())) dir += os_.Separator();
    return dir;
  }
  // Fail as a step: reports text, sets result and returns false.
  bool FailStep(BuildResult& result, BuildResult failure, const std::string& text) {
    result = Fail(failure, text);
    return false;
  }
  bool Cancelled() const { return options_.cancel != nullptr && options_.cancel->load(); }
  bool MaxCompression() const { return Settings.MaxCompression != 0; }
  bool CheckSource(BuildResult& result);
  bool CheckOutput(BuildResult& result);
  bool CheckSettingsFit(BuildResult& result);
  bool ListSource(TDirList& list, BuildResult& result);
  bool CheckSomethingToPack(const TDirList& list, BuildResult& result);
  bool OpenStub(BuildResult& result);
  bool DressStub(BuildResult& result);
  bool CreateProgramFile(BuildResult& result);
  bool CreateDataFile(BuildResult& result);
  void SetUpCompressor(const TDirList& list);
  size_t AddEntries(const TDirList& list);
  bool FinishData(const TDirList& list, size_t added, BuildResult& result);
  bool CheckProgramSize(BuildResult& result);
  std::string TooLargeText(uint64_t bytes, bool atLeast) const;
  bool WriteProgram(BuildResult& result);
  bool PutInPlace(BuildResult& result);

  BuildFrontEnd& ui_;
  const BuildOptions& options_;
  platform::Os& os_;
  const std::string sfxName_;
  std::string sourceDir_;
  bool outputExists_ = false;  // a file of the SFX name exists, with identity output_
  platform::FileId output_;
  std::string programTemp_;  // the program file until it takes its place
  std::string dataName_;
  std::string stubPath_;
  std::FILE* stub_ = nullptr;
  std::vector<uint8_t> dressedStub_;  // the stub with the vendor's resources; empty: stub_ as is
  std::FILE* program_ = nullptr;
  std::FILE* data_ = nullptr;
  uint64_t programBytes_ = 0;  // the length of the finished program file
  uint64_t fixedBytes_ = 0;    // stub, settings block and offset: the program file less its data
  TCompressor compressor_;
};

bool BuildRun::CheckSource(BuildResult& result) {
  sourceDir_ = Settings.SourcePaths.Count() > 0 ? Settings.SourcePaths.At(0) : std::string();
  if (os_.IsDirectory(sourceDir_)) return true;
  if (sourceDir_.empty()) {
    result = Fail(BuildResult::SourceMissing, "Es wurde noch kein Quellverzeichnis angegeben!");
  } else if (os_.Exists(sourceDir_)) {
    result = Fail(BuildResult::SourceMissing,
                  "Das Quellverzeichnis " + sourceDir_ + " ist kein Verzeichnis!");
  } else {
    result = Fail(BuildResult::SourceMissing,
                  "Das Quellverzeichnis " + sourceDir_ + " existiert nicht!");
  }
  return false;
}

// The SFX name may not be a directory, nor one of the files the builder itself runs on: a build
// would put an archive in place of the stub every later build copies, or of the running program.
bool BuildRun::CheckOutput(BuildResult& result) {
  if (os_.IsDirectory(sfxName_)) {
    return FailStep(result, BuildResult::OutputRefused,
                    "Der Archivname " + sfxName_ + " bezeichnet ein Verzeichnis!");
  }
  outputExists_ = os_.Identity(sfxName_, output_);
  if (!outputExists_) return true;  // no such file yet
  const std::string stubDir = StubFolder();
  const std::string own[] = {stubDir + layout::kStubBzip2, stubDir + layout::kStubGzip,
                             os_.ProgramPath()};
  for (const std::string& path : own) {
    platform::FileId id;
    if (!path.empty() && os_.Identity(path, id) && id == output_) {
      return FailStep(result, BuildResult::OutputRefused,
                      "Der Archivname " + sfxName_ + " bezeichnet die Programmdatei " + path +
                          "; sie wird nicht \xFC"
                          "berschrieben!");
    }
  }
  return true;
}

// Creates the program file new under a temporary name in the folder of the SFX name, so that
// renaming it into place later never crosses a volume.
bool BuildRun::CreateProgramFile(BuildResult& result) {
  const std::string folder = FolderOf(sfxName_, os_.Separator());
  if (!folder.empty() && !os_.IsDirectory(folder)) {
    return FailStep(result, BuildResult::ProgramCreateFailed,
                    "Das Verzeichnis " + folder + " f\xFCr das Archiv existiert nicht!");
  }
  std::random_device seed;
  std::minstd_rand numbers(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04x", static_cast<unsigned>(numbers() & 0xFFFF));
    const std::string candidate = folder + "tbx" + digits + ".tmp";
    program_ = os_.Open(candidate, "wbx");
    if (program_ != nullptr) {
      programTemp_ = candidate;
      return true;
    }
    if (!os_.Exists(candidate)) break;  // not a name taken: the folder cannot be written
  }
  return FailStep(result, BuildResult::ProgramCreateFailed,
                  "Die Programmdatei " + sfxName_ + " kann nicht angelegt werden!");
}

// The steps of a build, in order. Each step returns false with result set when the build ends
// there; what the run holds is released by the destructor.
BuildResult BuildRun::Run() {
  BuildResult result = BuildResult::Success;
  TDirList list;
  if (!CheckSource(result) || !CheckOutput(result) || !CheckSettingsFit(result) ||
      !ListSource(list, result) || !OpenStub(result) || !DressStub(result) ||
      !CreateProgramFile(result) || !CreateDataFile(result)) {
    return result;
  }
  SetUpCompressor(list);
  const size_t added = AddEntries(list);
  const bool allAdded = added == list.Files.size();
  if (!FinishData(list, added, result) || !CheckProgramSize(result) || !WriteProgram(result) ||
      !PutInPlace(result)) {
    return result;
  }
  if (allAdded) {
    ui_.ArchiveWritten(sfxName_, added, programBytes_);
    Report(ui_, kMsgSuccess, kBatchSuccess);
  } else {
    Report(ui_, kMsgFileFailed, "");
    result = BuildResult::FileFailed;
  }
  if (options_.startAfterwards) ui_.StartProgram(sfxName_);
  return result;
}

// The settings as they will be stored must fit the settings block, before anything is written.
bool BuildRun::CheckSettingsFit(BuildResult& result) {
  TInstallInf trimmed = Settings;
  trimmed.TrimTexts();
  if (FitsSettingsBlock(trimmed)) return true;
  return FailStep(result, BuildResult::SettingsTooLarge, kSettingsTooLarge);
}

// The whole tree is listed and its names judged by the extractor's rules before anything is
// written: a tree the extractor would refuse gives no archive at all. An older program file
// of the SFX name inside the tree is not packed into its successor.
bool BuildRun::ListSource(TDirList& list, BuildResult& result) {
  list.Masks.push_back("*.*");
  list.Recursive = true;
  list.Sorted = false;
  if (outputExists_) list.Skip.push_back(output_);
  list.Scan(sourceDir_, false);
  std::string namesRefused;
  if (!CheckSourceNames(list.Files, sourceDir_, os_.Separator(), Settings.StoreDirNames != 0,
                        namesRefused, options_.names)) {
    return FailStep(result, BuildResult::NamesRefused, namesRefused);
  }
  if (!list.Unreadable.empty()) {
    for (const std::string& folder : list.Unreadable) ui_.FolderUnreadable(folder);
    if (!options_.skipUnreadable) {
      return FailStep(result, BuildResult::FoldersUnreadable,
                      UnreadableText(list.Unreadable, false));
    }
    Report(ui_, UnreadableText(list.Unreadable, true), kBatchWarning);
  }
  return CheckSomethingToPack(list, result);
}

// An archive of no file is no archive: a source that holds nothing, or nothing but the older
// program file of the SFX name (which is never packed into its successor), is refused.
bool BuildRun::CheckSomethingToPack(const TDirList& list, BuildResult& result) {
  if (!list.Files.empty()) return true;
  if (list.SkippedFiles > 0) {
    return FailStep(result, BuildResult::SourceEmpty,
                    "Das Quellverzeichnis " + sourceDir_ +
                        " enth\xE4lt keine Datei au\xDF"
                        "er dem Archiv " +
                        sfxName_ + " selbst, das nicht in sich selbst gepackt wird!");
  }
  return FailStep(result, BuildResult::SourceEmpty,
                  "Das Quellverzeichnis " + sourceDir_ + " enth\xE4lt keine Dateien!");
}

// The stub of the chosen method, from the stub folder.
bool BuildRun::OpenStub(BuildResult& result) {
  stubPath_ = StubFolder() + (MaxCompression() ? layout::kStubBzip2 : layout::kStubGzip);
  stub_ = FileExists(stubPath_) ? os_.Open(stubPath_, "rb") : nullptr;
  if (stub_ != nullptr) return true;
  result = Fail(BuildResult::StubMissing, kMsgStubMissing);
  ui_.StubMissing(stubPath_);
  return false;
}

// A stub and an icon file are read whole into memory to be rewritten; neither comes near these.
constexpr size_t kMaxStubBytes = 64u << 20;
constexpr size_t kMaxIconFileBytes = 16u << 20;

// Gives the stub the vendor's icon, version information and elevation level when the build asks
// for any of them: the stub is read whole and its resources rewritten in memory. Without them the
// stub file is copied as it is.
bool BuildRun::DressStub(BuildResult& result) {
  StubLook look;
  look.iconFile = TrimBlanks(Settings.IconFile);
  look.version = options_.version;
  look.level = options_.level;
  if (look.Empty()) return true;
  std::vector<uint8_t> stub, icon;
  if (!ReadWholeStream(stub_, stub, kMaxStubBytes)) {
    return FailStep(result, BuildResult::StubCopyFailed, kMsgStubCopy);
  }
  if (!look.iconFile.empty()) {
    if (!FileExists(look.iconFile) || os_.IsDirectory(look.iconFile)) {
      return FailStep(result, BuildResult::StubLookFailed,
                      "Die Symboldatei " + look.iconFile + " existiert nicht!");
    }
    std::FILE* f = os_.Open(look.iconFile, "rb");
    const bool read = ReadWholeStream(f, icon, kMaxIconFileBytes);
    if (f != nullptr) std::fclose(f);
    if (!read) {
      return FailStep(result, BuildResult::StubLookFailed,
                      "Die Symboldatei " + look.iconFile +
                          " kann nicht gelesen werden oder ist gr\xF6\xDF"
                          "er als 16 MiB!");
    }
  }
  std::string why;
  if (!CustomizeStub(stub, stubPath_, look, icon, dressedStub_, &why)) {
    return FailStep(result, BuildResult::StubLookFailed, why);
  }
  CloseFile(stub_);
  return true;
}

// The temporary data file that takes the compressed entries.
bool BuildRun::CreateDataFile(BuildResult& result) {
  dataName_ = MakeTempName("zal");
  if (!dataName_.empty()) return true;
  return FailStep(result, BuildResult::DataWriteFailed,
                  "Die Datendatei kann nicht angelegt werden!");
}

void BuildRun::SetUpCompressor(const TDirList& list) {
  compressor_.Method = MaxCompression() ? layout::kMethodBzip2 : layout::kMethodGzip;
  compressor_.BufferSize = 64000;
  compressor_.Buffer.assign(static_cast<size_t>(compressor_.BufferSize), 0);
  compressor_.OutputPath = dataName_;
  compressor_.StatusWindow = [this](const std::string& text) { ui_.ShowProgress(text); };
  compressor_.BytesDone = 0;
  compressor_.FileCount = static_cast<int32_t>(list.Files.size());
  compressor_.TotalSize = list.TotalSize;
  compressor_.TrueTotalSize = list.TrueTotalSize;

  compressor_.CancelRequested = options_.cancel;
  compressor_.LatestTime = options_.latestTime;
  // The data file may grow as far as the program file stays below 4 GiB around it.
  TInstallInf trimmed = Settings;
  trimmed.TrimTexts();
  const int64_t stubBytes =
      stub_ != nullptr ? platform::StreamSize(stub_) : static_cast<int64_t>(dressedStub_.size());
  fixedBytes_ = (stubBytes > 0 ? static_cast<uint64_t>(stubBytes) : 0) +
                SettingsBlockSize(trimmed) + layout::kSettingsOffsetSize;
  compressor_.DataLimit =
      fixedBytes_ < kMaxProgramBytes - 1 ? kMaxProgramBytes - 1 - fixedBytes_ : 1;
}

// Compresses the entries on one thread or several, and returns how many were added. A source
// file that cannot be added ends the entries there.
size_t BuildRun::AddEntries(const TDirList& list) {
  size_t added = 0;
  if (options_.jobs <= 1) {
    for (const TFileInfo& file : list.Files) {
      compressor_.SourcePath = file.Name;
      compressor_.StoredName = StoredNameOf(file.Name, sourceDir_, os_.Separator(), options_.names);
      if (!compressor_.AddFile()) break;
      ++added;
    }
    return added;
  }
  std::vector<ParallelFile> files;
  files.reserve(list.Files.size());
  for (const TFileInfo& file : list.Files) {
    files.push_back({file.Name,
                     StoredNameOf(file.Name, sourceDir_, os_.Separator(), options_.names),
                     file.TrueSize});
  }
  return AddFilesInParallel(compressor_, files, options_.jobs,
                            [this](const std::string& text) { ui_.ShowProgress(text); });
}

// Completes the data file. After a source file that could not be added, the program file is
// still completed around the entries before it; a cancel or a data file that cannot be written
// ends the build.
bool BuildRun::FinishData(const TDirList& list, size_t added, BuildResult& result) {
  const std::string dataWriteFailed = "Fehler beim Schreiben der Datendatei " + dataName_ + "!";
  if (added != list.Files.size()) {
    ui_.ShowProgress("");
    if (compressor_.Cancelled) return FailStep(result, BuildResult::Cancelled, kMsgCancelled);
    if (compressor_.TooLarge) {
      const int64_t dataBytes = platform::Tell64(compressor_.OutFile);
      return FailStep(result, BuildResult::ArchiveTooLarge,
                      TooLargeText(fixedBytes_ + static_cast<uint64_t>(dataBytes), true));
    }
    if (compressor_.OutputFailed) {
      return FailStep(result, BuildResult::DataWriteFailed, dataWriteFailed);
    }
    ui_.FileFailed(list.Files[added].Name, compressor_.LastError);
  }
  const bool dataWhole = compressor_.Finish();
  ui_.ShowProgress("");
  if (!dataWhole) return FailStep(result, BuildResult::DataWriteFailed, dataWriteFailed);
  if (Cancelled()) return FailStep(result, BuildResult::Cancelled, kMsgCancelled);
  return true;
}

// The program file's length is known once the data file is complete: stub, settings block, data
// and offset. Windows starts no program file of 4 GiB or more, so such an archive is refused
// before a byte of it is written. Leaves the data file open in data_ for WriteProgram.
bool BuildRun::CheckProgramSize(BuildResult& result) {
  data_ = os_.Open(dataName_, "rb");
  const int64_t dataBytes = data_ != nullptr ? platform::StreamSize(data_) : -1;
  if (dataBytes < 0) return FailStep(result, BuildResult::DataCopyFailed, kMsgDataCopy);
  const uint64_t total = fixedBytes_ + static_cast<uint64_t>(dataBytes);
  if (total < kMaxProgramBytes) return true;
  return FailStep(result, BuildResult::ArchiveTooLarge, TooLargeText(total, false));
}

// Says that the program file sfxName_ would be bytes long (at least, while the data file still
// grows) and that Windows starts none of 4 GiB or more.
std::string BuildRun::TooLargeText(uint64_t bytes, bool atLeast) const {
  return "Das Archiv " + sfxName_ + " w\xE4re " + (atLeast ? "mindestens " : "") +
         GroupedDigits(bytes) + " Bytes gro\xDF; Windows startet keine Programmdatei ab 4 GiB (" +
         GroupedDigits(kMaxProgramBytes) + " Bytes). Es wurde nicht erstellt!";
}

// Writes stub, settings, data and offset into the program file, then closes and removes the
// data file and closes the program file; programBytes_ is the program file's length.
bool BuildRun::WriteProgram(BuildResult& result) {
  const std::string programWriteFailed =
      "Fehler beim Schreiben der Programmdatei " + sfxName_ + "!";
  const PartOpener openData = [this]() {
    if (data_ == nullptr) data_ = os_.Open(dataName_, "rb");
    return data_;
  };
  switch (stub_ != nullptr ? WriteArchive(program_, stub_, Settings, openData)
                           : WriteArchive(program_, dressedStub_, Settings, openData)) {
    case ArchiveWriteStatus::Ok:
      break;
    case ArchiveWriteStatus::StubFailed:
      return FailStep(result, BuildResult::StubCopyFailed, kMsgStubCopy);
    case ArchiveWriteStatus::PartFailed:
      return FailStep(result, BuildResult::DataCopyFailed, kMsgDataCopy);
    case ArchiveWriteStatus::SettingsTooLarge:
      return FailStep(result, BuildResult::SettingsTooLarge, kSettingsTooLarge);
    case ArchiveWriteStatus::WriteFailed:
      return FailStep(result, BuildResult::ProgramWriteFailed, programWriteFailed);
  }
  CloseFile(data_);
  os_.Remove(dataName_);
  dataName_.clear();
  CloseFile(stub_);
  const int64_t programBytes = platform::Tell64(program_);
  programBytes_ = programBytes < 0 ? 0 : static_cast<uint64_t>(programBytes);
  const bool closed = std::fclose(program_) == 0;
  program_ = nullptr;
  if (!closed) return FailStep(result, BuildResult::ProgramWriteFailed, programWriteFailed);
  if (Cancelled()) return FailStep(result, BuildResult::Cancelled, kMsgCancelled);
  return true;
}

// The finished file takes the place of the SFX name, replacing an older one only now.
bool BuildRun::PutInPlace(BuildResult& result) {
  if (!os_.Replace(programTemp_, sfxName_)) {
    return FailStep(result, BuildResult::ProgramCreateFailed,
                    os_.Exists(sfxName_)
                        ? "Die vorhandene Datei " + sfxName_ + " kann nicht ersetzt werden!"
                        : "Die Programmdatei " + sfxName_ + " kann nicht angelegt werden!");
  }
  programTemp_.clear();
  return true;
}

}  // namespace

BuildResult BuildArchive(BuildFrontEnd& ui, const BuildOptions& options) {
  Settings.SfxName = TrimBlanks(Settings.SfxName);
  if (BatchRunning) BatchReport.Add("\nArchivName: " + Settings.SfxName);

  if (Settings.SfxName.empty()) {
    Report(ui, kMsgNoName, kBatchAbort);
    ui.FocusSfxName();
    return BuildResult::NoName;
  }

  ui.BeginWait();
  BuildResult result;
  {
    BuildRun run(ui, options);
    result = run.Run();
  }
  ui.EndWait();
  return result;
}
