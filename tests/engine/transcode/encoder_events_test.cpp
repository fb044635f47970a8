// The encoder component's run and events: progress at the interval up to
// the whole duration, OnTerminate per task and then for the run, stop,
// pause, tasks running at once, hooks, and the checks while working.
//
// Conversions that must last a while run with "re" (read at the pace of
// the input's own clock), so the tests see them running.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>

#include "core/engine_error.h"
#include "encoder_harness.h"
#include "media_check.h"

namespace vidmill {
namespace {

using namespace vidmill::testing;
namespace fs = std::filesystem;

// A small clip of `seconds` seconds, made once per process.
std::string SmallClip(double seconds) {
  ClipSpec spec;
  spec.name = "events_" + std::to_string(static_cast<int>(seconds * 10)) + ".mp4";
  spec.width = 160;
  spec.height = 120;
  spec.seconds = seconds;
  spec.codec_args = {"-c:v", "libx264", "-c:a", "aac"};
  return MakeClip(spec);
}

constexpr const char* kPaced = "vcodec=libx264\nacodec=aac\nre=1";
constexpr const char* kFast = "vcodec=libx264\nacodec=aac";

class EncoderEvents : public ::testing::Test {
 protected:
  void SetUp() override { LoadEncoderLibraries(); }

  // Sizes of every file in the test folder (temporary outputs included).
  std::map<std::string, uintmax_t> Sizes() const {
    std::map<std::string, uintmax_t> sizes;
    for (const auto& e : fs::directory_iterator(folder_.Path())) sizes[e.path().filename().string()] = e.file_size();
    return sizes;
  }
  void ExpectNoEmptyFile() const {
    for (const auto& [name, size] : Sizes()) EXPECT_GT(size, 0u) << name << " is empty";
  }

  TTempFolder folder_;
};

TEST_F(EncoderEvents, ProgressComesAtTheIntervalAndReachesTheWholeDuration) {
  TEncoderHarness h;
  h.encoder.SetProgressInterval(100);
  const int task = h.AddTask(SmallClip(2.0), folder_.File("p.mp4"), kPaced);
  h.Run(1);
  ASSERT_TRUE(h.TerminateOf(task).Finished);
  const std::vector<TProgressRecord> p = h.Progress();
  ASSERT_GE(p.size(), 5u);
  for (size_t i = 1; i + 1 < p.size(); ++i) {
    EXPECT_GE(p[i].at_s - p[i - 1].at_s, 0.09) << "report " << i << " came too soon";
    EXPECT_GE(p[i].info.CurrentDuration, p[i - 1].info.CurrentDuration);
    EXPECT_EQ(p[i].info.FileIndex, 0);
  }
  const TProgressInfo& last = p.back().info;
  EXPECT_EQ(last.TaskIndex, task);
  EXPECT_EQ(last.FileIndex, -1);  // the task's final report
  EXPECT_NEAR(static_cast<double>(last.TotalDuration), 2000000, 50000);
  EXPECT_GE(last.CurrentDuration, last.TotalDuration - 40000);  // 100 %, within one frame
  EXPECT_EQ(last.FrameNumber, 50);
  EXPECT_GT(last.CurrentSize, 0);
  EXPECT_EQ(static_cast<uintmax_t>(last.CurrentSize), fs::file_size(folder_.File("p.mp4")));
}

TEST_F(EncoderEvents, ProgressIntervalHasAFloor) {
  TFFEncoder encoder;
  encoder.SetProgressInterval(50);
  EXPECT_EQ(encoder.ProgressInterval(), 100);
}

TEST_F(EncoderEvents, OnTerminateComesPerTaskInOrderThenForTheRun) {
  TEncoderHarness h;
  const std::string clip = SmallClip(0.4);
  for (int i = 0; i < 3; ++i) h.AddTask(clip, folder_.File("t" + std::to_string(i) + ".mp4"), kFast);
  h.Run(1);
  const std::vector<TTerminateInfo> t = h.Terminates();
  ASSERT_EQ(t.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(t[i].TaskIndex, i);
    EXPECT_TRUE(t[i].Finished);
    EXPECT_FALSE(t[i].Exception) << t[i].ExceptionMsg;
  }
  EXPECT_EQ(t[3].TaskIndex, -1);
  EXPECT_TRUE(t[3].Finished);
  EXPECT_TRUE(t[3].ExceptionMsg.empty());
  EXPECT_TRUE(h.encoder.Terminated());
  EXPECT_TRUE(h.encoder.Working());
}

TEST_F(EncoderEvents, StartWithoutThreadsRunsEverythingInsideTheCall) {
  TEncoderHarness h;
  const std::string clip = SmallClip(0.4);
  h.AddTask(clip, folder_.File("a.mp4"), kFast);
  h.AddTask(clip, folder_.File("b.mp4"), kFast);
  h.encoder.Start(0);
  const std::vector<TTerminateInfo> t = h.Terminates();
  ASSERT_EQ(t.size(), 3u);  // delivered before Start returned
  EXPECT_EQ(t[0].TaskIndex, 0);
  EXPECT_EQ(t[1].TaskIndex, 1);
  EXPECT_EQ(t[2].TaskIndex, -1);
  EXPECT_TRUE(fs::exists(folder_.File("a.mp4")));
  EXPECT_TRUE(fs::exists(folder_.File("b.mp4")));
}

// With no task at all (every file refused when added) the run still ends,
// so a caller that waits for the end of the run is not kept waiting forever.
TEST_F(EncoderEvents, StartOnAnEmptyListEndsTheRunAtOnce) {
  for (int threads : {0, 1, 2}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    TEncoderHarness h;
    h.encoder.Start(threads);
    ASSERT_TRUE(TEncoderHarness::WaitFor([&] { return h.encoder.Terminated(); }));
    h.encoder.WaitForEnd();
    const std::vector<TTerminateInfo> t = h.Terminates();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].TaskIndex, -1);
    EXPECT_TRUE(t[0].Finished);
    EXPECT_FALSE(t[0].Exception);
    h.encoder.ClearTasks();
    EXPECT_FALSE(h.encoder.Working());
  }
}

TEST_F(EncoderEvents, StopMidRunEndsPromptlyWithAClosedPartialOutput) {
  TEncoderHarness h;
  h.encoder.SetProgressInterval(100);
  const std::string clip = SmallClip(6.0);
  h.AddTask(clip, folder_.File("stopped.mp4"), kPaced);
  h.AddTask(clip, folder_.File("never.mp4"), kPaced);
  h.encoder.Start(1);
  ASSERT_TRUE(TEncoderHarness::WaitFor([&] {
    const auto p = h.Progress();
    return !p.empty() && p.back().info.CurrentDuration > 500000;
  }));
  h.encoder.Stop(true);
  h.encoder.WaitForEnd();
  const std::vector<TTerminateInfo> t = h.Terminates();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].TaskIndex, 0);
  EXPECT_FALSE(t[0].Finished);
  EXPECT_FALSE(t[0].Exception) << t[0].ExceptionMsg;
  EXPECT_EQ(t[1].TaskIndex, 1);  // never started, terminated all the same
  EXPECT_FALSE(t[1].Finished);
  EXPECT_EQ(t[2].TaskIndex, -1);
  // The stopped output is a whole file with what was converted, well short of the input.
  const TMediaFacts out = DecodeFacts(folder_.File("stopped.mp4"));
  ASSERT_TRUE(out.ok) << out.error;
  ASSERT_TRUE(out.First(AVMEDIA_TYPE_VIDEO));
  EXPECT_GT(out.First(AVMEDIA_TYPE_VIDEO)->Duration(), 0.3);
  EXPECT_LT(out.First(AVMEDIA_TYPE_VIDEO)->Duration(), 5.0);
  EXPECT_GT(out.duration_s, 0.3);  // the trailer was written: the container knows its length
  EXPECT_FALSE(fs::exists(folder_.File("never.mp4")));
  ExpectNoEmptyFile();
}

// A stop lands wherever the task is, often inside a write to the output:
// the task must end stopped, never failed, with a whole file.
TEST_F(EncoderEvents, StopsAtAnyMomentEndTheTaskStoppedNotFailed) {
  const std::string clip = SmallClip(3.0);
  for (int i = 0; i < 15; ++i) {
    SCOPED_TRACE("stop " + std::to_string(i));
    TEncoderHarness h;
    const std::string out = folder_.File("stop" + std::to_string(i) + ".mp4");
    h.AddTask(clip, out, kFast);
    h.encoder.Start(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(30 + 7 * i));
    h.encoder.Stop(true);
    h.encoder.WaitForEnd();
    const std::vector<TTerminateInfo> t = h.Terminates();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_FALSE(t[0].Exception) << t[0].ExceptionMsg;
    if (fs::exists(out)) {
      const TMediaFacts facts = DecodeFacts(out);
      EXPECT_TRUE(facts.ok) << facts.error;
    }
  }
  ExpectNoEmptyFile();
}

TEST_F(EncoderEvents, StopRightAfterStartLeavesNoEmptyFile) {
  TEncoderHarness h;
  h.AddTask(SmallClip(6.0), folder_.File("s.mp4"), kPaced);
  h.encoder.Start(1);
  h.encoder.Stop(true);
  h.encoder.WaitForEnd();
  EXPECT_FALSE(h.TerminateOf(0).Finished);
  EXPECT_EQ(h.Terminates().back().TaskIndex, -1);
  ExpectNoEmptyFile();
  // Either some pictures were written, or nothing is left (not a header alone).
  if (fs::exists(folder_.File("s.mp4"))) {
    const TMediaFacts out = DecodeFacts(folder_.File("s.mp4"));
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_GT(out.First(AVMEDIA_TYPE_VIDEO)->frames, 0);
  }
}

TEST_F(EncoderEvents, PauseHoldsTheOutputStillUntilResume) {
  TEncoderHarness h;
  h.encoder.SetProgressInterval(100);
  const int task = h.AddTask(SmallClip(3.0), folder_.File("paused.mp4"), kPaced);
  h.encoder.Start(1);
  ASSERT_TRUE(TEncoderHarness::WaitFor([&] {
    const auto p = h.Progress();
    return !p.empty() && p.back().info.CurrentDuration > 500000;
  }));
  h.encoder.Pause();
  EXPECT_TRUE(h.encoder.Paused());
  ASSERT_TRUE(TEncoderHarness::WaitFor([&] { return h.encoder.Task(task)->HeldAtGate(); }));
  const auto sizes = Sizes();
  const size_t reports = h.Progress().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(Sizes(), sizes);
  EXPECT_EQ(h.Progress().size(), reports);  // no events while paused
  h.encoder.Resume();
  EXPECT_FALSE(h.encoder.Paused());
  h.encoder.WaitForEnd();
  EXPECT_TRUE(h.TerminateOf(task).Finished);
  const TMediaFacts out = DecodeFacts(folder_.File("paused.mp4"));
  ASSERT_TRUE(out.ok);
  EXPECT_NEAR(out.First(AVMEDIA_TYPE_VIDEO)->Duration(), 3.0, 1.0 / 25 + 1e-6);
}

TEST_F(EncoderEvents, TwoTasksRunAtTheSameTimeWithTwoThreads) {
  TEncoderHarness h;
  h.encoder.SetProgressInterval(100);
  const std::string clip = SmallClip(1.5);
  h.AddTask(clip, folder_.File("x.mp4"), kPaced);
  h.AddTask(clip, folder_.File("y.mp4"), kPaced);
  h.Run(2);
  // Each task reported progress before the other one ended.
  double first_end = 1e9;
  std::map<int, double> first_report;
  for (const TProgressRecord& r : h.Progress()) {
    if (!first_report.count(r.info.TaskIndex)) first_report[r.info.TaskIndex] = r.at_s;
    if (r.info.FileIndex == -1) first_end = std::min(first_end, r.at_s);
  }
  ASSERT_EQ(first_report.size(), 2u);
  EXPECT_LT(first_report[0], first_end);
  EXPECT_LT(first_report[1], first_end);
  EXPECT_TRUE(h.TerminateOf(0).Finished);
  EXPECT_TRUE(h.TerminateOf(1).Finished);
  EXPECT_EQ(h.Terminates().back().TaskIndex, -1);
}

TEST_F(EncoderEvents, CallsWhileWorkingAreRefused) {
  TEncoderHarness h;
  const std::string clip = SmallClip(3.0);
  h.AddTask(clip, folder_.File("w.mp4"), kPaced);
  h.encoder.Start(1);
  try {
    h.encoder.ClearTasks();
    ADD_FAILURE() << "ClearTasks during the run";
  } catch (const EEngineError& e) {
    EXPECT_STREQ(e.what(), "Cannot ClearTasks while working.");
  }
  h.encoder.Stop(true);
  h.encoder.WaitForEnd();
  const struct {
    const char* word;
    std::function<void()> call;
  } calls[] = {
      {"AddTask", [&] { h.encoder.AddTask(clip, ""); }},
      {"AddInputFile", [&] { h.encoder.AddInputFile(0, clip, ""); }},
      {"SetOutputFile", [&] { h.encoder.SetOutputFile(0, folder_.File("v.mp4"), ""); }},
      {"RemoveTask", [&] { h.encoder.RemoveTask(0); }},
      {"Exchange", [&] { h.encoder.Exchange(0, 0); }},
      {"StartTask", [&] { h.encoder.Start(1); }},
  };
  for (const auto& c : calls) {
    try {
      c.call();
      ADD_FAILURE() << c.word << " after the run";
    } catch (const EEngineError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Cannot ") + c.word + " while working.");
    }
  }
  h.encoder.ClearTasks();  // the run has ended: allowed, and back to idle
  EXPECT_FALSE(h.encoder.Working());
  EXPECT_EQ(h.encoder.TasksCount(), 0);
  EXPECT_GE(h.encoder.AddTask(clip, ""), 0) << h.encoder.LastErrMsg();
}

TEST_F(EncoderEvents, OutputHookChangesPicturesAndSurvivesAnException) {
  TEncoderHarness h;
  int calls = 0;
  h.encoder.OnVideoOutputHook = [&](TCustomEncoder*, THookInfo* info) {
    if (++calls == 1) throw std::runtime_error("the handler failed");
    TBitmap* b = info->Bitmap;
    for (int y = 0; y < b->Height(); ++y) {
      uint8_t* row = b->ScanLine(y);
      std::fill(row, row + b->Width() * 3, 255);  // white
    }
    info->Update = true;
  };
  const std::string out = folder_.File("hooked.mp4");
  const int task = h.AddTask(SmallClip(0.4), out, std::string(kFast) + "\nVideoOutputHook=1");
  h.Run(1);
  ASSERT_TRUE(h.TerminateOf(task).Finished) << h.TerminateOf(task).ExceptionMsg;
  EXPECT_EQ(calls, 10);  // every picture, the one that failed included
  double y = 0, u = 0, v = 0;
  ASSERT_TRUE(MeanYuv(out, 0, &y, &u, &v));
  EXPECT_LT(y, 200);  // the first picture went out unchanged
  ASSERT_TRUE(MeanYuv(out, 5, &y, &u, &v));
  EXPECT_GT(y, 230);  // the later ones white
}

TEST_F(EncoderEvents, AudioHookSeesAndChangesTheSamples) {
  TEncoderHarness h;
  int64_t bytes = 0;
  h.encoder.OnAudioHook = [&](TCustomEncoder*, int32_t task, int64_t, uint8_t* samples, int32_t size, int32_t rate,
                              int32_t channels, AVSampleFormat) {
    EXPECT_EQ(task, 0);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(channels, 2);
    std::fill(samples, samples + size, 0);  // silence (zero for the float and the signed formats)
    bytes += size;
  };
  const std::string out = folder_.File("silent.wav");
  const int task = h.AddTask(MediaPath(Clip::WavPcm), out, "acodec=pcm_s16le\nAudioHook=1");
  h.Run(1);
  ASSERT_TRUE(h.TerminateOf(task).Finished) << h.TerminateOf(task).ExceptionMsg;
  EXPECT_EQ(bytes, 2 * 44100 * 2 * 2);  // two seconds of 16-bit stereo
  const TMediaFacts facts = DecodeFacts(out);
  ASSERT_TRUE(facts.ok);
  EXPECT_EQ(facts.First(AVMEDIA_TYPE_AUDIO)->peak, 0.0);
}

}  // namespace
}  // namespace vidmill

namespace vidmill {
namespace {

TEST_F(EncoderEvents, PreviewBitmapsComeAtMostEveryTenthOfASecond) {
  TEncoderHarness h;
  std::vector<std::pair<double, TPreviewInfo>> previews;
  h.encoder.SetPreviewBitmap(true);
  h.encoder.OnPreviewBitmap = [&](TCustomEncoder*, const TPreviewInfo& info) {
    EXPECT_EQ(info.Bitmap->Width(), 160);
    EXPECT_EQ(info.Bitmap->Height(), 120);
    previews.push_back({h.Seconds(), info});
  };
  const int task = h.AddTask(SmallClip(1.5), folder_.File("preview.mp4"), kPaced);
  h.Run(1);
  ASSERT_TRUE(h.TerminateOf(task).Finished) << h.TerminateOf(task).ExceptionMsg;
  ASSERT_GE(previews.size(), 5u);
  for (size_t i = 1; i < previews.size(); ++i) {
    EXPECT_GE(previews[i].first - previews[i - 1].first, 0.09);
    EXPECT_GT(previews[i].second.FrameNumber, previews[i - 1].second.FrameNumber);
    EXPECT_GT(previews[i].second.PTS, previews[i - 1].second.PTS);
  }
}

TEST_F(EncoderEvents, InputHookSeesEveryDecodedPictureInOrder) {
  TEncoderHarness h;
  std::vector<int> frames;
  h.encoder.OnVideoInputHook = [&](TCustomEncoder*, THookInfo* info) {
    frames.push_back(info->FrameNumber);
    TBitmap* b = info->Bitmap;
    for (int y = 0; y < b->Height(); ++y) std::fill(b->ScanLine(y), b->ScanLine(y) + b->Width() * 3, 0);  // black
    if (info->FrameNumber == 5) info->StopHook = true;  // no more calls after this one
  };
  const std::string out = folder_.File("input_hook.mp4");
  const int task = h.AddTask(SmallClip(0.4), out, std::string(kFast) + "\nVideoInputHook=1");
  h.Run(1);
  ASSERT_TRUE(h.TerminateOf(task).Finished) << h.TerminateOf(task).ExceptionMsg;
  EXPECT_EQ(frames, (std::vector<int>{1, 2, 3, 4, 5}));
  double y = 0, u = 0, v = 0;
  ASSERT_TRUE(MeanYuv(out, 2, &y, &u, &v));
  EXPECT_LT(y, 20);  // black
  ASSERT_TRUE(MeanYuv(out, 8, &y, &u, &v));
  EXPECT_GT(y, 40);  // the pattern again once the hook stopped
}

}  // namespace
}  // namespace vidmill
