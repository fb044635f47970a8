// Option lines: "key=value" lines as option strings, presets and the
// records' ExtOptions carry them.
#pragma once

#include <string>
#include <vector>

namespace vidmill {

struct TOptionLine {
  std::string key;    // text before the first "=" (the whole line without one)
  std::string value;  // text after it; neither is trimmed
};

// Trims the text, turns CR LF, CR, LF and the text "<CRLF>" into line
// breaks and splits it into lines. An empty line gives an empty key.
std::vector<TOptionLine> SplitOptionLines(const std::string& text);

// Splits a text at CR LF, CR and LF.
std::vector<std::string> SplitLines(const std::string& text);

// Lower-cases ASCII letters (option keys are ASCII).
std::string LowerCase(std::string text);
bool SameText(const std::string& a, const std::string& b);
// Removes blanks and control characters at both ends.
std::string TrimText(const std::string& text);

}  // namespace vidmill
