#include "cli/console_text.h"

namespace console {

namespace {

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

void AppendShown(std::string& out, unsigned char c) {
  static const char kHex[] = "0123456789ABCDEF";
  out += '<';
  out += kHex[c >> 4];
  out += kHex[c & 0xF];
  out += '>';
}

}  // namespace

std::string Shown(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char ch : value) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (IsControl(c)) {
      AppendShown(out, c);
    } else {
      out += ch;
    }
  }
  return out;
}

std::string ShownText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (IsControl(c) && c != '\n' && c != '\t') {
      AppendShown(out, c);
    } else {
      out += text[i];
    }
  }
  return out;
}

void Message(std::FILE* f, const std::string& text) {
  std::string lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines += "tambrixc: " + text.substr(start, end - start) + "\n";
    start = end + 1;
  }
  if (lines.empty()) lines = "tambrixc: \n";
  Write(f, lines);
}

}  // namespace console
