#include "archive/build_driver.h"

#include <cstdint>
#include <cstdio>

#include "archive/archive_layout.h"
#include "archive/archive_writer.h"
#include "archive/compressor.h"
#include "archive/file_helpers.h"
#include "archive/source_names.h"
#include "archive/stored_name.h"
#include "platform/platform.h"
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

namespace {

const char* const kBatchAbort = "Abbruch: ";
const char* const kBatchSuccess = "Erfolg: ";
const char* const kErrProgramWrite =
    "Die Programmdatei kann nicht vollst\xE4ndig geschrieben werden";

// A message box in an interactive build, a line of BatchReport during a batch run.
void Report(BuildFrontEnd& ui, const char* text, const char* batchPrefix) {
  if (BatchRunning) {
    BatchReport.Add(std::string(batchPrefix) + text);
  } else {
    ui.ShowMessage(text);
  }
}

bool EndsWithSeparator(const std::string& s, char sep) {
  return !s.empty() && (s.back() == sep || s.back() == '\\' || s.back() == '/');
}

void CloseFile(std::FILE*& f) {
  if (f != nullptr) {
    std::fclose(f);
    f = nullptr;
  }
}

}  // namespace

BuildResult BuildArchive(BuildFrontEnd& ui, const BuildOptions& options) {
  platform::Os& os = platform::Current();

  Settings.SfxName = TrimBlanks(Settings.SfxName);
  const std::string sfxName = Settings.SfxName;

  if (BatchRunning) BatchReport.Add("\nArchivName: " + sfxName);

  if (sfxName.empty()) {
    Report(ui, kMsgNoName, kBatchAbort);
    ui.FocusSfxName();
    return BuildResult::NoName;
  }

  ui.BeginWait();

  // The whole tree is listed and its names judged by the extractor's rules before anything is
  // written or removed: a tree the extractor would refuse gives no archive at all.
  const std::string sourceDir =
      Settings.SourcePaths.Count() > 0 ? Settings.SourcePaths.At(0) : std::string();
  TDirList list;
  list.Masks.push_back("*.*");
  list.Recursive = true;
  list.Sorted = false;
  list.Scan(sourceDir, false);
  std::string namesRefused;
  if (!CheckSourceNames(list.Files, sourceDir, os.Separator(), Settings.StoreDirNames != 0,
                        namesRefused)) {
    Report(ui, namesRefused.c_str(), kBatchAbort);
    ui.EndWait();
    return BuildResult::NamesRefused;
  }

  // An older program file of that name goes first; if it cannot be deleted, creating the new
  // one below decides.
  if (FileExists(sfxName)) os.Remove(sfxName);

  const std::string dataName = MakeTempName("zal");

  const bool maxCompression = Settings.MaxCompression != 0;
  BuildResult result = BuildResult::Success;
  std::FILE* stub = nullptr;
  std::FILE* program = nullptr;
  std::FILE* data = nullptr;

  TCompressor compressor;
  compressor.Method = maxCompression ? layout::kMethodBzip2 : layout::kMethodGzip;
  compressor.BufferSize = 64000;
  compressor.Buffer.assign(static_cast<size_t>(compressor.BufferSize), 0);
  compressor.OutputPath = dataName;
  compressor.StatusWindow = [&ui](const std::string& text) { ui.ShowProgress(text); };
  compressor.BytesDone = 0;

  bool success = true;
  {
    compressor.FileCount = static_cast<int32_t>(list.Files.size());
    compressor.TotalSize = list.TotalSize;
    compressor.TrueTotalSize = list.TrueTotalSize;

    for (const TFileInfo& file : list.Files) {
      compressor.SourcePath = file.Name;
      compressor.StoredName = StoredNameOf(file.Name, sourceDir, os.Separator());
      if (!compressor.AddFile()) {
        success = false;
        ui.FileFailed(file.Name, compressor.LastError);
        break;
      }
    }
  }
  compressor.Close();
  ui.ShowProgress("");

  do {
    std::string stubPath = options.stubDir.empty() ? TUtilVarMan().ProgramDir : options.stubDir;
    if (!stubPath.empty() && !EndsWithSeparator(stubPath, os.Separator())) {
      stubPath += os.Separator();
    }
    stubPath += maxCompression ? layout::kStubBzip2 : layout::kStubGzip;
    if (!FileExists(stubPath)) {
      Report(ui, kMsgStubMissing, kBatchAbort);
      result = BuildResult::StubMissing;
      break;
    }

    stub = os.Open(stubPath, "rb");
    program = os.Open(sfxName, "wb");
    const ArchiveWriteStatus status = WriteArchive(program, stub, Settings, [&]() {
      data = os.Open(dataName, "rb");
      return data;
    });
    if (status == ArchiveWriteStatus::StubFailed) {
      Report(ui, kMsgStubCopy, kBatchAbort);
      result = BuildResult::StubCopyFailed;
      break;
    }
    if (status == ArchiveWriteStatus::PartFailed) {
      Report(ui, kMsgDataCopy, kBatchAbort);
      result = BuildResult::DataCopyFailed;
      break;
    }

    const bool written = status == ArchiveWriteStatus::Ok;
    if (!written) {
      success = false;
      ui.FileFailed(sfxName, kErrProgramWrite);
    }
    if (success) {
      Report(ui, kMsgSuccess, kBatchSuccess);
    } else {
      Report(ui, kMsgFileFailed, "");
      result = BuildResult::FileFailed;
    }

    CloseFile(data);
    os.Remove(dataName);
    CloseFile(program);
    // A failed file still leaves a whole program that can run; one cut short by a failed write
    // is not started.
    if (written && options.startAfterwards) ui.StartProgram(sfxName);
  } while (false);

  CloseFile(stub);
  CloseFile(program);
  CloseFile(data);
  if (!dataName.empty() && FileExists(dataName)) os.Remove(dataName);
  compressor.Close();
  ui.EndWait();
  return result;
}
