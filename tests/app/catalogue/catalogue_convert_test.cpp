// Converts a short generated clip with every format of the shipped catalogue
// through Vidmill's own transcoder and the window's job assembly
// (vidmill-cli convert --profile) and checks what was written: container
// readable, its streams, its picture size and its length.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <QDir>
#include <QTemporaryDir>

#include "catalogue/catalogue.h"
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
  if (!RunShell(std::string(VIDMILL_CLI) + " 2>&1", status).contains(QStringLiteral("--profile"))) {
    GTEST_SKIP() << "the transcoder's command line has no --profile (built without the application)";
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
  const QVector<TProfile>& categories = catalogue.Categories();
  ASSERT_GT(categories.size(), 1);
  int n = 0;
  // Every file category (the last one, "All Profiles", only repeats them),
  // through the job assembly the window uses.
  for (qsizetype c = 0; c + 1 < categories.size(); ++c) {
    for (const TFormat& f : categories[c].Formats) {
      const QString profile = categories[c].Title + u'/' + f.Title;
      SCOPED_TRACE(profile.toStdString());
      const QString folder = QDir(out.path()).filePath(QString::number(++n));
      ASSERT_TRUE(QDir().mkpath(folder));
      const std::string command = std::string(VIDMILL_CLI) + " convert " + source + " --profile " +
                                  Quote(profile) + " --output " + Quote(folder);
      const QString log = RunShell(command + " 2>&1", status);
      ASSERT_EQ(status, 0) << command << "\n" << log.toStdString();
      const QString target = QDir(folder).filePath(QStringLiteral("catalogue_source") + f.FormatExt);
      const QString streams = RunShell(
          "ffprobe -v error -show_entries stream=codec_type,codec_name,width,height -of csv=p=0 " + Quote(target),
          status);
      ASSERT_EQ(status, 0) << streams.toStdString();
      if (f.IsAudioFormat == "1") {
        EXPECT_FALSE(streams.contains("video"));
      } else {
        EXPECT_TRUE(streams.contains("video," + f.Width + "," + f.Height)) << streams.toStdString();
      }
      EXPECT_EQ(streams.contains("audio"), !f.AudioCodecName.isEmpty()) << streams.toStdString();
      const double seconds =
          RunShell("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quote(target), status).toDouble();
      EXPECT_NEAR(seconds, 0.6, 0.25) << target.toStdString();
    }
  }
  EXPECT_EQ(n, static_cast<int>(catalogue.AllFormats().size()));
}

#endif
