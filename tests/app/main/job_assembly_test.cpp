// Job assembly against the shipped catalogue: the option records of each
// entry, trims, the filter chain, merge mode, output names, every "CLM_"
// path, and the same records for the command line's profile names.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "catalogue/catalogue.h"
#include "main/format_lookup.h"
#include "main/job_assembly.h"
#include "main/task_sink.h"
#include "report/error_marks.h"
#include "report/report_sink.h"

using namespace vidmill;

namespace {

struct TNullSink : TReportSink {
  void ErrorReport(const QString&, const QString&) override {}
  void LogEvent(const QString&) override {}
};

// Records what job assembly hands to the encoder; fails where told to.
struct TRecordingTasks : TTaskSink {
  struct TCall {
    std::string what;  // "AddTask", "AddInputFile", "SetOutputFile", "ClearTasks"
    int task = -1;
    std::string file;
    TInputOptions input;
    TOutputOptions output;
  };
  std::vector<TCall> calls;
  int tasks = 0;
  std::string fail_on;  // a call name that fails
  int fail_at = 0;      // ... at its n-th occurrence (0-based)
  int seen = 0;

  bool Fails(const std::string& what) {
    if (what != fail_on) return false;
    return seen++ == fail_at;
  }
  TCall& Record(const std::string& what, int task = -1, const std::string& file = {}) {
    TCall& c = calls.emplace_back();
    c.what = what;
    c.task = task;
    c.file = file;
    return c;
  }
  void ClearTasks() override {
    Record("ClearTasks");
    tasks = 0;
  }
  int AddTask(const std::string& file, TInputOptions* in) override {
    Record("AddTask", tasks, file).input = *in;
    if (Fails("AddTask")) return -1;
    return tasks++;
  }
  bool AddInputFile(int task, const std::string& file, TInputOptions* in) override {
    Record("AddInputFile", task, file).input = *in;
    return !Fails("AddInputFile");
  }
  bool SetOutputFile(int task, const std::string& file, TOutputOptions* out) override {
    Record("SetOutputFile", task, file).output = *out;
    return !Fails("SetOutputFile");
  }
  int TasksCount() const override { return tasks; }
  std::string LastErrMsg() const override { return "the encoder says no"; }
  std::vector<TCall> Of(const std::string& what) const {
    std::vector<TCall> r;
    for (const TCall& c : calls)
      if (c.what == what) r.push_back(c);
    return r;
  }
};

class JobAssembly : public ::testing::Test {
 protected:
  void SetUp() override { catalogue_.Load(QStringLiteral(VIDMILL_PROFILES_DIR)); }

  TFormatIndex Format(const char* name) {
    QString error;
    const auto at = FindProfile(catalogue_, QString::fromUtf8(name), &error);
    EXPECT_TRUE(at.has_value()) << error.toStdString();
    return at.value_or(TFormatIndex{});
  }
  TVideoFile Entry(const QString& name, TFormatIndex format, int w = 720, int h = 576) {
    TVideoFile e;
    e.Source = QDir(folder_.path()).filePath(name + ".avi");
    e.SourceTitleExt = name + ".avi";
    e.DestinationTitle = name;
    e.SourceWidth = w;
    e.SourceHeight = h;
    e.TrimmedLength = 10'000'000;
    e.TimeEnd = 10'000'000;
    e.ProfileInd = format.Category;
    e.FormatInd = format.Position;
    e.VideoStreamIndex = 0;
    return e;
  }
  TJobSettings Settings(bool merge = false, int selected = -1) {
    TJobSettings s;
    s.OutputFolder = out_.path();
    s.MergeTicked = merge;
    s.SelectedEntry = selected;
    return s;
  }

  TNullSink sink_;
  TCatalogue catalogue_{sink_};
  QTemporaryDir folder_;
  QTemporaryDir out_;
};

}  // namespace

TEST_F(JobAssembly, RecordsOfAVideoEntry) {
  const TFormatIndex at = Format("Portable Players/Xvid AVI 320x240");
  TVideoFile e = Entry("holiday", at);
  e.Brightness = 10;
  e.Saturation = -20;
  e.CropLeft = e.CropRight = e.CropTop = e.CropBottom = 8;
  e.AspectRatio = acSixteenNine;
  e.TimeStart = 2'000'000;
  e.TimeEnd = 5'000'000;
  TJobPlan plan;
  TJobError error;
  ASSERT_TRUE(BuildJobPlan({e}, catalogue_, Settings(), &plan, &error)) << error.Message.toStdString();
  const TFormat& f = *catalogue_.FormatAt(at);
  const TOutputOptions& out = plan.Outputs[0];
  EXPECT_EQ(out.FileName, QDir(out_.path()).filePath("holiday" + f.FormatExt).toStdString());
  EXPECT_EQ(out.FileExt, f.FormatExt.toStdString());
  EXPECT_EQ(out.VideoCodec, "mpeg4");  // libxvid is written as MPEG-4 tagged XVID
  EXPECT_EQ(out.VideoTag, "XVID");
  EXPECT_EQ(out.FrameRate, "25");
  EXPECT_EQ(out.VideoBitrate, f.VideoBitRate.toInt());
  EXPECT_EQ(out.AudioCodec, f.AudioCodecName.toStdString());
  EXPECT_EQ(out.AudioBitrate, f.AudioBitRate.toInt());
  EXPECT_EQ(out.AudioSampleRate, f.SampleRate.toInt());
  EXPECT_EQ(out.AudioChannels, f.Channel.toInt());
  EXPECT_EQ(out.ExtOptions, f.ExtraParam.toStdString());
  EXPECT_FALSE(out.DisableVideo);
  EXPECT_TRUE(out.FrameAspectRatio.empty());  // the padding gives the aspect; nothing applies it twice
  EXPECT_EQ(out.VideoFilters,
            "nativeeq=10:0,nativehue=0:-20,crop=704:560:8:8,pad=704:748:0:94:black,scale=320:240,setsar=1");
  EXPECT_EQ(plan.Inputs[0].FileName, e.Source.toStdString());
  EXPECT_EQ(plan.Inputs[0].TimeStart, 2'000'000);
  EXPECT_EQ(out.TimeLength, 3'000'000);
  EXPECT_EQ(out.Info.TimeStamp, 0.0);
  EXPECT_FALSE(out.Join);
}

TEST_F(JobAssembly, CodecTagsRatesAndPresetsOfTheFormat) {
  struct TCase {
    const char* profile;
    const char* codec;
    const char* tag;
    const char* preset;
    const char* rate;
  };
  const TCase cases[] = {
      {"Portable Players/DivX AVI 320x240", "mpeg4", "DIVX", "", "25"},
      {"Portable Players/Xvid AVI 640x480", "mpeg4", "XVID", "", "25"},
      {"DVD/DVD NTSC (MPEG-2)", "mpeg2video", "", "", "30000/1001"},
      {"Animated GIF/Animated GIF 480x270", "gif", "", "", "25/2"},
      {"Phones and Tablets/Phone H.264 720p", "libx264", "", "libx264-default", nullptr},
  };
  for (const TCase& c : cases) {
    TJobPlan plan;
    TJobError error;
    ASSERT_TRUE(BuildJobPlan({Entry("a", Format(c.profile))}, catalogue_, Settings(), &plan, &error)) << c.profile;
    const TOutputOptions& out = plan.Outputs[0];
    EXPECT_EQ(out.VideoCodec, c.codec) << c.profile;
    EXPECT_EQ(out.VideoTag, c.tag) << c.profile;
    EXPECT_EQ(out.VideoPreset, c.preset) << c.profile;
    if (c.rate) {
      EXPECT_EQ(out.FrameRate, c.rate) << c.profile;
    }
  }
  // A DivX title with an Xvid encoder: the Xvid tag prevails.
  const TFormatIndex xvid = Format("Portable Players/Xvid AVI 320x240");
  catalogue_.MutableFormatAt(xvid)->Title = "DivX compatible Xvid";
  TJobPlan plan;
  TJobError error;
  ASSERT_TRUE(BuildJobPlan({Entry("a", xvid)}, catalogue_, Settings(), &plan, &error));
  EXPECT_EQ(plan.Outputs[0].VideoTag, "XVID");
}

TEST_F(JobAssembly, AudioFormatsGetNoVideoAndNoFilters) {
  TVideoFile e = Entry("song", Format("Audio/MP3 128 kbps"));
  e.Brightness = 40;
  e.CropLeft = 16;
  TJobPlan plan;
  TJobError error;
  ASSERT_TRUE(BuildJobPlan({e}, catalogue_, Settings(), &plan, &error));
  EXPECT_TRUE(plan.Outputs[0].DisableVideo);
  EXPECT_TRUE(plan.Outputs[0].VideoCodec.empty());
  EXPECT_TRUE(plan.Outputs[0].VideoFilters.empty());
  EXPECT_EQ(plan.Outputs[0].AudioCodec, "libmp3lame");
}

TEST_F(JobAssembly, TrimOnlyForARealRange) {
  struct TCase { int64_t start, end; int64_t in_start; int64_t length; };
  const TCase cases[] = {
      {0, 10'000'000, 0, 10'000'000},
      {0, -1, 0, kNoTime},              // no duration stated: no limit at all
      {3'000'000, 3'000'000, 3'000'000, kNoTime},
      {5'000'000, 2'000'000, 5'000'000, kNoTime},
      {-1, 4'000'000, kNoTime, kNoTime},
  };
  for (const TCase& c : cases) {
    TVideoFile e = Entry("t", Format("Audio/MP3 128 kbps"));
    e.TimeStart = c.start;
    e.TimeEnd = c.end;
    TJobPlan plan;
    TJobError error;
    ASSERT_TRUE(BuildJobPlan({e}, catalogue_, Settings(), &plan, &error));
    EXPECT_EQ(plan.Inputs[0].TimeStart, c.in_start) << c.start << ".." << c.end;
    EXPECT_EQ(plan.Outputs[0].TimeLength, c.length) << c.start << ".." << c.end;
  }
}

TEST_F(JobAssembly, MergeTakesTheChosenEntryAndLeavesCropOutForMixedSizes) {
  const TFormatIndex avi = Format("Portable Players/DivX AVI 320x240");
  const TFormatIndex mp3 = Format("Audio/MP3 128 kbps");
  QVector<TVideoFile> entries = {Entry("one", avi), Entry("two", avi), Entry("three", avi)};
  for (TVideoFile& e : entries) e.CropLeft = 8;
  entries[0].ProfileInd = mp3.Category;
  entries[0].FormatInd = mp3.Position;

  for (int selected : {-1, 1}) {
    TJobPlan plan;
    TJobError error;
    ASSERT_TRUE(BuildJobPlan(entries, catalogue_, Settings(true, selected), &plan, &error));
    ASSERT_TRUE(plan.Merge);
    const int chosen = selected < 0 ? 0 : selected;  // no selection: the first entry
    EXPECT_EQ(plan.MergeEntry, chosen);
    ASSERT_EQ(plan.OutputPaths.size(), 1);
    const QString ext = chosen == 0 ? ".mp3" : ".avi";
    EXPECT_EQ(plan.OutputPaths[0], QDir(out_.path()).filePath("Joined" + ext));
    EXPECT_TRUE(plan.Outputs[chosen].Join);
    // Every input is read whole in a merge.
    for (const TInputOptions& in : plan.Inputs) EXPECT_EQ(in.TimeStart, kNoTime);
    if (chosen == 1) {
      EXPECT_EQ(plan.Outputs[1].VideoFilters, "crop=712:576:8:0,pad=768:576:28:0:black,scale=320:240,setsar=1");
    }

    TRecordingTasks tasks;
    ASSERT_TRUE(SubmitJobPlan(plan, tasks, &error));
    ASSERT_EQ(tasks.Of("AddTask").size(), 1u);
    ASSERT_EQ(tasks.Of("AddInputFile").size(), 2u);
    EXPECT_EQ(tasks.Of("AddInputFile")[0].file, entries[1].Source.toStdString());
    EXPECT_EQ(tasks.Of("AddInputFile")[1].file, entries[2].Source.toStdString());
    ASSERT_EQ(tasks.Of("SetOutputFile").size(), 1u);
    EXPECT_EQ(tasks.Of("SetOutputFile")[0].task, 0);
    EXPECT_TRUE(tasks.Of("SetOutputFile")[0].output.Join);
  }

  entries[2].SourceWidth = 1280;  // sizes differ: the chosen entry's crop would not fit the others
  entries[2].SourceHeight = 720;
  TJobPlan plan;
  TJobError error;
  ASSERT_TRUE(BuildJobPlan(entries, catalogue_, Settings(true, 1), &plan, &error));
  EXPECT_EQ(plan.Outputs[1].VideoFilters, "scale=320:240,setsar=1");

  // One entry with "Merge to one file": a normal task with its usual name.
  ASSERT_TRUE(BuildJobPlan({entries[1]}, catalogue_, Settings(true, 0), &plan, &error));
  EXPECT_FALSE(plan.Merge);
  EXPECT_EQ(plan.OutputPaths[0], QDir(out_.path()).filePath("two.avi"));
}

TEST_F(JobAssembly, OutputNamesNeverReplaceSourcesOrEachOther) {
  const TFormatIndex avi = Format("Portable Players/DivX AVI 320x240");
  TVideoFile source_in_output = Entry("clip", avi);
  source_in_output.Source = QDir(out_.path()).filePath("clip.avi");
  QFile(source_in_output.Source).open(QIODevice::WriteOnly);
  TVideoFile twin = Entry("clip", avi);
  QFile(QDir(out_.path()).filePath("Joined.avi")).open(QIODevice::WriteOnly);

  TJobPlan plan;
  TJobError error;
  ASSERT_TRUE(BuildJobPlan({source_in_output, twin}, catalogue_, Settings(), &plan, &error));
  EXPECT_EQ(plan.OutputPaths[0], QDir(out_.path()).filePath("clip (2).avi"));
  EXPECT_EQ(plan.OutputPaths[1], QDir(out_.path()).filePath("clip (3).avi"));
  ASSERT_TRUE(BuildJobPlan({source_in_output, twin}, catalogue_, Settings(true), &plan, &error));
  EXPECT_EQ(plan.OutputPaths[0], QDir(out_.path()).filePath("Joined (2).avi"));

  TVideoFile escaping = Entry("x", avi);
  escaping.DestinationTitle = "../../etc/passwd";
  EXPECT_FALSE(BuildJobPlan({escaping}, catalogue_, Settings(), &plan, &error));
  EXPECT_EQ(error.Mark.toStdString(), clm::kSetOutputFile);
}

TEST_F(JobAssembly, EveryFailurePathHasItsMark) {
  const TFormatIndex avi = Format("Portable Players/DivX AVI 320x240");
  QVector<TVideoFile> two = {Entry("a", avi), Entry("b", avi)};
  struct TCase { bool merge; const char* fail_on; int at; const char* mark; };
  const TCase cases[] = {
      {false, "AddTask", 1, clm::kFFAddTaskToMeged},
      {false, "SetOutputFile", 0, clm::kSetOutputFile},
      {true, "AddTask", 0, clm::kFFAddTaskToMerged},
      {true, "AddInputFile", 0, clm::kFFAddInputFileToMerged},
      {true, "SetOutputFile", 0, clm::kSetOutputFileMerge},
  };
  for (const TCase& c : cases) {
    TJobPlan plan;
    TJobError error;
    ASSERT_TRUE(BuildJobPlan(two, catalogue_, Settings(c.merge), &plan, &error));
    TRecordingTasks tasks;
    tasks.fail_on = c.fail_on;
    tasks.fail_at = c.at;
    EXPECT_FALSE(SubmitJobPlan(plan, tasks, &error)) << c.mark;
    EXPECT_EQ(error.Mark.toStdString(), c.mark);
    EXPECT_TRUE(error.Message.contains("the encoder says no")) << error.Message.toStdString();
    EXPECT_EQ(tasks.calls.back().what, "ClearTasks") << "tasks added before the failure are dropped";
    if (std::string(c.mark) == clm::kSetOutputFile) {
      EXPECT_EQ(error.Message.toStdString(),
                "Cannot set output file: the encoder says no\r\nPlease choose other output folder or rename output file.");
    }
  }

  // A crop that leaves no picture, and a format field that is no number.
  TVideoFile cropped = Entry("c", avi);
  cropped.CropLeft = 400;
  cropped.CropRight = 400;
  TJobPlan plan;
  TJobError error;
  EXPECT_FALSE(BuildJobPlan({cropped}, catalogue_, Settings(), &plan, &error));
  EXPECT_EQ(error.Mark.toStdString(), clm::kSetCropFilters);
  catalogue_.MutableFormatAt(avi)->AudioBitRate = "fast";
  EXPECT_FALSE(BuildJobPlan({Entry("d", avi)}, catalogue_, Settings(), &plan, &error));
  EXPECT_TRUE(error.Mark.isEmpty());
  EXPECT_EQ(error.Message.toStdString(), "'fast' is not a valid integer value");
}

TEST_F(JobAssembly, ProfileNamesOfTheCommandLine) {
  QString error;
  const auto at = FindProfile(catalogue_, "portable players/divx avi 320X240", &error);
  ASSERT_TRUE(at.has_value());
  EXPECT_EQ(ProfileNameOf(catalogue_, *at), "Portable Players/DivX AVI 320x240");
  EXPECT_TRUE(FindProfile(catalogue_, "MP3 128 kbps", &error).has_value());  // without a category
  EXPECT_FALSE(FindProfile(catalogue_, "Audio/No Such Format", &error).has_value());
  EXPECT_TRUE(error.contains("No Such Format"));
  const QStringList names = ProfileNames(catalogue_);
  EXPECT_EQ(names.size(), catalogue_.AllFormats().size());
  for (const QString& name : names) EXPECT_TRUE(FindProfile(catalogue_, name, &error).has_value()) << name.toStdString();
}
