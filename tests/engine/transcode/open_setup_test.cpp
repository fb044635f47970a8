// Opening inputs and outputs and setting up a run: headers our own probe
// reads back (stream copy and re-encode), filter chains, joined inputs, and
// bad input that must fail clearly without leaving files behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <cstring>

#include "core/entry_points.h"
#include "probe/ff_decode.h"
#include "transcode/custom_encoder.h"
#include "transcode/ffmpeg_exception.h"
#include "transcode/ffmpeg_task.h"
#include "transcode_test_util.h"

namespace vidmill {
namespace {

namespace fs = std::filesystem;
using testing::Clip;
using testing::MediaPath;
using testing::SizedClip;
using testing::TLogCapture;
using testing::TTempFolder;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class OpenAndSetup : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::LoadEncoderLibraries(); }

  // Writes a few packets so that the file is a real one: copied streams get
  // the input's first packets, encoded streams a few plain pictures or
  // silent audio frames. (The real packet loop is not part of this test.)
  static void WriteSomePackets(TCustomFFmpeg& task) {
    AVPacket* pkt = ff::av_packet_alloc();
    AVFrame* frame = ff::av_frame_alloc();
    AVFormatContext* oc = task.OutputContext(0);
    for (const auto& ost : task.OutputStreams(0)) {
      AVCodecContext* enc = ost->enc.get();
      if (ost->stream_copy || enc->codec_type == AVMEDIA_TYPE_SUBTITLE) continue;
      for (int n = 0; n <= 4; ++n) {
        AVFrame* send = nullptr;
        if (n < 4) {
          ff::av_frame_unref(frame);
          if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
            frame->format = enc->pix_fmt;
            frame->width = enc->width;
            frame->height = enc->height;
            frame->pts = n;
          } else {
            frame->format = enc->sample_fmt;
            frame->nb_samples = enc->frame_size > 0 ? enc->frame_size : 1024;
            frame->sample_rate = enc->sample_rate;
            ff::av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
            frame->pts = static_cast<int64_t>(n) * frame->nb_samples;
          }
          ASSERT_EQ(ff::av_frame_get_buffer(frame, 0), 0);
          if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
            const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(enc->pix_fmt);
            for (int p = 0; p < 4 && frame->data[p]; ++p) {
              const int rows = p == 1 || p == 2 ? -((-frame->height) >> d->log2_chroma_h) : frame->height;
              std::memset(frame->data[p], 128, static_cast<size_t>(frame->linesize[p]) * rows);
            }
          } else {
            ff::av_samples_set_silence(frame->data, 0, frame->nb_samples, frame->ch_layout.nb_channels,
                                       static_cast<AVSampleFormat>(frame->format));
          }
          send = frame;
        }
        ASSERT_GE(ff::avcodec_send_frame(enc, send), 0);
        while (ff::avcodec_receive_packet(enc, pkt) == 0) {
          pkt->stream_index = ost->index;
          ff::av_packet_rescale_ts(pkt, enc->time_base, ost->st->time_base);
          ASSERT_GE(ff::av_interleaved_write_frame(oc, pkt), 0);
        }
      }
    }
    AVFormatContext* ic = task.InputContext(0);
    for (int read = 0; read < 40 && ff::av_read_frame(ic, pkt) >= 0; ++read) {
      for (const auto& ost : task.OutputStreams(0)) {
        const TAVInputStream& ist = task.InputStreams()[ost->source_index];
        if (!ost->stream_copy || ist.file_index != 0 || ist.index != pkt->stream_index) continue;
        AVPacket* out = ff::av_packet_clone(pkt);
        out->stream_index = ost->index;
        ff::av_packet_rescale_ts(out, ist.st->time_base, ost->st->time_base);
        out->pos = -1;
        EXPECT_GE(ff::av_interleaved_write_frame(oc, out), 0);
        ff::av_packet_free(&out);
      }
      ff::av_packet_unref(pkt);
    }
    ff::av_frame_free(&frame);
    ff::av_packet_free(&pkt);
  }

  // Ends the run: trailers, then the outputs go into place.
  static void Finish(TCustomFFmpeg& task) {
    WriteSomePackets(task);
    AVFormatContext* last = nullptr;
    for (int i = 0; i < task.nb_output_files(); ++i) {
      AVFormatContext* oc = task.OutputContext(i);
      if (oc == last) continue;
      last = oc;
      ASSERT_GE(ff::av_write_trailer(oc), 0);
    }
    ASSERT_TRUE(task.CommitOutputs()) << task.LastErrMsg();
  }

  TTempFolder dir;
};

struct ReencodeCase {
  const char* file;
  const char* vcodec;
  const char* acodec;
  const char* frame_size;
  int sample_rate;
  int width, height;
  const char* probe_vcodec;
  const char* probe_acodec;
};

TEST_F(OpenAndSetup, ReencodedHeaderReadsBackWithTheRequestedStreams) {
  const ReencodeCase cases[] = {
      {"a.mkv", "mpeg4", "aac", "160x120", 22050, 160, 120, "mpeg4", "aac"},
      {"b.mp4", "libx264", "aac", "", 44100, 320, 240, "h264", "aac"},
      {"c.avi", "mpeg4", "mp2", "176x144", 48000, 176, 144, "mpeg4", "mp2"},
  };
  for (const ReencodeCase& c : cases) {
    TFFmpeg task(20);
    ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr)) << task.LastErrMsg();
    TOutputOptions out;
    out.VideoCodec = c.vcodec;
    out.AudioCodec = c.acodec;
    out.FrameSize = c.frame_size;
    out.AudioSampleRate = c.sample_rate;
    const std::string path = dir.File(c.file);
    ASSERT_TRUE(task.SetOutput(path, &out)) << task.LastErrMsg();
    EXPECT_FALSE(fs::exists(path)) << "written under a temporary name until finished";
    ASSERT_NO_THROW(task.RunSetup()) << c.file;
    Finish(task);
    task.CleanUp();

    TFFDecoder probe;
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg() << " size " << fs::file_size(path);
    ASSERT_EQ(probe.VideoStreamCount(), 1) << c.file;
    ASSERT_EQ(probe.AudioStreamCount(), 1) << c.file;
    const TVideoStreamInfo v = probe.FirstVideoStreamInfo();
    const TAudioStreamInfo a = probe.FirstAudioStreamInfo();
    EXPECT_EQ(v.CodecName.rfind(c.probe_vcodec, 0), 0u) << c.file << ": " << v.CodecName;
    EXPECT_EQ(a.CodecName.rfind(c.probe_acodec, 0), 0u) << c.file << ": " << a.CodecName;
    EXPECT_EQ(v.Width, c.width) << c.file;
    EXPECT_EQ(v.Height, c.height) << c.file;
    EXPECT_EQ(a.SampleRate, c.sample_rate) << c.file;
    EXPECT_EQ(a.Channels, 2) << c.file;
    EXPECT_EQ(dir.Entries().count(c.file), 1u);
  }
  EXPECT_EQ(dir.Entries().size(), 3u) << "no temporary file left";
}

TEST_F(OpenAndSetup, StreamCopyHeaderKeepsTheInputStreams) {
  TFFmpeg task(20);
  ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
  TOutputOptions out;
  out.ExtOptions = "vcodec=copy\r\nacodec=copy";
  const std::string path = dir.File("copy.mkv");
  ASSERT_TRUE(task.SetOutput(path, &out)) << task.LastErrMsg();
  ASSERT_NO_THROW(task.RunSetup());
  EXPECT_FALSE(task.OutputStreams(0)[0]->encoding_needed);
  EXPECT_FALSE(task.InputStreams()[0].decoding_needed);
  Finish(task);
  task.CleanUp();
  TFFDecoder probe;
  ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg() << " size " << fs::file_size(path);
  const TVideoStreamInfo v = probe.FirstVideoStreamInfo();
  const TAudioStreamInfo a = probe.FirstAudioStreamInfo();
  EXPECT_EQ(v.CodecName.rfind("h264", 0), 0u) << v.CodecName;
  EXPECT_EQ(v.Width, 320);
  EXPECT_EQ(v.Height, 240);
  EXPECT_EQ(a.CodecName.rfind("aac", 0), 0u) << a.CodecName;
  EXPECT_EQ(a.SampleRate, 44100);
  EXPECT_EQ(a.Channels, 2);
}

TEST_F(OpenAndSetup, SubtitlesChaptersAndMetadataReachTheOutput) {
  TFFmpeg task(20);
  ASSERT_TRUE(task.AddInput(MediaPath(Clip::MkvSubsChapters), nullptr)) << task.LastErrMsg();
  TOutputOptions out;
  out.VideoCodec = "mpeg4";
  out.AudioCodec = "aac";
  const std::string path = dir.File("subs.mkv");
  ASSERT_TRUE(task.SetOutput(path, &out)) << task.LastErrMsg();
  ASSERT_EQ(task.OutputStreams(0).size(), 3u);
  ASSERT_NO_THROW(task.RunSetup());
  EXPECT_EQ(task.OutputContext(0)->nb_chapters, task.InputContext(0)->nb_chapters);
  EXPECT_GT(task.OutputContext(0)->nb_chapters, 0u);
  Finish(task);
  task.CleanUp();
  TFFDecoder probe;
  ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg();
  EXPECT_EQ(probe.SubtitleStreamCount(), 1);
  EXPECT_EQ(probe.VideoStreamCount(), 1);
  EXPECT_EQ(probe.AudioStreamCount(), 1);
}

TEST_F(OpenAndSetup, OwnAndLibraryFiltersWorkInOneChain) {
  TFFmpeg task(20);
  ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
  TOutputOptions out;
  out.VideoCodec = "mpeg4";
  out.DisableAudio = true;
  out.VideoFilters = "nativeeq=20:10,nativehue=10:20,crop=240:180:40:30,pad=256:192:8:6,scale=128:96";
  const std::string path = dir.File("chain.avi");
  ASSERT_TRUE(task.SetOutput(path, &out)) << task.LastErrMsg();
  ASSERT_NO_THROW(task.RunSetup());
  const TAVOutputStream& v = *task.OutputStreams(0)[0];
  ASSERT_NE(v.filter, nullptr);
  EXPECT_EQ(v.enc->width, 128);
  EXPECT_EQ(v.enc->height, 96);
  Finish(task);
  task.CleanUp();
  TFFDecoder probe;
  ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg() << " size " << fs::file_size(path);
  EXPECT_EQ(probe.FirstVideoStreamInfo().Width, 128);
  EXPECT_EQ(probe.FirstVideoStreamInfo().Height, 96);
}

TEST_F(OpenAndSetup, BadFilterChainFailsTheRunAndLeavesNoFile) {
  TLogCapture log;
  TFFmpeg task(20);
  ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
  TOutputOptions out;
  out.VideoCodec = "mpeg4";
  out.VideoFilters = "nosuchfilter=1";
  ASSERT_TRUE(task.SetOutput(dir.File("bad.mkv"), &out));
  try {
    task.RunSetup();
    FAIL() << "set-up succeeded";
  } catch (const FFmpegException& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Error opening filters: ", 0), 0u) << e.what();
  }
  task.CleanUp();
  EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(OpenAndSetup, EncoderThatRejectsItsParametersFailsAfterTheMappingIsLogged) {
  TLogCapture log;
  TFFmpeg task(20);
  ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
  TOutputOptions out;
  out.VideoCodec = "mpeg1video";
  out.DisableAudio = true;
  out.ExtOptions = "force_fps=1\r\nr=12";  // MPEG-1 has no 12 fps
  ASSERT_TRUE(task.SetOutput(dir.File("reject.mpg"), &out)) << task.LastErrMsg();
  std::string message;
  try {
    task.RunSetup();
  } catch (const FFmpegException& e) {
    message = e.what();
  }
  EXPECT_EQ(message,
            "Error while opening encoder for output stream #0.0 (Video) - maybe incorrect parameters such as "
            "bit_rate, rate, width or height. Please check error log message to find out more detail information.");
  EXPECT_TRUE(log.Contains("Stream mapping:", llVerbose));
  EXPECT_TRUE(log.Contains("  Stream #0.0 -> #0.0 (Video)", llVerbose));
  EXPECT_TRUE(log.Contains(message, llError));
  task.CleanUp();
  EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(OpenAndSetup, StreamCopyRefusesWhatNeedsDecodedFrames) {
  struct Case {
    const char* lines;
    uint8_t post_hooks;
    const char* text;
  };
  const Case cases[] = {
      {"acodec=copy\r\nvol=512\r\nvn=1", 0, "-acodec copy and -vol are incompatible (frames are not decoded)"},
      {"vcodec=copy\r\nan=1", phPreview, "-vcodec copy and PostHooks are incompatible (frames are not decoded)"},
  };
  int n = 0;
  for (const Case& c : cases) {
    TFFmpeg task(20);
    ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
    task.PostHooks = c.post_hooks;
    TOutputOptions out;
    out.ExtOptions = c.lines;
    ASSERT_TRUE(task.SetOutput(dir.File("copy" + std::to_string(n++) + ".mkv"), &out)) << task.LastErrMsg();
    std::string message;
    try {
      task.RunSetup();
    } catch (const FFmpegException& e) {
      message = e.what();
    }
    EXPECT_EQ(message, c.text);
    task.CleanUp();
  }
  EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(OpenAndSetup, JoinedInputsOfDifferentSizesShareOneOutput) {
  const std::vector<std::string> clips = {SizedClip(320, 240, 1.0), SizedClip(176, 144, 1.0), SizedClip(352, 288, 0.5)};
  for (int inputs : {2, 3}) {
    TFFmpeg task(20);
    int64_t sum = 0;
    for (int i = 0; i < inputs; ++i) {
      ASSERT_TRUE(task.AddInput(clips[i], nullptr)) << task.LastErrMsg();
      sum += task.InputContext(i)->duration;
    }
    TOutputOptions out;
    out.Join = true;
    out.VideoCodec = "mpeg4";
    out.AudioCodec = "aac";
    out.FrameSize = "320x240";
    const std::string path = dir.File("joined" + std::to_string(inputs) + ".mp4");
    ASSERT_TRUE(task.SetOutput(path, &out)) << task.LastErrMsg();
    EXPECT_TRUE(task.JoinMode());
    ASSERT_EQ(task.nb_output_files(), inputs);
    EXPECT_EQ(task.TotalOutputDuration(), sum);
    for (int i = 1; i < inputs; ++i) EXPECT_EQ(task.OutputContext(i), task.OutputContext(0));
    EXPECT_EQ(task.OutputContext(0)->nb_streams, 2u);
    // No further input or output once joined.
    EXPECT_FALSE(task.AddInput(clips[0], nullptr));
    EXPECT_FALSE(task.SetOutput(dir.File("second.mkv"), nullptr));
    EXPECT_EQ(task.LastErrMsg(), "Cannot join more than one output file.");

    ASSERT_NO_THROW(task.RunSetup());
    for (int i = 0; i < inputs; ++i) {
      for (const auto& ost : task.OutputStreams(i)) {
        const TAVInputStream& ist = task.InputStreams()[ost->source_index];
        EXPECT_EQ(ist.file_index, i) << "slot " << i << " carries input " << i;
        EXPECT_TRUE(ist.decoding_needed);
        if (ost->enc->codec_type == AVMEDIA_TYPE_VIDEO) {
          EXPECT_EQ(ost->video_resample, ist.dec->width != 320) << "slot " << i;
        }
      }
    }
    Finish(task);
    task.CleanUp();
    TFFDecoder probe;
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg() << " size " << fs::file_size(path);
    EXPECT_EQ(probe.StreamCount(), 2);
    EXPECT_EQ(probe.FirstVideoStreamInfo().Width, 320);
  }
}

TEST_F(OpenAndSetup, JoinedOutputMustBeTheOnlyOutput) {
  TFFmpeg task(20);
  ASSERT_TRUE(task.AddInput(SizedClip(320, 240, 1.0), nullptr));
  ASSERT_TRUE(task.AddInput(SizedClip(176, 144, 1.0), nullptr));
  ASSERT_TRUE(task.SetOutput(dir.File("plain.mkv"), nullptr)) << task.LastErrMsg();
  TOutputOptions out;
  out.Join = true;
  EXPECT_FALSE(task.SetOutput(dir.File("joined.mkv"), &out));
  EXPECT_EQ(task.LastErrMsg(), "A joined output must be the only output file of its task.");
  task.CleanUp();
  EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(OpenAndSetup, TaskCapacityLimitsInputsAndOutputsWithLoggedTexts) {
  TLogCapture log;
  TFFEncoder encoder;
  encoder.SetCustomMaxFiles(1);
  const std::string clip = SizedClip(176, 144, 0.5);
  const int task = encoder.AddTask(clip, static_cast<TInputOptions*>(nullptr));
  ASSERT_EQ(task, 0) << encoder.LastErrMsg();
  EXPECT_FALSE(encoder.AddInputFile(task, clip, static_cast<TInputOptions*>(nullptr)));
  EXPECT_EQ(encoder.LastErrMsg(), "max input files 1 reached");
  EXPECT_TRUE(log.Contains("max input files 1 reached", llError));
  ASSERT_TRUE(encoder.SetOutputFile(task, dir.File("one.mkv"), static_cast<TOutputOptions*>(nullptr)))
      << encoder.LastErrMsg();
  EXPECT_FALSE(encoder.SetOutputFile(task, dir.File("two.mkv"), static_cast<TOutputOptions*>(nullptr)));
  EXPECT_EQ(encoder.LastErrMsg(), "max output files 1 reached");
  EXPECT_TRUE(log.Contains("max output files 1 reached", llError));
  EXPECT_EQ(encoder.Task(task)->nb_input_files(), 1);
  EXPECT_EQ(encoder.Task(task)->nb_output_files(), 1);
  encoder.ClearTasks();
  EXPECT_TRUE(dir.Entries().empty());  // the unstarted task's temporary output goes with it
}

struct BadOutputCase {
  std::string file;
  std::string lines;
  std::string frame_size;
  std::string vcodec;
  std::string text;
};

TEST_F(OpenAndSetup, BadOutputsFailClearlyAndLeaveNothingBehind) {
  const std::vector<BadOutputCase> cases = {
      {dir.File("a.mkv"), "", "", "nosuchenc", "new_video_stream fail: Unknown encoder 'nosuchenc'"},
      {dir.File("b.mkv"), "acodec=mpeg4", "", "mpeg4", "new_audio_stream fail: Invalid encoder type 'mpeg4'"},
      {dir.File("c.mkv"), "", "0x0", "mpeg4", "Incorrect frame size"},
      {dir.File("d.mkv"), "", "-320x240", "mpeg4", "Incorrect frame size"},
      {dir.File("e.mkv"), "", "321x240", "mpeg4",
       "new_video_stream fail: Frame size 321x240 is not possible for pixel format yuv420p: width must be a "
       "multiple of 2 and height of 2"},
      {dir.File("f.mkv"), "", "320x239", "libx264",
       "new_video_stream fail: Frame size 320x239 is not possible for pixel format yuv420p: width must be a "
       "multiple of 2 and height of 2"},
      {dir.File("missing/g.mkv"), "", "", "mpeg4", dir.File("missing/g.mkv") + ": No such file or directory"},
      {"/sys/vidmill-test-out.mkv", "", "", "mpeg4", "/sys/vidmill-test-out.mkv: Permission denied"},
      {dir.File("h.nosuchext"), "", "", "mpeg4",
       "Unable to find a suitable output format for '" + dir.File("h.nosuchext") + "'"},
      {dir.File("i.mkv"), "f=nosuchmuxer", "", "mpeg4",
       "Requested output format 'nosuchmuxer' is not a suitable output format"},
  };
  for (const BadOutputCase& c : cases) {
    TLogCapture log;
    TFFmpeg task(20);
    ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
    TOutputOptions out;
    out.ExtOptions = c.lines;
    out.FrameSize = c.frame_size;
    out.VideoCodec = c.vcodec;
    EXPECT_FALSE(task.SetOutput(c.file, &out)) << c.file;
    EXPECT_EQ(task.LastErrMsg(), c.text) << c.file;
    EXPECT_TRUE(log.Contains(c.text, llError)) << c.file;
    EXPECT_EQ(task.nb_output_files(), 0);
    EXPECT_EQ(task.OutputOptions(0)->VideoCodec, "") << "the slot is reset";
    EXPECT_TRUE(dir.Entries().empty()) << c.file;
  }
  EXPECT_FALSE(fs::exists("/sys/vidmill-test-out.mkv"));
}

TEST_F(OpenAndSetup, OutputFolderWithoutWritePermissionIsRefused) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into any folder (the /sys case covers refusal)";
  const fs::path locked = dir.Path() / "locked";
  fs::create_directory(locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  TFFmpeg task(20);
  ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
  const std::string path = (locked / "out.mkv").string();
  EXPECT_FALSE(task.SetOutput(path, nullptr));
  EXPECT_EQ(task.LastErrMsg(), path + ": Permission denied");
}

TEST_F(OpenAndSetup, AnOutputThatIsAnInputIsRefusedAndTheSourceKept) {
  const std::string src = dir.File("src.mp4");
  fs::copy_file(MediaPath(Clip::Mp4H264Aac), src);
  fs::create_hard_link(src, dir.File("link.mp4"));
  fs::create_directory(dir.Path() / "sub");
  const std::string before = ReadAll(src);
  const std::set<std::string> entries = dir.Entries();
  for (const std::string& target : {src, dir.File("link.mp4"), dir.File("sub/../src.mp4")}) {
    TFFmpeg task(20);
    ASSERT_TRUE(task.AddInput(src, nullptr));
    EXPECT_FALSE(task.SetOutput(target, nullptr)) << target;
    EXPECT_EQ(task.LastErrMsg(), "Output file '" + target + "' is an input of this task: refusing to overwrite it");
  }
  // The same through the task list: another task's input.
  TFFmpegList list;
  auto a = std::make_unique<TFFmpeg>(20);
  ASSERT_TRUE(a->AddInput(src, nullptr));
  list.Add(std::move(a));
  auto b = std::make_unique<TFFmpeg>(20);
  ASSERT_TRUE(b->AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
  TFFmpeg* bp = b.get();
  list.Add(std::move(b));
  EXPECT_FALSE(bp->SetOutput(dir.File("link.mp4"), nullptr));
  EXPECT_EQ(bp->LastErrMsg(), "Output file '" + dir.File("link.mp4") + "' is an input of another task: refusing to overwrite it");
  EXPECT_TRUE(list.IsInputOfAnyTask(dir.File("link.mp4")));
  list.Clear();
  EXPECT_EQ(ReadAll(src), before);
  EXPECT_EQ(dir.Entries(), entries);
}

// Two tasks of one list writing the same file: the later one would replace
// the earlier one's result when it is renamed into place.
TEST_F(OpenAndSetup, AnOutputOfAnotherTaskIsRefused) {
  fs::create_directory(dir.Path() / "sub");
  TFFmpegList list;
  for (int i = 0; i < 2; ++i) {
    auto task = std::make_unique<TFFmpeg>(20);
    ASSERT_TRUE(task->AddInput(MediaPath(Clip::WavPcm), nullptr)) << task->LastErrMsg();
    list.Add(std::move(task));
  }
  ASSERT_TRUE(list.Items(0)->SetOutput(dir.File("same.wav"), nullptr)) << list.Items(0)->LastErrMsg();
  for (const std::string& target : {dir.File("same.wav"), dir.File("sub/../same.wav")}) {
    EXPECT_FALSE(list.Items(1)->SetOutput(target, nullptr)) << target;
    EXPECT_EQ(list.Items(1)->LastErrMsg(), "Output file '" + target + "' is already an output of another task");
  }
  EXPECT_TRUE(list.Items(1)->SetOutput(dir.File("other.wav"), nullptr)) << list.Items(1)->LastErrMsg();
  EXPECT_EQ(list.Items(1)->nb_output_files(), 1);
  list.Clear();
  EXPECT_TRUE(dir.Entries().count("sub"));
  EXPECT_EQ(dir.Entries().size(), 1u);  // only the folder: no output was committed
}

TEST_F(OpenAndSetup, StopAllTerminatesTasksThatNeverStarted) {
  TFFmpegList list;
  std::vector<int> terminated;
  for (int i = 0; i < 2; ++i) {
    auto task = std::make_unique<TFFmpeg>(20);
    ASSERT_TRUE(task->AddInput(MediaPath(Clip::WavPcm), nullptr)) << task->LastErrMsg();
    ASSERT_TRUE(task->SetOutput(dir.File("out" + std::to_string(i) + ".wav"), nullptr)) << task->LastErrMsg();
    task->OnTerminate = [&terminated, i](TCustomFFmpeg*) { terminated.push_back(i); };
    list.Add(std::move(task));
  }
  list.PauseAll();  // no worker yet: nothing to hold
  list.ResumeAll();
  list.StopAll(true);
  EXPECT_EQ(terminated, (std::vector<int>{0, 1}));
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(list.Items(i)->Terminated());
    EXPECT_FALSE(list.Items(i)->Finished());
    EXPECT_FALSE(list.Items(i)->Converting());
  }
  list.StopAll(true);  // a terminated task is not terminated again
  EXPECT_EQ(terminated.size(), 2u);
  EXPECT_TRUE(dir.Entries().empty());  // their unwritten outputs went with them
}

TEST_F(OpenAndSetup, BrokenInputsAreRefusedWithTheirReason) {
  TTempFolder other;
  const std::string missing = other.File("missing.mp4");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {missing, missing + ": No such file or directory"},
      {MediaPath(Clip::ZeroBytes), ""},
      {MediaPath(Clip::Truncated), ""},
      {MediaPath(Clip::RandomBytes), ""},
  };
  for (const auto& [file, text] : cases) {
    TLogCapture log;
    TFFmpeg task(20);
    EXPECT_FALSE(task.AddInput(file, nullptr)) << file;
    if (!text.empty()) {
      EXPECT_EQ(task.LastErrMsg(), text);
    }
    EXPECT_EQ(task.LastErrMsg().rfind(file, 0), 0u) << task.LastErrMsg();
    EXPECT_TRUE(log.Contains(task.LastErrMsg())) << file;
    EXPECT_EQ(task.nb_input_files(), 0);
  }
  EXPECT_TRUE(other.Entries().empty());
}

TEST_F(OpenAndSetup, OutputIsWrittenUnderATemporaryNameUntilCommitted) {
  TFFmpeg task(20);
  ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
  const std::string path = dir.File("out.mkv");
  std::ofstream(path) << "an older file";
  ASSERT_TRUE(task.SetOutput(path, nullptr)) << task.LastErrMsg();
  const std::string temp = task.OutputTempName(0);
  EXPECT_EQ(fs::path(temp).parent_path(), dir.Path());
  EXPECT_TRUE(fs::exists(temp));
  EXPECT_EQ(ReadAll(path), "an older file");
  ASSERT_NO_THROW(task.RunSetup());
  Finish(task);
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_NE(ReadAll(path), "an older file");
  task.CleanUp();
  EXPECT_EQ(dir.Entries(), std::set<std::string>{"out.mkv"});

  // Without a commit the temporary file goes and the older file stays.
  TFFmpeg failed(20);
  ASSERT_TRUE(failed.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
  ASSERT_TRUE(failed.SetOutput(dir.File("never.mkv"), nullptr));
  ASSERT_NO_THROW(failed.RunSetup());
  failed.CleanUp();
  EXPECT_EQ(dir.Entries(), std::set<std::string>{"out.mkv"});
}

TEST_F(OpenAndSetup, PassLogsGetUniqueNamesInTheTemporaryFolder) {
  std::vector<std::string> names;
  for (int i = 0; i < 2; ++i) {
    TFFmpeg task(20);
    ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
    TOutputOptions out;
    out.VideoCodec = "mpeg4";
    out.DisableAudio = true;
    out.ExtOptions = "pass=1";
    ASSERT_TRUE(task.SetOutput(dir.File("pass" + std::to_string(i) + ".mkv"), &out));
    ASSERT_NO_THROW(task.RunSetup());
    const std::string log_name = task.OutputStreams(0)[0]->logfile_name;
    EXPECT_EQ(fs::path(log_name).parent_path(), fs::temp_directory_path());
    EXPECT_TRUE(fs::exists(log_name));
    names.push_back(log_name);
    task.CleanUp();
    fs::remove(log_name);
  }
  EXPECT_NE(names[0], names[1]);

  TFFmpeg task(20);
  ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
  TOutputOptions out;
  out.VideoCodec = "mpeg4";
  out.DisableAudio = true;
  out.ExtOptions = "pass=2\r\npasslogfile=" + dir.File("nolog");
  ASSERT_TRUE(task.SetOutput(dir.File("pass2.mkv"), &out));
  std::string message;
  try {
    task.RunSetup();
  } catch (const FFmpegException& e) {
    message = e.what();
  }
  EXPECT_EQ(message, "Cannot read file: Error reading log file \"" + dir.File("nolog") + "-0.log\" for pass-2 encoding");
}

TEST_F(OpenAndSetup, OpeningThatWaitsTooLongIsAbandoned) {
  const std::string fifo = dir.File("never-written.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  {
    TLogCapture log;
    TFFmpeg task(20);
    task.ReadTimeout = 200;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(task.AddInput(fifo, nullptr));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(log.Contains("connecting/reading/writing timeout", llInfo));
    EXPECT_EQ(task.LastErrMsg().rfind(fifo + ": ", 0), 0u) << task.LastErrMsg();
  }
  {
    TLogCapture log;
    TFFmpeg task(20);
    task.ReadTimeout = 0;  // never times out: only a cancel ends the wait
    std::thread canceller([&task] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      task.CancelIO();
    });
    EXPECT_FALSE(task.AddInput(fifo, nullptr));
    canceller.join();
    EXPECT_TRUE(log.Contains("connecting/reading/writing canceled", llInfo));
  }
}

TEST_F(OpenAndSetup, BeforeFindStreamInfoSeesTheOpenedInput) {
  TFFmpeg task(20);
  AVFormatContext* seen = nullptr;
  task.OnBeforeFindStreamInfo = [&seen](TCustomFFmpeg*, AVFormatContext* ctx) { seen = ctx; };
  ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
  EXPECT_EQ(seen, task.InputContext(0));
}

TEST_F(OpenAndSetup, EncoderListsDecideRateAndSampleRate) {
  TLogCapture log;
  TFFmpeg task(20);
  ASSERT_TRUE(task.AddInput(MediaPath(Clip::Mp4H264Aac), nullptr));
  TOutputOptions out;
  out.VideoCodec = "mpeg1video";
  out.AudioCodec = "ac3";
  out.AudioSampleRate = 22000;
  out.FrameRate = "20";  // not in the encoder's list: the nearest listed rate
  ASSERT_TRUE(task.SetOutput(dir.File("lists.mkv"), &out)) << task.LastErrMsg();
  const auto& streams = task.OutputStreams(0);
  EXPECT_EQ(av_cmp_q(streams[0]->enc->framerate, AVRational{24000, 1001}), 0);
  EXPECT_EQ(streams[1]->enc->sample_rate, 32000);
  EXPECT_TRUE(log.Contains("Requested sampling rate unsupported using closest supported (32000)", llWarning));
}

TEST_F(OpenAndSetup, AudioOnlyInputGivesNoVideoStream) {
  TFFmpeg task(20);
  ASSERT_TRUE(task.AddInput(MediaPath(Clip::WavPcm), nullptr));
  ASSERT_TRUE(task.SetOutput(dir.File("audio.mp4"), nullptr)) << task.LastErrMsg();
  ASSERT_EQ(task.OutputStreams(0).size(), 1u);
  EXPECT_EQ(task.OutputStreams(0)[0]->enc->codec_type, AVMEDIA_TYPE_AUDIO);
}

TEST_F(OpenAndSetup, StatisticsFileIsOpenedWhenAsked) {
  TFFmpeg task(20);
  EXPECT_EQ(task.VideoStatsFile(), nullptr);
  task.SetExtOption("vstats_file", dir.File("stats.log"));
  EXPECT_NE(task.VideoStatsFile(), nullptr);
  EXPECT_TRUE(fs::exists(dir.File("stats.log")));
  TFFmpeg bad(20);
  bad.SetExtOption("vstats_file", dir.File("missing/stats.log"));
  EXPECT_THROW(
      {
        try {
          bad.VideoStatsFile();
        } catch (const FFmpegException& e) {
          EXPECT_EQ(std::string(e.what()), "fopen fail: " + dir.File("missing/stats.log"));
          throw;
        }
      },
      FFmpegException);
}

}  // namespace
}  // namespace vidmill
