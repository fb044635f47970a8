// Bitmap subtitles drawn over the picture, and switching between two
// subtitle streams.
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "core/entry_points.h"
#include "player_fixture.h"

namespace vidmill::testing {
namespace {

using namespace std::chrono_literals;

struct SquareAt {
  int x, y;
};
constexpr int kSquare = 48;
constexpr SquareAt kSquareA{16, 16};
constexpr SquareAt kSquareB{240, 160};
constexpr int kEventMs = 300;

// One DVD subtitle event: an opaque white square on a transparent ground.
bool WriteSquare(AVFormatContext* oc, AVCodecContext* enc, int stream, SquareAt at, int64_t start_ms) {
  AVSubtitle sub{};
  sub.format = 0;
  sub.start_display_time = 0;
  sub.end_display_time = kEventMs;
  sub.pts = start_ms * 1000;
  sub.num_rects = 1;
  sub.rects = static_cast<AVSubtitleRect**>(ff::av_mallocz(sizeof(AVSubtitleRect*)));
  AVSubtitleRect* r = static_cast<AVSubtitleRect*>(ff::av_mallocz(sizeof(AVSubtitleRect)));
  sub.rects[0] = r;
  r->type = SUBTITLE_BITMAP;
  r->x = at.x;
  r->y = at.y;
  r->w = kSquare;
  r->h = kSquare;
  r->nb_colors = 4;
  r->linesize[0] = kSquare;
  r->data[0] = static_cast<uint8_t*>(ff::av_malloc(kSquare * kSquare));
  std::memset(r->data[0], 1, kSquare * kSquare);
  auto* pal = static_cast<uint32_t*>(ff::av_mallocz(4 * sizeof(uint32_t)));
  pal[1] = 0xffffffff;  // opaque white
  r->data[1] = reinterpret_cast<uint8_t*>(pal);
  std::vector<uint8_t> buf(1 << 16);
  const int size = ff::avcodec_encode_subtitle(enc, buf.data(), static_cast<int>(buf.size()), &sub);
  ff::avsubtitle_free(&sub);
  if (size <= 0) return false;
  AVPacket* pkt = ff::av_packet_alloc();
  ff::av_new_packet(pkt, size);
  std::memcpy(pkt->data, buf.data(), size);
  pkt->stream_index = stream;
  pkt->pts = pkt->dts = ff::av_rescale_q(start_ms, AVRational{1, 1000}, oc->streams[stream]->time_base);
  pkt->duration = ff::av_rescale_q(kEventMs, AVRational{1, 1000}, oc->streams[stream]->time_base);
  const int ret = ff::av_interleaved_write_frame(oc, pkt);
  ff::av_packet_free(&pkt);
  return ret >= 0;
}

// The video of `src` with two DVD subtitle streams (1: square A, 2: square
// B), each a run of events covering the whole clip.
std::string MakeBitmapSubtitleClip(const std::string& src, const std::string& name) {
  const std::string out = MediaDir() + "/" + name;
  if (std::filesystem::exists(out)) return out;
  const std::string part = out + ".part" + std::to_string(getpid()) + ".mkv";
  AVFormatContext* ic = nullptr;
  if (ff::avformat_open_input(&ic, src.c_str(), nullptr, nullptr) < 0) return "";
  ff::avformat_find_stream_info(ic, nullptr);
  const int vi = ff::av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  AVFormatContext* oc = nullptr;
  ff::avformat_alloc_output_context2(&oc, nullptr, "matroska", part.c_str());
  AVStream* vs = ff::avformat_new_stream(oc, nullptr);
  ff::avcodec_parameters_copy(vs->codecpar, ic->streams[vi]->codecpar);
  vs->codecpar->codec_tag = 0;
  vs->time_base = ic->streams[vi]->time_base;
  AVCodecContext* enc[2] = {};
  for (auto& e : enc) {
    e = ff::avcodec_alloc_context3(ff::avcodec_find_encoder(AV_CODEC_ID_DVD_SUBTITLE));
    e->width = 320;
    e->height = 240;
    e->time_base = AVRational{1, 1000};
    ff::avcodec_open2(e, e->codec, nullptr);
    AVStream* ss = ff::avformat_new_stream(oc, nullptr);
    ff::avcodec_parameters_from_context(ss->codecpar, e);
    ss->time_base = AVRational{1, 1000};
  }
  bool ok = ff::avio_open2(&oc->pb, part.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr) >= 0 &&
            ff::avformat_write_header(oc, nullptr) >= 0;
  const int64_t clip_ms = ic->duration / 1000;
  int64_t next_event_ms = 0;
  AVPacket* pkt = ff::av_packet_alloc();
  while (ok && ff::av_read_frame(ic, pkt) >= 0) {
    if (pkt->stream_index == vi) {
      const int64_t pkt_ms = ff::av_rescale_q(pkt->dts, ic->streams[vi]->time_base, AVRational{1, 1000});
      while (ok && next_event_ms <= pkt_ms && next_event_ms < clip_ms) {
        ok = WriteSquare(oc, enc[0], 1, kSquareA, next_event_ms) &&
             WriteSquare(oc, enc[1], 2, kSquareB, next_event_ms);
        next_event_ms += kEventMs;
      }
      pkt->stream_index = 0;
      ff::av_packet_rescale_ts(pkt, ic->streams[vi]->time_base, vs->time_base);
      ok = ok && ff::av_interleaved_write_frame(oc, pkt) >= 0;
    }
    ff::av_packet_unref(pkt);
  }
  ok = ok && ff::av_write_trailer(oc) >= 0;
  ff::av_packet_free(&pkt);
  ff::avio_closep(&oc->pb);
  ff::avformat_free_context(oc);
  for (auto& e : enc) ff::avcodec_free_context(&e);
  ff::avformat_close_input(&ic);
  if (!ok) return "";
  std::filesystem::rename(part, out);
  return out;
}

// Share of the square's pixels that are (near) white in a 24-bit snapshot.
double WhiteShare(const TBitmap& shot, SquareAt at) {
  int white = 0;
  for (int y = at.y + 4; y < at.y + kSquare - 4; ++y) {
    const uint8_t* row = shot.ScanLine(y);
    for (int x = at.x + 4; x < at.x + kSquare - 4; ++x) {
      const uint8_t* p = row + x * 3;
      white += p[0] > 200 && p[1] > 200 && p[2] > 200;
    }
  }
  return white / double((kSquare - 8) * (kSquare - 8));
}

TEST_F(PlayerTest, BitmapSubtitlesAreDrawnOverThePictureOfTheChosenStream) {
  ClipSpec video;
  video.name = "video_4s.mp4";
  video.seconds = 4;
  video.sample_rate = 0;
  video.codec_args = {"-c:v", "libx264", "-g", "12"};
  const std::string clip = MakeBitmapSubtitleClip(MakeClip(video), "dvdsub_two_streams.mkv");
  ASSERT_FALSE(clip.empty());

  ASSERT_TRUE(player_.Open(clip)) << player_.LastErrMsg();
  EXPECT_EQ(player_.SubtitleStreamIndex(), 1);
  ASSERT_TRUE(WaitUntil([&] { return ShownPts() > 0.5; }, 3s));
  player_.Pause();
  WaitForStillPicture();
  {
    const TBitmap& shot = player_.CurrentFrame();
    ASSERT_EQ(shot.Width(), 320);
    EXPECT_GT(WhiteShare(shot, kSquareA), 0.95);
    EXPECT_LT(WhiteShare(shot, kSquareB), 0.5);
  }
  EXPECT_GT(player_.Stats().subtitles_shown, 0);

  ASSERT_TRUE(player_.SetSubtitleStreamIndex(2)) << player_.LastErrMsg();
  const double switched_at = WaitForStillPicture();
  player_.Resume();
  ASSERT_TRUE(WaitUntil([&] { return ShownPts() > switched_at + 0.6; }, 3s));
  player_.Pause();
  WaitForStillPicture();
  {
    const TBitmap& shot = player_.CurrentFrame();
    EXPECT_GT(WhiteShare(shot, kSquareB), 0.95);
    EXPECT_LT(WhiteShare(shot, kSquareA), 0.5);
  }
  player_.Stop(true);
}

}  // namespace
}  // namespace vidmill::testing
