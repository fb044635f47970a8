#include "output_files.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>

namespace vidmill {

namespace fs = std::filesystem;

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  std::error_code ec1, ec2;
  const fs::path pa = fs::weakly_canonical(fs::absolute(a, ec1), ec1);
  const fs::path pb = fs::weakly_canonical(fs::absolute(b, ec2), ec2);
  if (ec1 || ec2) return false;
  return pa == pb;
}

std::string TemporaryNameFor(const std::string& final_name) {
  static std::atomic<unsigned> counter{0};
  static thread_local std::mt19937 rng(std::random_device{}());
  const fs::path final_path(final_name);
  const fs::path folder = final_path.parent_path();
  for (;;) {
    const std::string name = "." + final_path.filename().string() + "." +
                             std::to_string(rng() % 1000000) + "-" + std::to_string(++counter) +
                             ".vidmill-part";
    const fs::path candidate = folder.empty() ? fs::path(name) : folder / name;
    std::error_code ec;
    if (!fs::exists(candidate, ec)) return candidate.string();
  }
}

namespace {

bool IsValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : -1;
    if (extra < 0 || (extra == 1 && c < 0xC2)) return false;
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace

std::string EnsureUtf8(const std::string& text) {
  if (IsValidUtf8(text)) return text;
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace vidmill
