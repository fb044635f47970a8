// Conversions that go wrong while running: each is reported as a failure
// with its message, never as success, leaves nothing half-written behind,
// and does not keep the other tasks of the run from converting.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>

#include "encoder_harness.h"
#include "media_check.h"

namespace vidmill {
namespace {

using namespace vidmill::testing;
namespace fs = std::filesystem;

constexpr const char* kEncode = "vcodec=libx264\nacodec=aac";

class ConvertFailures : public ::testing::Test {
 protected:
  void SetUp() override { LoadEncoderLibraries(); }
  TTempFolder folder_;
};

// A file that opens (its container is whole) but whose video cannot be
// decoded: the length of the picture parameters in its H.264 header points
// far past the header's end.
std::string BrokenClip(const std::string& folder) {
  ClipSpec spec;
  spec.name = "whole_faststart.mp4";
  spec.seconds = 1.0;
  spec.codec_args = {"-c:v", "libx264", "-c:a", "aac", "-movflags", "+faststart"};
  std::ifstream in(MakeClip(spec), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t avcc = bytes.find("avcC");
  EXPECT_NE(avcc, std::string::npos);
  if (avcc != std::string::npos) bytes[avcc + 10] = bytes[avcc + 11] = '\xff';  // SPS length 65535
  const std::string broken = folder + "/broken_header.mp4";
  std::ofstream(broken, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return broken;
}

TEST_F(ConvertFailures, ABrokenInputFailsItsTaskAndTheOthersStillConvert) {
  TEncoderHarness h;
  const std::string good = MediaPath(Clip::Mp4H264Aac);
  h.AddTask(good, folder_.File("first.mp4"), kEncode);
  h.AddTask(BrokenClip(folder_.Path().string()), folder_.File("broken.mp4"), kEncode);
  h.AddTask(good, folder_.File("third.mp4"), kEncode);
  h.Run(1);
  const TTerminateInfo broken = h.TerminateOf(1);
  EXPECT_FALSE(broken.Finished);
  EXPECT_TRUE(broken.Exception);
  EXPECT_NE(broken.ExceptionMsg.find("input stream #0.0"), std::string::npos) << broken.ExceptionMsg;
  EXPECT_FALSE(fs::exists(folder_.File("broken.mp4")));
  for (int task : {0, 2}) EXPECT_TRUE(h.TerminateOf(task).Finished) << h.TerminateOf(task).ExceptionMsg;
  EXPECT_TRUE(DecodeFacts(folder_.File("first.mp4")).ok);
  EXPECT_TRUE(DecodeFacts(folder_.File("third.mp4")).ok);
  EXPECT_EQ(h.Terminates().back().TaskIndex, -1);
  for (const auto& e : fs::directory_iterator(folder_.Path()))
    EXPECT_EQ(e.path().filename().string().find(".vidmill-part"), std::string::npos) << e.path();
}

TEST_F(ConvertFailures, AnOutputFolderThatDisappearsMidRunIsAFailure) {
  TEncoderHarness h;
  h.encoder.SetProgressInterval(100);
  const fs::path out_dir = folder_.Path() / "out";
  fs::create_directories(out_dir);
  const int task = h.AddTask(MediaPath(Clip::Mp4H264Aac), (out_dir / "gone.mp4").string(), "vcodec=libx264\nre=1");
  h.encoder.Start(1);
  ASSERT_TRUE(TEncoderHarness::WaitFor([&] { return !h.Progress().empty(); }));
  fs::remove_all(out_dir);
  h.encoder.WaitForEnd();
  const TTerminateInfo t = h.TerminateOf(task);
  EXPECT_FALSE(t.Finished);
  EXPECT_TRUE(t.Exception);
  EXPECT_NE(t.ExceptionMsg.find("gone.mp4"), std::string::npos) << t.ExceptionMsg;
}

// Little room for the output: a tmpfs of 64 KiB (when this process may
// mount one), or a file-size limit of 64 KiB on this process (writes past
// it fail with "File too large" instead of killing the process).
enum class TRoom { kSmallDisk, kFileSizeLimit };

class TSmallDisk {
 public:
  TSmallDisk(const fs::path& dir, TRoom room) : dir_(dir) {
    fs::create_directories(dir_);
    if (room == TRoom::kSmallDisk) {
      mounted_ = ::mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=64k") == 0;
      return;
    }
    limited_ = true;
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit small = saved_;
    small.rlim_cur = 64 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &small);
    old_handler_ = ::signal(SIGXFSZ, SIG_IGN);
  }
  ~TSmallDisk() {
    if (mounted_) ::umount(dir_.c_str());
    if (limited_) {
      ::setrlimit(RLIMIT_FSIZE, &saved_);
      ::signal(SIGXFSZ, old_handler_);
    }
  }
  bool Ready() const { return mounted_ || limited_; }

 private:
  fs::path dir_;
  bool mounted_ = false;
  bool limited_ = false;
  rlimit saved_{};
  sighandler_t old_handler_ = SIG_DFL;
};

class ConvertFullDisk : public ConvertFailures, public ::testing::WithParamInterface<TRoom> {};

TEST_P(ConvertFullDisk, IsAFailureAndLeavesNoFile) {
  const std::string source = MediaPath(Clip::Mp4H264Aac);  // made before any limit
  const fs::path disk = folder_.Path() / "disk";
  TSmallDisk small(disk, GetParam());
  if (!small.Ready()) GTEST_SKIP() << "this process may not mount a tmpfs";
  TEncoderHarness h;
  const int task = h.AddTask(source, (disk / "full.mp4").string(), "vcodec=libx264\nb=2000k\nacodec=aac");
  ASSERT_GE(task, 0);
  h.Run(1);
  const TTerminateInfo t = h.TerminateOf(task);
  EXPECT_FALSE(t.Finished);
  EXPECT_TRUE(t.Exception);
  EXPECT_FALSE(t.ExceptionMsg.empty());
  EXPECT_NE(t.ExceptionMsg.find(GetParam() == TRoom::kSmallDisk ? "No space left" : "too large"), std::string::npos)
      << t.ExceptionMsg;
  EXPECT_FALSE(fs::exists(disk / "full.mp4"));
  for (const auto& e : fs::directory_iterator(disk)) ADD_FAILURE() << "left behind: " << e.path();
}

INSTANTIATE_TEST_SUITE_P(Room, ConvertFullDisk, ::testing::Values(TRoom::kSmallDisk, TRoom::kFileSizeLimit),
                         [](const ::testing::TestParamInfo<TRoom>& info) {
                           return info.param == TRoom::kSmallDisk ? std::string("SmallDisk") : std::string("FileSizeLimit");
                         });

}  // namespace
}  // namespace vidmill
