// The extractor program: reads the archive appended to its own file and unpacks it.
//
// One linear run: read and check the archive, check every name, ask (unless /S), unpack, run the
// commands, clean up. Each step returns an Outcome; the first failure ends the run, and the end of
// the program turns that one outcome into its message and exit code. Built twice, once per
// compression method, so that each program carries only its own decoder.
#include <objbase.h>
#include <windows.h>

#include <memory>
#include <vector>

#include "archive/archive_layout.h"
#include "archive/archive_reader.h"
#include "archive/entry_decoder.h"
#include "stub/commands.h"
#include "stub/handle_source.h"
#include "stub/parallel_unpack.h"
#include "stub/stub_box.h"
#include "stub/stub_ids.h"
#include "stub/stub_log.h"
#include "stub/stub_logic.h"
#include "stub/stub_text.h"
#include "stub/stub_ui.h"
#include "stub/unpacker.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// Readers know this program's method by its mark resource, looked up under the id they share.
static_assert(IDR_STUB_METHOD == layout::kStubMethodResource, "the method mark's resource id");

namespace {

#if defined(TAMBRIX_STUB_BZIP2)
constexpr uint8_t kStubMethod = layout::kMethodBzip2;
DecodeStatus DecodeEntry(ByteSource& src, const ArchiveEntry& e, const ByteSink& sink) {
  return DecodeBzip2Entry(src, e, sink);
}
#elif defined(TAMBRIX_STUB_GZIP)
constexpr uint8_t kStubMethod = layout::kMethodGzip;
DecodeStatus DecodeEntry(ByteSource& src, const ArchiveEntry& e, const ByteSink& sink) {
  return DecodeGzipEntry(src, e, sink);
}
#else
#error "Define TAMBRIX_STUB_BZIP2 or TAMBRIX_STUB_GZIP"
#endif

const char* const kTextConfirmCleanUp =
    "Klicken Sie auf OK, sobald Sie die Arbeit mit dem gestarteten Programm beendet haben. "
    "Danach werden die entpackten Dateien entfernt.";

// How the log's last line names the exit code: without /W it is always the extractor's own; with
// /W it may be the first command's, and the line says whose.
const char* const kTextOwnCode =
    " (R\xFC"
    "ckgabewert ";
const char* const kTextStubCode =
    " (R\xFC"
    "ckgabewert des Entpackprogramms: ";
const char* const kTextCommandCode =
    " (R\xFC"
    "ckgabewert des Kommandos: ";

// DLLs are loaded from the system folder only, never from the folder the program was started
// from (a download folder may hold anything). Looked up at run time: older systems lack it.
void RestrictDllSearch() {
  typedef BOOL(WINAPI * SetDirectoriesFn)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto setDirectories = reinterpret_cast<SetDirectoriesFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDirectories) setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryW(L"");
}

std::wstring BaseName(const std::wstring& path) {
  size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// A new folder name below the user's temporary folder, named after the program.
std::wstring DefaultTarget(const std::wstring& programName) {
  DWORD n = GetTempPathW(0, nullptr);
  std::wstring temp(n + 1, L'\0');
  n = GetTempPathW(static_cast<DWORD>(temp.size()), &temp[0]);
  temp.resize(n);
  if (temp.empty()) return std::wstring();
  std::wstring stem = programName.substr(0, programName.rfind(L'.'));
  if (stem.empty()) stem = L"tambrix";
  unsigned seed = GetTickCount() ^ (GetCurrentProcessId() << 12);
  for (int attempt = 0; attempt < 1000; ++attempt, seed = seed * 1103515245u + 12345u) {
    std::wstring candidate = JoinPath(temp, stem + L"_" + Decimal(seed % 1000000u));
    if (GetFileAttributesW(candidate.c_str()) == INVALID_FILE_ATTRIBUTES) return candidate;
  }
  return JoinPath(temp, stem);
}

class Extractor {
 public:
  Extractor(HINSTANCE instance, const StubOptions& options)
      : instance_(instance), options_(options) {}
  ~Extractor() {
    window_.reset();
    if (self_ != INVALID_HANDLE_VALUE) CloseHandle(self_);
  }

  Outcome Run();
  const std::wstring& title() const { return title_; }
  // Records how the run ended (the last lines of the log).
  void LogResult(const Outcome& o);

 private:
  Outcome OpenArchive();
  void OpenLog();
  Outcome Decode(Unpacker* out, const std::vector<size_t>& keep);
  Outcome DecodeOnThreads(Unpacker* out, const std::vector<size_t>& keep, unsigned threads);
  void BeginProgress(bool testing);
  Outcome EntryFailure(DecodeStatus status, bool cancelled, const Unpacker* refused,
                       const ArchiveEntry& entry) const;
  void LogEntry(bool writing, bool written, bool replaced, const std::wstring& relative);
  Outcome ChooseTarget(std::unique_ptr<Unpacker>& unpacker, std::vector<size_t>& existing);
  Outcome TryTarget(const std::wstring& typed, std::unique_ptr<Unpacker>& unpacker,
                    std::vector<size_t>& existing);
  bool ConfirmReplace(const std::vector<size_t>& existing);
  Outcome RunCommands(const std::wstring& target, Unpacker& unpacked);
  Outcome StartCommands(CommandRunner& runner, const std::wstring& first,
                        const std::wstring& second);
  Outcome FirstCommandExit(const CommandRunner& runner, const std::wstring& first);
  bool Interactive() const { return !options_.silent; }
  bool KeepFolders() const { return info_.settings.StoreDirNames != 0; }
  std::wstring RelativeOf(size_t i) const {
    return RelativePath(info_.entries[i].name, KeepFolders());
  }

  HINSTANCE instance_;
  StubOptions options_;
  std::wstring selfPath_;
  std::wstring selfName_;
  std::wstring title_;
  HANDLE self_ = INVALID_HANDLE_VALUE;
  std::unique_ptr<HandleByteSource> source_;
  ArchiveInfo info_;
  std::unique_ptr<StubWindow> window_;
  RunLog log_;
};

void Extractor::OpenLog() {
  if (options_.logPath.empty()) return;
  if (log_.Open(options_.logPath, ModulePath())) return;
  if (Interactive())
    ShowBox(nullptr, MessageText(Fail(kExitOk, Msg::LogFailed, options_.logPath)),
            BaseName(ModulePath()), MB_OK | MB_ICONWARNING);
}

void Extractor::LogResult(const Outcome& o) {
  if (!log_.active()) return;
  std::wstring line = UiText(o.ok() ? "Ergebnis: Erfolg" : "Ergebnis: Fehler");
  if (o.exitCode == kExitCancelled) line = UiText("Ergebnis: abgebrochen");
  // With /W the exit code may be the first command's: the log says whose it is.
  const char* whose = options_.wait ? kTextStubCode : kTextOwnCode;
  if (o.fromCommand) {
    line = UiText("Ergebnis: Kommando beendet");
    whose = kTextCommandCode;
  }
  line += UiText(whose) + Decimal(static_cast<unsigned>(o.exitCode)) + L")";
  const std::wstring text = MessageLines(o);
  if (!text.empty()) line += L": " + text;
  log_.Line(line);
  log_.Flush();
}

Outcome Extractor::OpenArchive() {
  selfPath_ = ModulePath();
  selfName_ = BaseName(selfPath_);
  title_ = selfName_;
  const std::wstring extended = ExtendedPath(selfPath_);
  self_ = CreateFileW((extended.empty() ? selfPath_ : extended).c_str(), GENERIC_READ,
                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (self_ == INVALID_HANDLE_VALUE) return Fail(kExitDamaged, Msg::ReadSelf, selfPath_);
  source_.reset(new HandleByteSource(self_));
  if (!source_->valid()) return Fail(kExitDamaged, Msg::ReadSelf, selfPath_);

  std::string why;
  switch (ReadArchive(*source_, info_, &why)) {
    case ReadStatus::Ok:
      break;
    case ReadStatus::NotAnArchive:
      return Fail(kExitDamaged, Msg::NotArchive, selfName_, Widen(why));
    case ReadStatus::Incomplete:
      return Fail(kExitDamaged, Msg::Incomplete, selfName_);
    case ReadStatus::Damaged:
      return Fail(kExitDamaged, Msg::Damaged, std::wstring(), Widen(why));
    case ReadStatus::IoError:
      return Fail(kExitDamaged, Msg::ReadSelf, selfPath_);
  }
  if (!info_.settings.DialogTitle.empty()) title_ = Widen(info_.settings.DialogTitle);
  // The settings name the method the archive was built with and so the stub the builder put in
  // front; the data must use it too. Anything else was made for the other stub.
  if (!ArchiveUsesMethod(info_, kStubMethod, &why))
    return Fail(kExitDamaged, Msg::WrongMethod, Widen(MethodName(kStubMethod)), Widen(why));
  if (info_.hasCompressedPart) {
    for (const ArchiveEntry& e : info_.entries)
      if (e.method != kStubMethod)
        return Fail(kExitDamaged, Msg::WrongMethod, Widen(MethodName(kStubMethod)));
    // Fewer entries than the header planned: the archive was not finished.
    if (info_.entries.size() != info_.fileCount) return Fail(kExitDamaged, Msg::Damaged);
  }
  // Every name is checked before anything is written. The paths are derived again per entry
  // while unpacking: thousands of strings kept alive between the planner's freed temporaries
  // left the heap so fragmented that every entry's decoder state was decommitted and
  // recommitted (three times the unpacking time under Wine).
  return PlanEntries(info_.entries, KeepFolders());
}

// The progress window counts the bytes of every entry; a window that cannot show its progress
// is closed, and the run goes on without it.
void Extractor::BeginProgress(bool testing) {
  uint64_t total = 0;
  for (const ArchiveEntry& e : info_.entries) total += e.size;
  if (window_) {
    std::wstring text = testing ? UiText(kTextTesting) : std::wstring();
    if (!window_->BeginProgress(text, total)) window_.reset();
  }
}

// Why an entry did not decode: the user cancelled, the target refused the bytes (refused, the
// unpacker that wrote them), the archive could not be read, or its data are damaged.
Outcome Extractor::EntryFailure(DecodeStatus status, bool cancelled, const Unpacker* refused,
                                const ArchiveEntry& entry) const {
  if (cancelled) return Fail(kExitCancelled, Msg::Cancelled);
  if (refused) return refused->WriteFailure();
  if (status == DecodeStatus::IoError) return Fail(kExitDamaged, Msg::ReadSelf, selfPath_);
  return Fail(kExitDamaged, Msg::EntryDamaged, Widen(entry.name));
}

// What became of an unpacked entry's file, in the log. Only with a log: strings made per entry
// cost time (see OpenArchive).
void Extractor::LogEntry(bool writing, bool written, bool replaced, const std::wstring& relative) {
  if (!writing || !log_.active()) return;
  if (written)
    log_.Line(UiText(replaced ? "ersetzt: " : "geschrieben: ") + relative);
  else
    log_.Line(UiText("behalten (schon vorhanden): ") + relative);
}

// Decodes every entry in order, into out (nullptr: a test that writes nothing). keep: the entries
// (ascending) whose existing files stay; they are decoded and checked like every other, but not
// written.
Outcome Extractor::Decode(Unpacker* out, const std::vector<size_t>& keep) {
  BeginProgress(out == nullptr);
  const unsigned threads = options_.threads ? options_.threads : DefaultUnpackThreads();
  if (threads > 1) return DecodeOnThreads(out, keep, threads);
  uint64_t done = 0;
  bool cancelled = false;
  bool writeFailed = false;
  bool writing = false;
  StubWindow* window = window_.get();
  const ByteSink sink = [&](const uint8_t* data, size_t n) {
    if (writing && !out->Write(data, n)) {
      writeFailed = true;
      return false;
    }
    done += n;
    if (window && !window->Tick(done)) {
      cancelled = true;
      return false;
    }
    return true;
  };
  size_t nextKept = 0;
  for (size_t i = 0; i < info_.entries.size(); ++i) {
    const ArchiveEntry& entry = info_.entries[i];
    const std::wstring relative = RelativeOf(i);
    const bool kept = nextKept < keep.size() && keep[nextKept] == i;
    if (kept) ++nextKept;
    writing = out && !kept;
    if (window) window->SetCurrent(relative);
    if (writing) {
      Outcome begun = out->BeginFile(relative, i);
      if (!begun.ok()) return begun;
    }
    DecodeStatus status = DecodeEntry(*source_, entry, sink);
    if (status != DecodeStatus::Ok) {
      const Outcome failed =
          EntryFailure(status, cancelled, writeFailed && writing ? out : nullptr, entry);
      if (writing) out->AbandonFile();
      return failed;
    }
    if (writing) {
      Outcome finished = out->FinishFile(entry.time);
      if (!finished.ok()) return finished;
    }
    LogEntry(out != nullptr, writing, writing && out->LastReplaced(), relative);
    if (window && !window->Tick(done)) return Fail(kExitCancelled, Msg::Cancelled);
  }
  return Outcome();
}

// The same on several threads (see parallel_unpack.h): the same files, log lines, progress and
// outcome, in the archive's order.
Outcome Extractor::DecodeOnThreads(Unpacker* out, const std::vector<size_t>& keep,
                                   unsigned threads) {
  StubWindow* window = window_.get();
  UnpackHooks hooks;
  hooks.relativeOf = [this](size_t i) { return RelativeOf(i); };
  if (window) {
    hooks.current = [window](const std::wstring& relative) { window->SetCurrent(relative); };
    hooks.tick = [window](uint64_t done) { return window->Tick(done); };
  }
  hooks.done = [this, out](size_t i, bool written, bool replaced) {
    if (log_.active()) LogEntry(out != nullptr, written, replaced, RelativeOf(i));
  };
  hooks.damaged = [this](DecodeStatus status, size_t i) {
    return EntryFailure(status, false, nullptr, info_.entries[i]);
  };
  return UnpackInParallel(info_.entries, self_, &DecodeEntry, out, keep, threads, hooks);
}

Outcome Extractor::TryTarget(const std::wstring& typed, std::unique_ptr<Unpacker>& unpacker,
                             std::vector<size_t>& existing) {
  unpacker.reset();
  const std::wstring extended = ExtendedPath(FullPath(ExpandVariables(typed)));
  if (extended.empty()) return Fail(kExitUnpackFailed, Msg::TargetInvalid, typed);
  unpacker.reset(new Unpacker(extended));
  Outcome o = unpacker->PrepareTarget();
  if (o.ok())
    o = unpacker->FindExisting(
        info_.entries.size(), [this](size_t i) { return RelativeOf(i); }, options_.keepExisting,
        existing);
  if (o.ok()) {
    log_.Line(UiText("Zielverzeichnis: ") + DisplayPath(extended));
    return o;
  }
  unpacker->RemoveCreated();
  unpacker.reset();
  // The reason under the target's name, its own blank line dropped.
  return Fail(kExitUnpackFailed, Msg::TargetUnusable, typed, MessageLines(o));
}

bool Extractor::ConfirmReplace(const std::vector<size_t>& existing) {
  constexpr size_t kNamesShown = 5;
  std::vector<std::wstring> names;
  for (size_t i = 0; i < existing.size() && names.size() < kNamesShown; ++i)
    names.push_back(RelativeOf(existing[i]));
  // With one more name than would be listed, the name takes the line "... und 1 weitere".
  if (existing.size() == kNamesShown + 1) names.push_back(RelativeOf(existing.back()));
  return ShowBox(window_->hwnd(), ReplaceQuestion(names, existing.size()), title_,
                 MB_OKCANCEL | MB_ICONQUESTION, UiText(kTextReplace)) == IDOK;
}

Outcome Extractor::ChooseTarget(std::unique_ptr<Unpacker>& unpacker,
                                std::vector<size_t>& existing) {
  const TInstallInf& s = info_.settings;
  std::wstring target = options_.hasTarget ? options_.target : ExpandVariables(Widen(s.TargetDir));
  if (target.empty()) target = DefaultTarget(selfName_);
  if (!Interactive()) return TryTarget(target, unpacker, existing);
  // A target that cannot be used, or files the user does not want replaced, bring the dialog
  // back with the target as typed, to be corrected or cancelled there.
  window_.reset(new StubWindow(instance_, title_));
  for (;;) {
    if (!window_->AskTarget(Widen(s.DialogText), target, s.TargetEditable == 1))
      return Fail(kExitCancelled, Msg::None);
    Outcome o = TryTarget(target, unpacker, existing);
    if (!o.ok()) {
      ShowBox(window_->hwnd(), MessageText(o), title_, MB_OK | MB_ICONWARNING);
      continue;
    }
    if (existing.empty() || options_.keepExisting || ConfirmReplace(existing)) return o;
    unpacker->RemoveCreated();
    unpacker.reset();
  }
}

// Starts the commands in order, the first with the arguments the caller handed on, the second
// without. The first one that cannot be started ends it.
Outcome Extractor::StartCommands(CommandRunner& runner, const std::wstring& first,
                                 const std::wstring& second) {
  const std::wstring none;
  const std::wstring passOnLine = UiText("Argumente nach --: ") + options_.passOn;
  for (const std::wstring* command : {&first, &second}) {
    if (command->empty()) continue;
    const std::wstring& passOn = command == &first ? options_.passOn : none;
    switch (runner.Start(*command, passOn)) {
      case CommandRunner::Started::Yes:
        break;
      case CommandRunner::Started::Failed:
        return Fail(kExitCommandFailed, Msg::Command, *command);
      case CommandRunner::Started::BatchRefusesArguments:
        return Fail(kExitCommandFailed, Msg::BatchArguments, *command, passOnLine);
    }
    log_.Line(UiText("Kommando gestartet: ") + *command);
    if (!passOn.empty()) log_.Line(passOnLine);
    if (command == &first && info_.settings.Terminates && !second.empty()) runner.WaitForLast();
  }
  return Outcome();
}

// With /W, once everything has ended: the first command's exit code, or 0 when it left no
// process to ask.
Outcome Extractor::FirstCommandExit(const CommandRunner& runner, const std::wstring& first) {
  DWORD code = 0;
  if (!runner.FirstExitCode(&code)) {
    log_.Line(UiText("Das Kommando ") + first +
              UiText(" hat keinen Prozess, auf dessen Ende gewartet werden kann (ein Dokument, "
                     "das ein schon laufendes Programm ge\xF6"
                     "ffnet hat): Sein R\xFC"
                     "ckgabewert ist unbekannt."));
    return Outcome();
  }
  Outcome o;
  o.exitCode = static_cast<int>(code);
  o.fromCommand = true;
  return o;
}

Outcome Extractor::RunCommands(const std::wstring& target, Unpacker& unpacked) {
  const TInstallInf& s = info_.settings;
  const std::wstring first = ExpandVariables(Widen(s.Command));
  const std::wstring second = ExpandVariables(Widen(s.SecondCommand));
  if (first.empty() && !options_.passOn.empty())
    log_.Line(
        UiText("Die Argumente nach -- gehen an kein Kommando: Das Archiv hat kein erstes "
               "Kommando."));
  if (first.empty() && second.empty()) return Outcome();
  const bool cleanUp = s.CleanUp != 0;
  const bool waitForAll = cleanUp || options_.wait;
  Outcome result;
  {
    CommandRunner runner(target, waitForAll);
    result = StartCommands(runner, first, second);
    log_.Flush();
    if (waitForAll) {
      const bool everyProcess = runner.WaitForAll();
      if (cleanUp && !everyProcess && Interactive())
        ShowBox(nullptr, UiText(kTextConfirmCleanUp), title_, MB_OK | MB_ICONINFORMATION);
      if (options_.wait && result.ok() && !first.empty()) result = FirstCommandExit(runner, first);
    }
  }
  if (cleanUp) {
    unpacked.RemoveCreated();
    log_.Line(UiText("Die entpackten Dateien wurden wieder entfernt."));
  }
  return result;
}

Outcome Extractor::Run() {
  if (options_.help) return Fail(kExitOk, Msg::Usage, BaseName(ModulePath()));
  OpenLog();
  if (!options_.badSwitch.empty())
    return Fail(kExitUnpackFailed, Msg::BadSwitch, options_.badSwitch);
  Outcome o = OpenArchive();
  if (!o.ok()) return o;
  const TInstallInf& s = info_.settings;

  if (options_.test) {
    if (Interactive()) window_.reset(new StubWindow(instance_, title_));
    o = Decode(nullptr, {});
    window_.reset();
    if (o.exitCode == kExitCancelled) o = Fail(kExitCancelled, Msg::None);
    if (o.ok() && Interactive()) o = Fail(kExitOk, Msg::TestOk, Decimal(info_.entries.size()));
    return o;
  }

  if (Interactive() && !s.InfoTextBefore.empty() &&
      ShowBox(nullptr, Widen(s.InfoTextBefore), title_, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
    return Fail(kExitCancelled, Msg::None);

  std::unique_ptr<Unpacker> unpacker;
  std::vector<size_t> existing;
  o = ChooseTarget(unpacker, existing);
  if (!o.ok()) return o;
  o = Decode(unpacker.get(), options_.keepExisting ? existing : std::vector<size_t>());
  window_.reset();
  if (!o.ok()) {
    // A failed or cancelled run leaves the target as it found it.
    unpacker->RemoveCreated();
    if (o.exitCode != kExitCancelled)
      log_.Line(UiText("Alle in diesem Lauf geschriebenen Dateien wurden wieder entfernt."));
    return o;
  }
  unpacker->Commit();

  if (Interactive() && !s.InfoTextAfter.empty())
    ShowBox(nullptr, Widen(s.InfoTextAfter), title_, MB_OK | MB_ICONINFORMATION);
  if (options_.noCommands) {
    if (!options_.passOn.empty())
      log_.Line(UiText("Die Argumente nach -- gehen an kein Kommando: /N f\xFChrt keines aus."));
    return Outcome();
  }
  return RunCommands(DisplayPath(unpacker->target()), *unpacker);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  RestrictDllSearch();
  HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
  const StubOptions options = ParseOptions(GetCommandLineW());
  if (!options.silent) LoadCommonControls();
  const bool com =
      SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));

  Outcome outcome;
  std::wstring title;
  {
    Extractor extractor(instance, options);
    outcome = extractor.Run();
    title = extractor.title();
    extractor.LogResult(outcome);
  }
  if (!options.silent && outcome.msg != Msg::None) {
    const bool bad = !outcome.ok() && outcome.exitCode != kExitCancelled;
    UINT icon = bad ? MB_ICONERROR : MB_ICONINFORMATION;
    ShowBox(nullptr, MessageText(outcome), title.empty() ? std::wstring(L"Tambrix") : title,
            MB_OK | icon);
  }
  if (com) CoUninitialize();
  return outcome.exitCode;
}
