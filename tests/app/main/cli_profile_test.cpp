// "vidmill-cli convert --profile": the command line converts with the
// window's catalogue and job assembly (the same free names, the same
// records), checked on what it writes.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "core/entry_points.h"
#include "core/ff_load.h"
#include "probe/ff_decode.h"
#include "test_media.h"

extern "C" {
#include <libavformat/avformat.h>
}

using namespace vidmill;

namespace {

int Convert(const std::string& arguments) {
  return vidmill::testing::RunCommand(std::string(VIDMILL_CLI) + " convert " + arguments + " >/dev/null 2>&1");
}

std::string Quote(const QString& s) { return "'" + s.toStdString() + "'"; }

}  // namespace

TEST(CliProfile, ConvertsWithTheCataloguesFormatAndFreeNames) {
  ASSERT_TRUE(TFFLoader::Instance().Load(kDecoderLibraries));
  QTemporaryDir out;
  const QString clip = QString::fromStdString(vidmill::testing::MediaPath(vidmill::testing::Clip::Mp4H264Aac));
  const std::string args = Quote(clip) + " --profile 'Portable Players/DivX AVI 320x240' --output " + Quote(out.path());
  ASSERT_EQ(Convert(args), 0);
  ASSERT_EQ(Convert(args), 0);  // the first output is kept: the second gets a free name
  const QString first = QDir(out.path()).filePath("h264_aac.avi");
  const QString second = QDir(out.path()).filePath("h264_aac (2).avi");
  for (const QString& path : {first, second}) {
    TFFDecoder probe;
    ASSERT_TRUE(probe.LoadFile(path.toStdString())) << path.toStdString() << ": " << probe.LastErrMsg();
    const AVFormatContext* ctx = probe.FileHandle();
    EXPECT_STREQ(ctx->iformat->name, "avi");
    const TVideoStreamInfo v = probe.VideoStreamInfos(-1);
    EXPECT_EQ(v.Width, 320);
    EXPECT_EQ(v.Height, 240);
    const AVCodecParameters* par = ctx->streams[probe.FirstVideoStreamIndex()]->codecpar;
    EXPECT_STREQ(ff::avcodec_get_name(par->codec_id), "mpeg4");
    EXPECT_EQ(par->codec_tag, MKTAG('D', 'I', 'V', 'X'));
    EXPECT_NEAR(probe.FileStreamInfo().Duration, 2'000'000, 120'000);
  }

  EXPECT_EQ(Convert(Quote(clip) + " --profile 'Audio/No such format' --output " + Quote(out.path())), 2);  // a wrong command line
  EXPECT_EQ(Convert(Quote(clip) + " --profile 'Audio/MP3 128 kbps' -o ab=64k --output " + Quote(out.path())), 2);  // a wrong command line
}
