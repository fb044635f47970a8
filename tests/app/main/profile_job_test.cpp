// The command line's profile jobs: the same entries and records as the
// window's, from a profile name and input files.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "catalogue/catalogue.h"
#include "core/ff_load.h"
#include "main/format_lookup.h"
#include "main/profile_job.h"
#include "probe/ff_decode.h"
#include "report/report_sink.h"
#include "test_media.h"

using namespace vidmill;

namespace {

struct TNoReports : TReportSink {
  void ErrorReport(const QString&, const QString&) override {}
  void LogEvent(const QString&) override {}
};

class ProfileJob : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TFFLoader::Instance().Load(kDecoderLibraries)) << TFFLoader::Instance().LastErrMsg();
    catalogue_.Load(QStringLiteral(VIDMILL_PROFILES_DIR));
  }
  TNoReports sink_;
  TCatalogue catalogue_{sink_};
  TFFDecoder decoder_;
  QTemporaryDir out_;
};

}  // namespace

TEST_F(ProfileJob, ProbesEveryInputAndAssemblesItsRecords) {
  TProfileJobRequest request;
  request.Profile = "Portable Players/DivX AVI 320x240";
  request.Inputs = {QString::fromStdString(vidmill::testing::MediaPath(vidmill::testing::Clip::Mp4H264Aac)),
                    QString::fromStdString(vidmill::testing::MediaPath(vidmill::testing::Clip::WavPcm))};
  request.OutputFolder = out_.path();
  QVector<TVideoFile> entries;
  TJobPlan plan;
  QString error;
  ASSERT_TRUE(BuildProfileJob(request, catalogue_, decoder_, &entries, &plan, &error)) << error.toStdString();
  ASSERT_EQ(entries.size(), 2);
  EXPECT_EQ(ProfileNameOf(catalogue_, {entries[0].ProfileInd, entries[0].FormatInd}), request.Profile);
  EXPECT_EQ(entries[0].SourceWidth, 320);
  EXPECT_TRUE(entries[1].isSourceAudioFormat);
  EXPECT_GT(entries[0].EstimatedSize, 0.0);
  EXPECT_EQ(plan.OutputPaths,
            (QStringList{QDir(out_.path()).filePath("h264_aac.avi"), QDir(out_.path()).filePath("tone.avi")}));
  EXPECT_EQ(plan.Outputs[0].VideoFilters, "scale=320:240,setsar=1");
  EXPECT_EQ(plan.Outputs[0].VideoTag, "DIVX");

  request.Merge = true;
  ASSERT_TRUE(BuildProfileJob(request, catalogue_, decoder_, &entries, &plan, &error));
  EXPECT_EQ(plan.OutputPaths, QStringList{QDir(out_.path()).filePath("Joined.avi")});
}

TEST_F(ProfileJob, RefusesUnknownProfilesBrokenInputsAndMissingFolders) {
  QVector<TVideoFile> entries;
  TJobPlan plan;
  QString error;
  TProfileJobRequest request;
  request.Inputs = {QString::fromStdString(vidmill::testing::MediaPath(vidmill::testing::Clip::Mp4H264Aac))};
  request.OutputFolder = out_.path();
  request.Profile = "Audio/Gramophone";
  EXPECT_FALSE(BuildProfileJob(request, catalogue_, decoder_, &entries, &plan, &error));
  EXPECT_TRUE(error.contains("Gramophone"));

  request.Profile = "Audio/MP3 128 kbps";
  request.Inputs << QString::fromStdString(vidmill::testing::MediaPath(vidmill::testing::Clip::RandomBytes));
  EXPECT_FALSE(BuildProfileJob(request, catalogue_, decoder_, &entries, &plan, &error));
  EXPECT_TRUE(error.contains("random_bytes.avi")) << error.toStdString();

  request.Inputs.removeLast();
  request.OutputFolder = out_.filePath("missing");
  EXPECT_FALSE(BuildProfileJob(request, catalogue_, decoder_, &entries, &plan, &error));
}
