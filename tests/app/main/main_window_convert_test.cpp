// The main window converting for real through the engine's encoder: clips
// added through the slot the file dialog uses, formats changed, trim, crop
// and aspect set on entries, "Start", and every output probed afterwards:
// container, codecs, picture size, duration; the joined output's duration;
// a cancel in the middle; an output folder that cannot be written.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>

#include "core/entry_points.h"
#include "main/conv_form.h"
#include "main/conversion_list.h"
#include "main/format_lookup.h"
#include "report/events_log.h"
#include "test_media.h"
#include "window_fixture.h"

extern "C" {
#include <libavformat/avformat.h>
}

using namespace vidmill;
using namespace vidmill::testing;

namespace {

struct TProbed {
  std::string container;
  std::string video_codec;  // "" without video
  uint32_t video_tag = 0;
  std::string audio_codec;  // "" without audio
  int width = -1, height = -1;
  int64_t duration_us = -1;
};

TProbed Probe(const QString& path) {
  TProbed p;
  TFFDecoder probe;
  if (!probe.LoadFile(path.toStdString())) {
    ADD_FAILURE() << path.toStdString() << ": " << probe.LastErrMsg();
    return p;
  }
  const AVFormatContext* ctx = probe.FileHandle();
  p.container = ctx->iformat->name;
  p.duration_us = probe.FileStreamInfo().Duration;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVCodecParameters* par = ctx->streams[i]->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO && p.video_codec.empty()) {
      p.video_codec = ff::avcodec_get_name(par->codec_id);
      p.video_tag = par->codec_tag;
      p.width = par->width;
      p.height = par->height;
    } else if (par->codec_type == AVMEDIA_TYPE_AUDIO && p.audio_codec.empty()) {
      p.audio_codec = ff::avcodec_get_name(par->codec_id);
    }
  }
  probe.CloseFile();
  return p;
}

// Mean luma of rows [from, to) of the first picture of a file, by Debian's
// ffmpeg tool.
double MeanLuma(const QString& path, int width, int height, int from, int to) {
  const QString raw = path + ".gray";
  const std::string cmd = "ffmpeg -nostdin -v error -y -i '" + path.toStdString() +
                          "' -frames:v 1 -f rawvideo -pix_fmt gray '" + raw.toStdString() + "'";
  if (RunCommand(cmd) != 0) return -1;
  QFile f(raw);
  if (!f.open(QIODevice::ReadOnly)) return -1;
  const QByteArray bytes = f.readAll();
  if (bytes.size() < width * height) return -1;
  double sum = 0;
  for (int y = from; y < to; ++y)
    for (int x = 0; x < width; ++x) sum += static_cast<unsigned char>(bytes[y * width + x]);
  return sum / ((to - from) * width);
}

QStringList FilesIn(const QString& folder, const QString& pattern = QStringLiteral("*")) {
  QStringList files;
  QDirIterator it(folder, {pattern}, QDir::Files | QDir::Hidden);
  while (it.hasNext()) files << it.next();
  files.sort();
  return files;
}

class Conversion : public TWindowFixture {
 protected:
  void SetUp() override {
    TWindowFixture::SetUp();
    if (!MakeEncoderConverter()) GTEST_SKIP() << "this build has no encoder component (engine/transcode) yet";
    window_ = MakeWindow();
    window_->SetOutputFolder(out_.path());
    window_->ProgressWindow().cbOpenOutput->setChecked(false);
  }

  TFormatIndex Format(const char* name) {
    QString error;
    const auto at = FindProfile(window_->Catalogue(), QString::fromUtf8(name), &error);
    EXPECT_TRUE(at.has_value()) << error.toStdString();
    return at.value_or(TFormatIndex{});
  }
  TVideoFile& Entry(int i) { return *window_->List().MutableEntry(i); }
  bool RunToEnd(int timeout_ms = 90000) {
    window_->StartConversion();
    if (!window_->Running()) return false;
    return SpinUntil([&] { return !window_->Running(); }, timeout_ms);
  }

  std::unique_ptr<TMainForm> window_;
  QTemporaryDir out_;
};

}  // namespace

TEST_F(Conversion, EachEntryBecomesAFileOfItsFormat) {
  window_->AddFiles({QString::fromStdString(MediaPath(Clip::Mp4H264Aac)),
                     QString::fromStdString(MediaPath(Clip::AviMpeg4Mp3)),
                     QString::fromStdString(MediaPath(Clip::WavPcm))});
  ASSERT_EQ(window_->List().Count(), 3);
  window_->chApplyToAll->setChecked(false);
  const TFormatIndex phone = Format("Phones and Tablets/Phone H.264 480p");
  const TFormatIndex divx = Format("Portable Players/DivX AVI 320x240");
  const TFormatIndex mp3 = Format("Audio/MP3 128 kbps");
  window_->List().SetFormat(0, phone);
  window_->List().SetFormat(1, divx);
  window_->List().SetFormat(2, mp3);
  // Entry 1: one second from 0.5 s, 8 px cut at each side, shown at 16:9.
  Entry(1).TimeStart = 500'000;
  Entry(1).TimeEnd = 1'500'000;
  Entry(1).TrimmedLength = 1'000'000;
  Entry(1).CropLeft = Entry(1).CropTop = Entry(1).CropRight = Entry(1).CropBottom = 8;
  Entry(1).AspectRatio = acSixteenNine;
  window_->List().EntryChanged(1);

  ASSERT_TRUE(RunToEnd());
  EXPECT_TRUE(reports_.isEmpty()) << reports_.value(0).first.toStdString();
  EXPECT_TRUE(window_->EventsLog().Lines().last().endsWith("-> Conversion successfully done."));
  const QStringList outputs = window_->RunOutputPaths();
  ASSERT_EQ(outputs.size(), 3);
  const TFormat& phone_f = *window_->Catalogue().FormatAt(phone);

  const TProbed a = Probe(outputs[0]);
  EXPECT_EQ(QFileInfo(outputs[0]).fileName(), "h264_aac" + phone_f.FormatExt);
  EXPECT_NE(a.container.find("mp4"), std::string::npos);
  EXPECT_EQ(a.video_codec, "h264");
  EXPECT_EQ(a.audio_codec, "aac");
  EXPECT_EQ(a.width, phone_f.Width.toInt());
  EXPECT_EQ(a.height, phone_f.Height.toInt());
  EXPECT_NEAR(a.duration_us, 2'000'000, 120'000);

  const TProbed b = Probe(outputs[1]);
  EXPECT_EQ(QFileInfo(outputs[1]).fileName(), "mpeg4_mp3.avi");
  EXPECT_EQ(b.container, "avi");
  EXPECT_EQ(b.video_codec, "mpeg4");
  EXPECT_EQ(b.video_tag, MKTAG('D', 'I', 'V', 'X'));
  EXPECT_EQ(b.audio_codec, "mp3");
  EXPECT_EQ(b.width, 320);
  EXPECT_EQ(b.height, 240);
  EXPECT_NEAR(b.duration_us, 1'000'000, 120'000);  // trimmed
  // 304x224 shown at 16:9 in 320x240: a picture 180 rows high between black bars.
  EXPECT_LT(MeanLuma(outputs[1], 320, 240, 0, 25), 25.0);
  EXPECT_LT(MeanLuma(outputs[1], 320, 240, 215, 240), 25.0);
  EXPECT_GT(MeanLuma(outputs[1], 320, 240, 40, 200), 40.0);

  const TProbed c = Probe(outputs[2]);
  EXPECT_EQ(QFileInfo(outputs[2]).fileName(), "tone.mp3");
  EXPECT_EQ(c.container, "mp3");
  EXPECT_TRUE(c.video_codec.empty());
  EXPECT_EQ(c.audio_codec, "mp3");
  EXPECT_NEAR(c.duration_us, 2'000'000, 120'000);
}

TEST_F(Conversion, MergedEntriesBecomeOneJoinedFileOfTheirSummedLength) {
  ClipSpec one_second;
  one_second.name = "one_second.mp4";
  one_second.seconds = 1.0;
  one_second.codec_args = {"-c:v", "libx264", "-c:a", "aac"};
  window_->AddFiles({QString::fromStdString(MediaPath(Clip::Mp4H264Aac)),
                     QString::fromStdString(MakeClip(one_second)),
                     QString::fromStdString(MediaPath(Clip::AviMpeg4Mp3))});
  ASSERT_EQ(window_->List().Count(), 3);
  int64_t sum = 0;
  for (const TVideoFile& e : window_->List().Entries()) sum += e.TrimmedLength;
  window_->ApplyChosenFormat(Format("Portable Players/MPEG-4 MP4 320x240"));
  window_->chMerge->setChecked(true);
  ASSERT_TRUE(RunToEnd());
  EXPECT_TRUE(reports_.isEmpty()) << reports_.value(0).first.toStdString();
  ASSERT_EQ(window_->RunOutputPaths().size(), 1);
  const QString joined = window_->RunOutputPaths()[0];
  EXPECT_EQ(QFileInfo(joined).fileName(), "Joined.mp4");
  const TProbed p = Probe(joined);
  EXPECT_EQ(p.video_codec, "mpeg4");
  EXPECT_EQ(p.width, 320);
  EXPECT_NEAR(p.duration_us, sum, 200'000);
}

TEST_F(Conversion, CancelInTheMiddleLeavesNoEmptyFileAndTheListAsItWas) {
  ClipSpec long_clip;
  long_clip.name = "ten_seconds_640.mp4";
  long_clip.width = 640;
  long_clip.height = 480;
  long_clip.seconds = 10.0;
  long_clip.codec_args = {"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"};
  const QString source = QString::fromStdString(MakeClip(long_clip));
  window_->AddFiles({source, source});
  window_->ApplyChosenFormat(Format("Phones and Tablets/Phone H.264 1080p"));
  const QVector<TVideoFile> before = window_->List().Entries();

  window_->StartConversion();
  ASSERT_TRUE(window_->Running());
  ASSERT_TRUE(SpinUntil([&] { return window_->ProgressWindow().ProgressCurrent->value() > 0; }, 60000));
  window_->ProgressWindow().CancelButton->click();
  ASSERT_TRUE(SpinUntil([&] { return !window_->Running(); }, 60000));

  EXPECT_TRUE(window_->EventsLog().Lines().last().endsWith("-> Conversion cancelled."))
      << window_->EventsLog().Lines().join("\n").toStdString();
  for (const QString& file : FilesIn(out_.path())) EXPECT_GT(QFileInfo(file).size(), 0) << file.toStdString();
  ASSERT_EQ(window_->List().Count(), before.size());
  for (int i = 0; i < before.size(); ++i) {
    EXPECT_EQ(window_->List().Entries()[i].Source, before[i].Source);
    EXPECT_EQ(window_->List().Entries()[i].DestinationTitle, before[i].DestinationTitle);
    EXPECT_EQ(window_->List().Entries()[i].TrimmedLength, before[i].TrimmedLength);
  }
  EXPECT_TRUE(window_->btnStart->isEnabled());
}

TEST_F(Conversion, AnOutputFolderThatCannotBeWrittenIsReportedAndNothingIsWritten) {
  const QString source = QString::fromStdString(MediaPath(Clip::Mp4H264Aac));
  // Other test programs add clips to the media folder meanwhile: only names
  // an output of this source could have are compared.
  const QString media = QFileInfo(source).absolutePath();
  const QStringList source_folder_before = FilesIn(media, "h264_aac*");
  window_->AddFiles({source});
  // Not writable for anybody, root included.
  window_->SetOutputFolder(QStringLiteral("/proc"));
  window_->StartConversion();
  EXPECT_FALSE(window_->Running());
  ASSERT_EQ(ReportMarks(), QStringList{"CLM_SetOutputFile"});
  EXPECT_TRUE(reports_[0].first.startsWith("Cannot set output file: "));
  EXPECT_TRUE(reports_[0].first.endsWith("\r\nPlease choose other output folder or rename output file."));
  EXPECT_EQ(FilesIn(media, "h264_aac*"), source_folder_before);
  EXPECT_TRUE(FilesIn(QDir::currentPath(), "h264_aac*").isEmpty());
  EXPECT_FALSE(QFileInfo::exists(home_.filePath("tarnwick_temp")));
  EXPECT_TRUE(window_->btnStart->isEnabled());
}
