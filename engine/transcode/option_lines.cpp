#include "option_lines.h"

#include <cctype>

namespace vidmill {

std::string TrimText(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return text.substr(begin, end - begin);
}

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool SameText(const std::string& a, const std::string& b) { return LowerCase(a) == LowerCase(b); }

namespace {

std::string NormaliseBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += '\n';
    } else if (text.compare(i, 6, "<CRLF>") == 0) {
      out += '\n';
      i += 5;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.push_back(line);
      line.clear();
    } else {
      line += text[i];
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::vector<TOptionLine> SplitOptionLines(const std::string& text) {
  std::vector<TOptionLine> lines;
  const std::string all = NormaliseBreaks(TrimText(text));
  if (all.empty()) return lines;
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    const std::string line = all.substr(start, end - start);
    const size_t eq = line.find('=');
    if (eq == std::string::npos) {
      lines.push_back({line, {}});
    } else {
      lines.push_back({line.substr(0, eq), line.substr(eq + 1)});
    }
    start = end + 1;
  }
  return lines;
}

}  // namespace vidmill
