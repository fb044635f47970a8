// Converts a short generated clip with every format of the shipped catalogue
// through Vidmill's own transcoder (vidmill-cli convert) and checks what was
// written: container readable, the format's codecs, and its picture size.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <QDir>
#include <QTemporaryDir>

#include "catalogue/catalogue.h"
#include "catalogue/list_syntax.h"
#include "catalogue_fixture.h"
#include "test_media.h"

using namespace vidmill;

#ifndef VIDMILL_CLI

TEST(CatalogueConversion, EveryFormatConvertsAShortClip) {
  GTEST_SKIP() << "the transcoder (engine/transcode, TFFEncoder, with vidmill-cli convert) is not built yet";
}

#else

namespace {

std::string Quote(const QString& s) {
  std::string q = "'";
  for (char c : s.toStdString()) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The option lines the job assembly gives a format (without crop, pad or
// picture adjustments): codecs with their tags, rates, bit rates, size, extras.
QStringList OptionLinesOf(const TFormat& f) {
  QStringList lines;
  if (f.IsAudioFormat == "1") {
    lines << "vn=1";
  } else {
    QString vcodec = f.VideoCodecName;
    if (f.Title.toLower().contains("divx")) lines << "vtag=DIVX";
    if (vcodec == "libxvid") {
      vcodec = "mpeg4";
      lines << "vtag=XVID";
    }
    const TFrameRate rate = FrameRateFraction(f.FrameRate);
    lines << "vcodec=" + vcodec << QStringLiteral("r=%1/%2").arg(rate.Num).arg(rate.Den)
          << "b=" + f.VideoBitRate << "vf=scale=" + f.Width + ":" + f.Height;
  }
  if (!f.AudioCodecName.isEmpty()) {
    lines << "acodec=" + f.AudioCodecName << "ar=" + f.SampleRate << "ab=" + f.AudioBitRate
          << "ac=" + f.Channel;
  }
  for (const QString& extra : f.ExtraParam.split("<CRLF>", Qt::SkipEmptyParts)) lines << extra;
  return lines;
}

QString RunShell(const std::string& command, int& status) {
  QString out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    status = -1;
    return out;
  }
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) out += QString::fromUtf8(buffer);
  status = pclose(pipe);
  return out;
}

}  // namespace

TEST(CatalogueConversion, EveryFormatConvertsAShortClip) {
  int status = 0;
  if (!RunShell(std::string(VIDMILL_CLI) + " 2>&1", status).contains(QStringLiteral("  convert"))) {
    GTEST_SKIP() << "the transcoder's command line (vidmill-cli convert) is not built yet";
  }
  vidmill::testing::ClipSpec spec;
  spec.name = "catalogue_source.mp4";
  spec.seconds = 0.6;
  spec.codec_args = {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac"};
  const std::string source = vidmill::testing::MakeClip(spec);
  ASSERT_FALSE(source.empty());
  vidmill::testing::TRecordingSink sink;
  TCatalogue catalogue(sink);
  catalogue.Load(QStringLiteral(VIDMILL_PROFILES_DIR));
  QTemporaryDir out;
  int n = 0;
  for (const TFormat& f : catalogue.AllFormats()) {
    SCOPED_TRACE(f.Title.toStdString());
    const QString target = QDir(out.path()).filePath(QStringLiteral("out%1%2").arg(++n).arg(f.FormatExt));
    std::string command = std::string(VIDMILL_CLI) + " convert " + source + " --output " + Quote(target);
    for (const QString& line : OptionLinesOf(f)) command += " -o " + Quote(line);
    const QString log = RunShell(command + " 2>&1", status);
    ASSERT_EQ(status, 0) << command << "\n" << log.toStdString();
    const QString streams = RunShell("ffprobe -v error -show_entries stream=codec_type,width,height -of csv=p=0 " +
                                    Quote(target), status);
    ASSERT_EQ(status, 0) << streams.toStdString();
    if (f.IsAudioFormat == "1") {
      EXPECT_FALSE(streams.contains("video"));
      EXPECT_TRUE(streams.contains("audio"));
    } else {
      EXPECT_TRUE(streams.contains("video," + f.Width + "," + f.Height)) << streams.toStdString();
      EXPECT_EQ(streams.contains("audio"), !f.AudioCodecName.isEmpty()) << streams.toStdString();
    }
  }
}

#endif
