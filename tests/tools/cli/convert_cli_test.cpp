// "vidmill-cli convert" run as a program: what it writes, what it prints
// and its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "core/ff_load.h"
#include "media_check.h"
#include "test_media.h"

namespace vidmill {
namespace {

using namespace vidmill::testing;
namespace fs = std::filesystem;

struct TRun {
  int status = -1;  // exit status of the program
  std::string out;  // stdout
  std::string err;  // stderr
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ReadFile(const fs::path& p) {
  std::string text;
  if (FILE* f = std::fopen(p.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

class ConvertCli : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TFFLoader::Instance().Load(kEncoderLibraries)) << TFFLoader::Instance().LastErrMsg();
    dir_ = fs::temp_directory_path() / ("vidmill-cli-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "out");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the command line (arguments already quoted) through the shell;
  // `prefix` runs before it in the same shell (e.g. "ulimit -f 64;").
  TRun Cli(const std::string& args, const std::string& prefix = "") {
    const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
    const std::string command = prefix + " " + Quote(VIDMILL_CLI) + " convert " + args + " >" + Quote(out) + " 2>" +
                                Quote(err) + " </dev/null";
    const int raw = std::system(("bash -c " + Quote(command)).c_str());
    TRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = ReadFile(out);
    run.err = ReadFile(err);
    return run;
  }
  std::string Out(const std::string& name) const { return (dir_ / "out" / name).string(); }
  size_t FilesInOut() const {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_ / "out")) ++n;
    return n;
  }

  fs::path dir_;
};

TEST_F(ConvertCli, ConvertsWithEngineOptionsAndSummarises) {
  const std::string source = MediaPath(Clip::Mp4H264Aac);
  const TRun run = Cli(Quote(source) + " --output " + Quote(Out("small.mp4")) +
                       " -o vcodec=libx264 -o s=640x360 -o b=1000k -o acodec=aac -o ab=128k -o vf=nativeeq=20:0");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("1 of 1 files converted in "), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find('\r'), std::string::npos);  // not a terminal: plain lines
  const TMediaFacts facts = DecodeFacts(Out("small.mp4"));
  ASSERT_TRUE(facts.ok) << facts.error;
  ASSERT_TRUE(facts.First(AVMEDIA_TYPE_VIDEO));
  EXPECT_EQ(facts.First(AVMEDIA_TYPE_VIDEO)->width, 640);
  EXPECT_EQ(facts.First(AVMEDIA_TYPE_VIDEO)->height, 360);
  EXPECT_EQ(facts.First(AVMEDIA_TYPE_VIDEO)->frames, 50);
  ASSERT_TRUE(facts.First(AVMEDIA_TYPE_AUDIO));
  EXPECT_EQ(facts.First(AVMEDIA_TYPE_AUDIO)->codec, "aac");
}

TEST_F(ConvertCli, TrimsByStartAndDuration) {
  const TRun run = Cli(Quote(MediaPath(Clip::Mp4H264Aac)) + " --output " + Quote(Out("trim.mkv")) +
                       " -o vcodec=libx264 -o acodec=aac -o ss=0.4 -o t=1");
  ASSERT_EQ(run.status, 0) << run.err;
  const TMediaFacts facts = DecodeFacts(Out("trim.mkv"));
  ASSERT_TRUE(facts.ok);
  EXPECT_NEAR(facts.First(AVMEDIA_TYPE_VIDEO)->Duration(), 1.0, 1.0 / 25 + 1e-6);
}

TEST_F(ConvertCli, WrongOptionsAreRefusedBeforeAnythingIsWritten) {
  const std::string source = MediaPath(Clip::Mp4H264Aac);
  const struct {
    const char* option;
    const char* message;
  } cases[] = {
      {"bogus=1", "Unrecognized option \"bogus\""},
      {"b=abc", "Invalid value \"abc\" for option \"b\""},
      {"vcodec=no_such_encoder", "Unknown encoder 'no_such_encoder'"},
  };
  for (const auto& c : cases) {
    const TRun run = Cli(Quote(source) + " " + Quote(source) + " --output " + Quote((dir_ / "out").string()) +
                         " -o f=matroska -o " + Quote(c.option));
    EXPECT_EQ(run.status, 2) << c.option;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(FilesInOut(), 0u) << c.option;
  }
}

TEST_F(ConvertCli, WrongCommandLinesGiveUsage) {
  for (const std::string& args : {std::string("--output x.mp4"), Quote(MediaPath(Clip::WavPcm)),
                                  Quote(MediaPath(Clip::WavPcm)) + " " + Quote(MediaPath(Clip::Mp3Audio)) +
                                      " --output " + Quote(Out("one.mp3")),
                                  Quote(MediaPath(Clip::WavPcm)) + " --output x.mp3 -j 0",
                                  Quote(MediaPath(Clip::WavPcm)) + " --output x.mp3 -o novalue"}) {
    const TRun run = Cli(args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_NE(run.err.find("Usage: vidmill-cli convert"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--profile \"CATEGORY/FORMAT\""), std::string::npos) << run.err;
  }
}

TEST_F(ConvertCli, EachFailingFileIsReportedAndTheStatusSaysSo) {
  const std::string missing = (dir_ / "missing.mp4").string();
  const TRun run = Cli(Quote(MediaPath(Clip::WavPcm)) + " " + Quote(missing) + " --output " +
                       Quote((dir_ / "out").string()) + " -o f=mp3 -o acodec=libmp3lame -j 2");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("missing.mp4: No such file or directory"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("1 of 2 files converted (1 failed)"), std::string::npos) << run.out;
  EXPECT_TRUE(DecodeFacts(Out(fs::path(MediaPath(Clip::WavPcm)).stem().string() + ".mp3")).ok);
}

TEST_F(ConvertCli, OnlyFailingFilesEndTheCommandWithItsStatus) {
  // A hang would be stopped by the time-out (status 124 or 137), not pass.
  const std::string missing = (dir_ / "missing.mp4").string();
  for (const char* threads : {"", " -j 2"}) {
    const TRun run = Cli(Quote(missing) + " --output " + Quote((dir_ / "out").string()) + threads, "timeout -s KILL 120");
    EXPECT_EQ(run.status, 1) << threads;
    EXPECT_NE(run.err.find("missing.mp4: No such file or directory"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("0 of 1 files converted (1 failed)"), std::string::npos) << run.out;
    EXPECT_EQ(FilesInOut(), 0u);
  }
}

TEST_F(ConvertCli, TwoInputsWithOneOutputNameAreRefusedBeforeAnythingIsWritten) {
  fs::create_directories(dir_ / "a");
  fs::create_directories(dir_ / "b");
  fs::copy_file(MediaPath(Clip::WavPcm), dir_ / "a" / "x.wav");
  fs::copy_file(MediaPath(Clip::WavPcm), dir_ / "b" / "x.wav");
  const TRun run = Cli(Quote((dir_ / "a" / "x.wav").string()) + " " + Quote((dir_ / "b" / "x.wav").string()) +
                       " --output " + Quote((dir_ / "out").string()), "timeout -s KILL 120");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("is already an output of another task"), std::string::npos) << run.err;
  EXPECT_EQ(FilesInOut(), 0u);
}

TEST_F(ConvertCli, JoinsInputsWithParallelTasksAllowed) {
  const std::string a = MediaPath(Clip::Mp4H264Aac);
  const TRun run = Cli(Quote(a) + " " + Quote(a) + " --join -j 2 --output " + Quote((dir_ / "out").string()) +
                       " -o vcodec=libx264 -o acodec=aac");
  ASSERT_EQ(run.status, 0) << run.err;
  const TMediaFacts facts = DecodeFacts(Out("Joined.mp4"));
  ASSERT_TRUE(facts.ok) << facts.error;
  EXPECT_NEAR(facts.First(AVMEDIA_TYPE_VIDEO)->Duration(), 4.0, 0.2);
}

TEST_F(ConvertCli, AFileSizeLimitFailsTheConversionWithItsMessage) {
  const std::string source = MediaPath(Clip::Mp4H264Aac);  // made before the limit
  const TRun run = Cli(Quote(source) + " --output " + Quote(Out("big.mp4")) + " -o vcodec=libx264 -o b=3000k",
                       "ulimit -f 64;");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("0 of 1 files converted (1 failed)"), std::string::npos) << run.out;
  EXPECT_EQ(FilesInOut(), 0u);
}

}  // namespace
}  // namespace vidmill
