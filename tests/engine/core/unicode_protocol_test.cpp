#include "core/unicode_protocol.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "core/entry_points.h"
#include "core/ff_load.h"
#include "core/interrupt_cb.h"
#include "test_media.h"

using namespace vidmill;
using vidmill::testing::Clip;
using vidmill::testing::MediaPath;
namespace fs = std::filesystem;

namespace {

struct WrapCase {
  const char* name;
  bool wrapped;
};

TEST(LibraryForm, WrapsOnlyNamesTheLibrariesWouldReadAsAUrl) {
  const WrapCase cases[] = {
      {"clip.mp4", false},
      {"/home/me/take:2.mp4", false},      // ':' after '/': a plain path
      {"./take:2.mp4", false},
      {"Ταινία 電影 \"it's\".mkv", false},  // names are bytes: passed as they are
      {"bad\xff\xfe.avi", false},
      {"take:2.mp4", true},                // would be read as protocol "take"
      {":notes.mkv", true},                // empty protocol
      {"C:video.avi", true},
      {"a+b.c-d:x", true},
      {"http://example.invalid/a.mp4", false},  // listed protocols stay URLs
      {"udp:1234", false},
      {"pipe:0", false},
      {"unicode:utf8:take:2.mp4", false},  // wrapped already
      {"HTTP:x", true},                    // the list is compared with its case
      {"ftp://host/a.mp4", false},         // "scheme://" is a URL for the libraries
      {"://x", true},
  };
  for (const WrapCase& c : cases) {
    EXPECT_EQ(NeedsWrapping(c.name), c.wrapped) << c.name;
    const std::string form = ToLibraryForm(c.name);
    EXPECT_EQ(form, c.wrapped ? std::string("unicode:utf8:") + c.name : std::string(c.name));
    if (c.wrapped) {
      EXPECT_EQ(FromLibraryForm(form), c.name);
    }
  }
  EXPECT_EQ(FromLibraryForm("unicode:utf8:take:2.mp4"), "take:2.mp4");
}

TEST(LibraryForm, ConvertsBackOnlyANonEmptyWrappedName) {
  EXPECT_EQ(FromLibraryForm("unicode:utf8:"), "unicode:utf8:");  // 13 bytes: no name
  EXPECT_EQ(FromLibraryForm("unicode:utf8:a"), "a");
  EXPECT_EQ(FromLibraryForm("unicode:utf8:x:y"), "x:y");
  EXPECT_EQ(FromLibraryForm("plain.avi"), "plain.avi");
}

TEST(LibraryForm, HasNoLengthLimitAndEveryCallOwnsItsResult) {
  const std::string long_name = "v:" + std::string(10000, 'x') + ".mp4";
  const std::string form = ToLibraryForm(long_name);
  EXPECT_EQ(form.size(), long_name.size() + 13);
  EXPECT_EQ(FromLibraryForm(form), long_name);
  // Conversions on several threads at once never see each other's names.
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int i = 0; i < 2000; ++i) {
        const std::string name = "t" + std::to_string(t) + ":" + std::to_string(i);
        if (FromLibraryForm(ToLibraryForm(name)) != name) ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong, 0);
}

class EngineIO : public ::testing::Test {
 protected:
  void SetUp() override {
    TFFLoader::Instance().SetLibraryPath("");
    ASSERT_TRUE(TFFLoader::Instance().Load(kDecoderLibraries)) << TFFLoader::Instance().LastErrMsg();
    std::string tmpl = (fs::temp_directory_path() / "vidmill-io-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    old_cwd_ = fs::current_path();
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, ec);
    fs::remove_all(dir_, ec);
  }
  // Copies a clip into the test folder under the given name.
  fs::path CopyClip(Clip clip, const std::string& name) {
    const fs::path to = dir_ / name;
    fs::copy_file(MediaPath(clip), to, fs::copy_options::overwrite_existing);
    return to;
  }
  fs::path dir_;
  fs::path old_cwd_;
};

TEST_F(EngineIO, OpensNamesWithGreekCjkSpacesQuotesAndColons) {
  const std::string names[] = {
      "Ταινία 電影 \"quoted\" 'single'.mp4",
      "take:2 Ταινία.mp4",  // opened relative to the folder: wrapped
      ":leading colon.mp4",
  };
  fs::current_path(dir_);
  for (const std::string& name : names) {
    CopyClip(Clip::Mp4H264Aac, name);
    AVFormatContext* ctx = nullptr;
    ASSERT_EQ(OpenInput(&ctx, name, nullptr, nullptr), 0) << name;
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(ff::avformat_find_stream_info(ctx, nullptr), 0);
    EXPECT_EQ(ctx->nb_streams, 2u) << name;
    EXPECT_EQ(FromLibraryForm(ctx->url), name);
    EXPECT_STREQ(ctx->iformat->name, "mov,mp4,m4a,3gp,3g2,mj2");
    EXPECT_TRUE(IsEngineIO(ctx->pb));
    CloseInput(&ctx);
    EXPECT_EQ(ctx, nullptr);
  }
}

// Reads every byte of a file through the engine's input I/O ("data" demuxer).
std::string ReadAllThroughEngine(const std::string& name, int64_t* size_seen) {
  AVFormatContext* ctx = nullptr;
  const int err = OpenInput(&ctx, name, ff::av_find_input_format("data"), nullptr);
  EXPECT_EQ(err, 0);
  if (err < 0) return {};
  const int64_t before = ff::avio_seek(ctx->pb, 0, SEEK_CUR);
  *size_seen = ff::avio_size(ctx->pb);
  EXPECT_EQ(ff::avio_seek(ctx->pb, 0, SEEK_CUR), before);  // the size query does not move
  std::string bytes;
  AVPacket* pkt = ff::av_packet_alloc();
  while (ff::av_read_frame(ctx, pkt) >= 0) {
    bytes.append(reinterpret_cast<const char*>(pkt->data), pkt->size);
    ff::av_packet_unref(pkt);
  }
  ff::av_packet_free(&pkt);
  CloseInput(&ctx);
  return bytes;
}

TEST_F(EngineIO, WritesAndReadsBackByteForByteUnderAWrappedName) {
  fs::current_path(dir_);
  std::mt19937 rng(7);
  std::string data(300000, '\0');
  for (char& c : data) c = static_cast<char>(rng());
  const std::string name = "out:Ω 音.bin";
  AVIOContext* pb = nullptr;
  ASSERT_EQ(OpenOutputIO(&pb, name, nullptr, nullptr), 0);
  ASSERT_TRUE(IsEngineIO(pb));
  ff::avio_write(pb, reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
  EXPECT_EQ(CloseOutputIO(&pb), 0);
  EXPECT_EQ(pb, nullptr);
  ASSERT_EQ(fs::file_size(dir_ / name), data.size());  // the real file, not "unicode:..."
  int64_t size = -1;
  EXPECT_EQ(ReadAllThroughEngine(name, &size), data);
  EXPECT_EQ(size, static_cast<int64_t>(data.size()));
}

TEST_F(EngineIO, NeverOpensAnInputForWriting) {
  const fs::path path = CopyClip(Clip::WavPcm, "read only.wav");
  const auto size = fs::file_size(path);
  const auto mtime = fs::last_write_time(path);
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  AVFormatContext* ctx = nullptr;
  ASSERT_EQ(OpenInput(&ctx, path.string(), nullptr, nullptr), 0);
  CloseInput(&ctx);
  EXPECT_EQ(fs::file_size(path), size);
  EXPECT_EQ(fs::last_write_time(path), mtime);
}

TEST_F(EngineIO, FailuresLeaveNoContext) {
  struct Case {
    std::string name;
    int error;
  };
  const Case cases[] = {
      {(dir_ / "missing.mp4").string(), AVERROR(ENOENT)},
      {dir_.string(), AVERROR(EISDIR)},
      {MediaPath(Clip::ZeroBytes), AVERROR_INVALIDDATA},
      {MediaPath(Clip::RandomBytes), AVERROR_INVALIDDATA},
  };
  for (const Case& c : cases) {
    AVFormatContext* ctx = ff::avformat_alloc_context();
    EXPECT_EQ(OpenInput(&ctx, c.name, nullptr, nullptr), c.error) << c.name;
    EXPECT_EQ(ctx, nullptr);  // freed by the open: nothing left to close
  }
}

// Opens name on another thread and interrupts it after 200 ms.
int OpenAndInterrupt(const std::string& name, std::chrono::milliseconds* took) {
  std::atomic<bool> stop{false};
  int result = 1;
  const auto start = std::chrono::steady_clock::now();
  std::thread opener([&] {
    TInterruptScope scope(&stop, [&] { return stop.load(); });
    AVFormatContext* ctx = nullptr;
    result = OpenInput(&ctx, name, nullptr, nullptr);
    CloseInput(&ctx);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  stop = true;
  opener.join();
  *took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  return result;
}

TEST_F(EngineIO, InterruptCutsABlockedOpenShort) {
  const fs::path fifo = dir_ / "never fed.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::chrono::milliseconds took{};
  // Nobody ever opens the FIFO for writing.
  EXPECT_EQ(OpenAndInterrupt(fifo.string(), &took), AVERROR_EXIT);
  EXPECT_LT(took.count(), 3000);
  // A writer holds the FIFO open but never writes.
  const int writer = ::open(fifo.c_str(), O_RDWR);
  ASSERT_GE(writer, 0);
  EXPECT_EQ(OpenAndInterrupt(fifo.string(), &took), AVERROR_EXIT);
  EXPECT_LT(took.count(), 3000);
  ::close(writer);
}

TEST_F(EngineIO, ReadsAClipFedThroughAFifo) {
  const fs::path fifo = dir_ / "fed.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string clip = MediaPath(Clip::WavPcm);
  std::thread feeder([&] {
    std::ifstream in(clip, std::ios::binary);
    std::ofstream out(fifo, std::ios::binary);  // blocks until the reader opens
    out << in.rdbuf();
  });
  AVFormatContext* ctx = nullptr;
  ASSERT_EQ(OpenInput(&ctx, fifo.string(), nullptr, nullptr), 0);
  EXPECT_EQ(ff::avformat_find_stream_info(ctx, nullptr), 0);
  EXPECT_STREQ(ctx->iformat->name, "wav");
  EXPECT_EQ(ctx->pb->seekable, 0);
  AVPacket* pkt = ff::av_packet_alloc();
  int64_t bytes = 0;
  while (ff::av_read_frame(ctx, pkt) >= 0) {
    bytes += pkt->size;
    ff::av_packet_unref(pkt);
  }
  ff::av_packet_free(&pkt);
  CloseInput(&ctx);
  feeder.join();
  EXPECT_EQ(bytes, 2 * 44100 * 2 * 2);  // 2 s of 16-bit stereo
}

}  // namespace
