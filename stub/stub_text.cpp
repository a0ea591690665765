#include "stub/stub_text.h"

#include <windows.h>

const char* const kTextTesting =
    "Das Archiv wird gepr\xFC"
    "ft...";
const char* const kTextBrowse = "W\xE4hlen Sie das Zielverzeichnis:";

namespace {

const char* Template(Msg m) {
  switch (m) {
    case Msg::None:
      return "";
    case Msg::Usage:
      return "Aufruf: %s [/S] [/D=Verzeichnis] [/N] [/T]\r\n\r\n"
             "/S\tohne Fenster entpacken (Zielverzeichnis: Vorgabe oder /D)\r\n"
             "/D=Verzeichnis\tin dieses Verzeichnis entpacken\r\n"
             "/N\tnur entpacken, kein Kommando ausf\xFChren\r\n"
             "/T\tArchiv pr\xFC"
             "fen, nichts schreiben\r\n\r\n"
             "R\xFC"
             "ckgabewerte: 0 Erfolg, 1 abgebrochen, 2 Archiv besch\xE4"
             "digt, "
             "3 Entpacken fehlgeschlagen, 4 Kommando nicht gestartet";
    case Msg::ReadSelf:
      return "Die Programmdatei %s kann nicht gelesen werden.";
    case Msg::NotArchive:
      return "Die Datei %s enth\xE4lt kein Archiv.";
    case Msg::Damaged:
      return "Das Archiv ist besch\xE4"
             "digt oder unvollst\xE4ndig.";
    case Msg::EntryDamaged:
      return "Das Archiv ist besch\xE4"
             "digt: Die Datei %s kann nicht entpackt werden.";
    case Msg::WrongMethod:
      return "Das Archiv wurde f\xFCr ein anderes Entpackprogramm erzeugt: Dieses Programm "
             "entpackt nur mit %s gepackte Archive. Es wurde nichts entpackt.";
    case Msg::UnsafeName:
      return "Das Archiv enth\xE4lt den unzul\xE4ssigen Dateinamen \"%s\". Es wurde nichts "
             "entpackt.";
    case Msg::DuplicateName:
      return "Das Archiv enth\xE4lt mehrere Eintr\xE4ge f\xFCr \"%s\". Es wurde nichts entpackt.";
    case Msg::TargetMissing:
      return "Bitte geben Sie ein Zielverzeichnis an.";
    case Msg::TargetInvalid:
      return "Das Zielverzeichnis %s ist ung\xFCltig.";
    case Msg::CreateDir:
      return "Das Verzeichnis %s konnte nicht angelegt werden.";
    case Msg::LinkInTarget:
      return "Das Verzeichnis %s ist eine Verkn\xFCpfung. Dorthin wird nicht entpackt.";
    case Msg::WriteFile:
      return "Die Datei %s konnte nicht geschrieben werden.";
    case Msg::ReadOnlyFile:
      return "Die vorhandene Datei %s ist schreibgesch\xFCtzt und kann nicht ersetzt werden.";
    case Msg::DiskFull:
      return "Die Datei %s konnte nicht geschrieben werden: Der Datentr\xE4ger ist voll.";
    case Msg::Command:
      return "Das Kommando %s konnte nicht gestartet werden.";
    case Msg::TestOk:
      return "Das Archiv ist in Ordnung (%s Dateien gepr\xFC"
             "ft).";
  }
  return "";
}

}  // namespace

Outcome Fail(int exitCode, Msg msg, const std::wstring& arg, const std::wstring& detail) {
  Outcome o;
  o.exitCode = exitCode;
  o.msg = msg;
  o.arg = arg;
  o.detail = detail;
  return o;
}

std::wstring Widen(const std::string& s) {
  if (s.empty()) return std::wstring();
  int n = MultiByteToWideChar(1252, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(1252, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
  return w;
}

std::wstring UiText(const char* cp1252) { return Widen(cp1252); }

std::wstring MessageText(const Outcome& o) {
  std::wstring t = Widen(Template(o.msg));
  size_t at = t.find(L"%s");
  if (at != std::wstring::npos) t.replace(at, 2, o.arg);
  if (!o.detail.empty()) t += L"\r\n\r\n" + o.detail;
  return t;
}
