#include "stub/stub_text.h"

#include <windows.h>

const char* const kTextTesting =
    "Das Archiv wird gepr\xFC"
    "ft...";
const char* const kTextBrowse = "W\xE4hlen Sie das Zielverzeichnis:";
const char* const kTextCancelQuestion = "Entpacken abbrechen?";
const char* const kTextReplace = "&Ersetzen";

namespace {

const char* Template(Msg m) {
  switch (m) {
    case Msg::None:
      return "";
    case Msg::Usage:
      return "Aufruf: %s [/S] [/D=Verzeichnis] [/O=skip] [/L=Datei] [/N] [/T] [/J=Anzahl] [/W] "
             "[-- Argumente]\r\n\r\n"
             "/S\tohne Fenster entpacken (Zielverzeichnis: Vorgabe oder /D)\r\n"
             "/D=Verzeichnis\tin dieses Verzeichnis entpacken\r\n"
             "/O=skip\tvorhandene Dateien behalten, nicht ersetzen\r\n"
             "/L=Datei\tein Protokoll in diese Datei schreiben\r\n"
             "/N\tnur entpacken, kein Kommando ausf\xFChren\r\n"
             "/T\tArchiv pr\xFC"
             "fen, nichts schreiben\r\n"
             "/J=Anzahl\tmit so vielen Threads entpacken (1 bis 8; Vorgabe: einer je Prozessor)"
             "\r\n"
             "/W\tauf das Ende der Kommandos warten und mit dem R\xFC"
             "ckgabewert des ersten enden\r\n"
             "-- Argumente\talles danach unver\xE4ndert an das erste Kommando \xFC"
             "bergeben\r\n\r\n"
             "R\xFC"
             "ckgabewerte: 0 Erfolg, 1 abgebrochen, 2 Archiv besch\xE4"
             "digt, "
             "3 Entpacken fehlgeschlagen, 4 Kommando nicht gestartet; mit /W nach dem Start "
             "der R\xFC"
             "ckgabewert des ersten Kommandos (das Protokoll sagt, welcher es ist)";
    case Msg::ReadSelf:
      return "Die Programmdatei %s kann nicht gelesen werden.";
    case Msg::NotArchive:
      return "Die Datei %s enth\xE4lt kein Archiv.";
    case Msg::Incomplete:
      return "Die Datei %s ist unvollst\xE4ndig: Das Archiv ist abgeschnitten, vermutlich wurde "
             "der Download oder die Kopie nicht beendet. Bitte laden Sie die Datei erneut "
             "herunter.";
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
    case Msg::TargetUnusable:
      return "In das Zielverzeichnis \"%s\" kann nicht entpackt werden.";
    case Msg::NoDrive:
      return "Das Laufwerk %s ist nicht vorhanden.";
    case Msg::FileInTheWay:
      return "%s ist eine Datei, kein Verzeichnis.";
    case Msg::FolderInTheWay:
      return "An der Stelle der Datei %s steht ein Verzeichnis.";
    case Msg::NoWriteRights:
      return "Im Verzeichnis %s k\xF6nnen keine Dateien angelegt werden.";
    case Msg::CreateDir:
      return "Das Verzeichnis %s konnte nicht angelegt werden.";
    case Msg::LinkInTarget:
      return "Das Verzeichnis %s ist eine Verkn\xFCpfung. Dorthin wird nicht entpackt.";
    case Msg::LinkAtFile:
      return "Die vorhandene Datei %s ist eine Verkn\xFCpfung und wird nicht ersetzt.";
    case Msg::WriteFile:
      return "Die Datei %s konnte nicht geschrieben werden.";
    case Msg::ReadOnlyFile:
      return "Die vorhandene Datei %s ist schreibgesch\xFCtzt und kann nicht ersetzt werden.";
    case Msg::DiskFull:
      return "Die Datei %s konnte nicht geschrieben werden: Der Datentr\xE4ger ist voll.";
    case Msg::Command:
      return "Das Kommando %s konnte nicht gestartet werden.";
    case Msg::BatchArguments:
      return "Das Kommando %s wurde nicht gestartet: Die Argumente nach -- enthalten ein "
             "Zeichen, das die Eingabeaufforderung (cmd.exe) in einer Stapeldatei selbst "
             "auswerten w\xFCrde (%, einen Zeilenumbruch oder au\xDF"
             "erhalb von Anf\xFChrungszeichen &, |, <, > oder ^).";
    case Msg::TestOk:
      return "Das Archiv ist in Ordnung (%s Dateien gepr\xFC"
             "ft).";
    case Msg::Cancelled:
      return "Das Entpacken wurde abgebrochen. Es wurde nichts zur\xFC"
             "ckgelassen: Die bis dahin entpackten Dateien und angelegten Verzeichnisse wurden "
             "wieder entfernt, ersetzte Dateien haben wieder ihren alten Inhalt.";
    case Msg::BadSwitch:
      return "Der Schalter %s hat einen ung\xFCltigen Wert. Es wurde nichts entpackt.";
    case Msg::LogFailed:
      return "Das Protokoll %s kann nicht geschrieben werden. Es wird ohne Protokoll "
             "entpackt.";
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

std::wstring Decimal(uint64_t v) {
  std::wstring s;
  do {
    s.insert(s.begin(), static_cast<wchar_t>(L'0' + v % 10));
    v /= 10;
  } while (v);
  return s;
}

std::wstring MessageText(const Outcome& o) {
  std::wstring t = Widen(Template(o.msg));
  size_t at = t.find(L"%s");
  if (at != std::wstring::npos) t.replace(at, 2, o.arg);
  if (!o.detail.empty()) t += L"\r\n\r\n" + o.detail;
  return t;
}

std::wstring MessageLines(const Outcome& o) {
  std::wstring t = MessageText(o);
  for (size_t at; (at = t.find(L"\r\n\r\n")) != std::wstring::npos;) t.erase(at, 2);
  return t;
}

std::wstring ErrorWords(unsigned long error) {
  const char* words = nullptr;
  switch (error) {
    case ERROR_ACCESS_DENIED:
      words = "Zugriff verweigert";
      break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      words = "die Datei wird von einem anderen Programm benutzt";
      break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      words = "Pfad nicht gefunden";
      break;
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
      words = "Laufwerk nicht vorhanden oder nicht bereit";
      break;
    case ERROR_WRITE_PROTECT:
      words = "Datentr\xE4ger schreibgesch\xFCtzt";
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      words = "Datentr\xE4ger voll";
      break;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      words = "ung\xFCltiger Name";
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      words = "der Name ist schon vergeben";
      break;
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      words = "Netzwerkpfad nicht gefunden";
      break;
    default:
      break;
  }
  const std::wstring number = Decimal(error);
  if (!words) return L"Grund: Windows-Fehler " + number + L".";
  return L"Grund: " + Widen(words) + L" (Windows-Fehler " + number + L").";
}

std::wstring ReplaceQuestion(const std::vector<std::wstring>& names, size_t count) {
  const std::wstring n = Decimal(count);
  std::wstring t;
  if (count == 1) {
    t = Widen("Im Zielverzeichnis gibt es diese Datei schon:\r\n\r\n");
  } else {
    t = Widen("Im Zielverzeichnis gibt es schon ") + n +
        Widen(" der Dateien aus dem Archiv:\r\n\r\n");
  }
  for (const std::wstring& name : names) t += L"    " + name + L"\r\n";
  if (count > names.size()) {
    t += Widen("    ... und ") + Decimal(count - names.size()) + Widen(" weitere\r\n");
  }
  t += count == 1 ? Widen("\r\nSoll sie ersetzt werden?")
                  : Widen("\r\nSollen sie ersetzt werden?");
  return t;
}
