// Shared helpers of the transcoder tests: libraries, captured log lines and
// a private folder per test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/ff_load.h"
#include "core/ff_log.h"

namespace vidmill::testing {

inline void LoadEncoderLibraries() {
  ASSERT_TRUE(TFFLoader::Instance().Load(kEncoderLibraries)) << TFFLoader::Instance().LastErrMsg();
}

// Collects the engine's log lines while it lives.
class TLogCapture {
 public:
  TLogCapture() {
    TFFLogger::Process().SetOnLog([this](const TFFBaseComponent*, uint32_t, TLogLevel level, const std::string& msg) {
      std::lock_guard lock(mu_);
      lines_.push_back({level, msg});
    });
  }
  ~TLogCapture() { TFFLogger::Process().SetOnLog(nullptr); }
  bool Contains(const std::string& text, TLogLevel level) const {
    std::lock_guard lock(mu_);
    for (const auto& l : lines_) {
      if (l.level == level && l.msg.find(text) != std::string::npos) return true;
    }
    return false;
  }
  bool Contains(const std::string& text) const {
    std::lock_guard lock(mu_);
    for (const auto& l : lines_) {
      if (l.msg.find(text) != std::string::npos) return true;
    }
    return false;
  }

 private:
  struct Line {
    TLogLevel level;
    std::string msg;
  };
  mutable std::mutex mu_;
  std::vector<Line> lines_;
};

// A fresh folder for one test, removed afterwards.
class TTempFolder {
 public:
  TTempFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("vidmill-transcode-") + info->test_suite_name() + "-" + info->name();
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TTempFolder() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Path() const { return path_; }
  // Names of the entries of the folder (hidden ones included).
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) names.insert(e.path().filename().string());
    return names;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace vidmill::testing

#include "test_media.h"

namespace vidmill::testing {

// An H.264 + AAC clip of the given size (made once per test process).
inline std::string SizedClip(int width, int height, double seconds = 1.0, const std::string& rate = "25") {
  ClipSpec spec;
  spec.name = "sized_" + std::to_string(width) + "x" + std::to_string(height) + "_" +
              std::to_string(static_cast<int>(seconds * 10)) + "_" + (rate == "25" ? "25" : "other") + ".mp4";
  spec.width = width;
  spec.height = height;
  spec.seconds = seconds;
  spec.rate = rate;
  spec.codec_args = {"-c:v", "libx264", "-g", "12", "-c:a", "aac"};
  return MakeClip(spec);
}

}  // namespace vidmill::testing
