#include "stub/command_line.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

const wchar_t* SkipBlanks(const wchar_t* p) {
  while (IsBlank(*p)) ++p;
  return p;
}

// Past the program name: quoted up to the next quote, else up to the first blank.
const wchar_t* SkipProgramName(const wchar_t* p) {
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p) ++p;
  } else {
    while (*p && !IsBlank(*p)) ++p;
  }
  return p;
}

// Past one argument that starts at p; its text without quotes is added to text when given.
const wchar_t* ReadArgument(const wchar_t* p, std::wstring* text) {
  bool quoted = false;
  for (; *p && (quoted || !IsBlank(*p)); ++p) {
    if (*p == L'"')
      quoted = !quoted;
    else if (text)
      *text += *p;
  }
  return p;
}

}  // namespace

CommandLineCut CutAtSeparator(const wchar_t* line) {
  CommandLineCut cut;
  if (!line) return cut;
  for (const wchar_t* p = SkipBlanks(SkipProgramName(line)); *p; p = SkipBlanks(p)) {
    const wchar_t* start = p;
    p = ReadArgument(p, nullptr);
    if (p - start == 2 && start[0] == L'-' && start[1] == L'-') {
      cut.own.assign(line, start);
      cut.separated = true;
      cut.passOn = SkipBlanks(p);
      return cut;
    }
  }
  cut.own = line;
  return cut;
}

std::vector<std::wstring> SplitArguments(const wchar_t* line) {
  std::vector<std::wstring> out;
  if (!line) return out;
  for (const wchar_t* p = SkipBlanks(SkipProgramName(line)); *p; p = SkipBlanks(p)) {
    std::wstring argument;
    p = ReadArgument(p, &argument);
    out.push_back(argument);
  }
  return out;
}

size_t FirstBatchSpecial(const std::wstring& args) {
  bool quoted = false;
  for (size_t i = 0; i < args.size(); ++i) {
    switch (args[i]) {
      case L'"':
        quoted = !quoted;
        break;
      case L'%':
      case L'\r':
      case L'\n':
        return i;
      case L'&':
      case L'|':
      case L'<':
      case L'>':
      case L'^':
        if (!quoted) return i;
        break;
      default:
        break;
    }
  }
  return std::wstring::npos;
}

std::wstring AppendArguments(const std::wstring& args, const std::wstring& extra) {
  if (extra.empty()) return args;
  if (args.empty()) return extra;
  return args + L" " + extra;
}
