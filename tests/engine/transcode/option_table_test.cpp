// The option table: accepted values and their effect on the option state,
// refused values with their exact texts, the generic option store, presets
// and target presets.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "core/entry_points.h"
#include "transcode/builtin_presets.h"
#include "transcode/custom_ffmpeg.h"
#include "transcode/ffmpeg_exception.h"
#include "transcode_test_util.h"

namespace vidmill {
namespace {

using testing::TLogCapture;
using testing::TTempFolder;

class OptionTable : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::LoadEncoderLibraries(); }
  std::string ErrorOf(const std::string& name, const std::string& value) {
    try {
      task.SetExtOption(name, value);
    } catch (const FFmpegException& e) {
      return e.what();
    }
    return "(accepted)";
  }
  TCustomFFmpeg task{20};
};

struct StateCase {
  const char* name;
  const char* value;
  std::function<bool(const TOptionState&)> check;
};

TEST_F(OptionTable, AcceptedValuesChangeTheOptionState) {
  std::string matrix;
  for (int i = 1; i <= 64; ++i) matrix += std::to_string(i) + (i < 64 ? "," : "");
  const std::vector<StateCase> cases = {
      {"r", "30000/1001", [](auto& o) { return o.frame_rate.num == 30000 && o.frame_rate.den == 1001; }},
      {"r", "pal", [](auto& o) { return o.frame_rate.num == 25 && o.frame_rate.den == 1; }},
      {"s", "640x480", [](auto& o) { return o.frame_width == 640 && o.frame_height == 480; }},
      {"s", "qcif", [](auto& o) { return o.frame_width == 176 && o.frame_height == 144; }},
      {"aspect", "16:9", [](auto& o) { return std::fabs(o.frame_aspect_ratio - 16.0f / 9) < 1e-5; }},
      {"aspect", "1.5", [](auto& o) { return o.frame_aspect_ratio == 1.5f; }},
      {"pix_fmt", "yuv422p", [](auto& o) { return o.frame_pix_fmt == AV_PIX_FMT_YUV422P; }},
      {"qscale", "4.5", [](auto& o) { return o.video_qscale == 4.5f; }},
      {"pass", "2", [](auto& o) { return o.do_pass == 2; }},
      {"ar", "22050", [](auto& o) { return o.audio_sample_rate == 22050; }},
      {"ar", "0", [](auto& o) { return o.audio_sample_rate == 44100; }},
      {"ac", "-1", [](auto& o) { return o.audio_channels == 2; }},
      {"ac", "6", [](auto& o) { return o.audio_channels == 6; }},
      {"t", "00:00:10.5", [](auto& o) { return o.recording_time == 10500000; }},
      {"ss", "5", [](auto& o) { return o.start_time == 5000000; }},
      {"itsoffset", "-1.25", [](auto& o) { return o.input_ts_offset == -1250000; }},
      {"itsscale", "1:2.5", [](auto& o) { return o.input_ts_scale.size() == 2 && o.input_ts_scale[1] == 2.5; }},
      {"metadata", "title=a=b", [](auto& o) { return o.metadata.size() == 1 && o.metadata[0].second == "a=b"; }},
      {"vtag", "avc1", [](auto& o) { return o.video_codec_tag == MKTAG('a', 'v', 'c', '1'); }},
      {"atag", "85", [](auto& o) { return o.audio_codec_tag == 85; }},
      {"streamid", "1:33", [](auto& o) { return o.streamid_map.size() == 2 && o.streamid_map[1] == 33; }},
      {"intra_matrix", matrix.c_str(), [](auto& o) { return o.intra_matrix.size() == 64 && o.intra_matrix[63] == 64; }},
      {"vn", "", [](auto& o) { return o.video_disable; }},
      {"vn", "0", [](auto& o) { return !o.video_disable; }},
      {"an", "yes", [](auto& o) { return o.audio_disable; }},
      {"vcodec", "copy", [](auto& o) { return o.video_stream_copy && o.video_codec_name.empty(); }},
      {"vcodec", "", [](auto& o) { return !o.video_stream_copy && o.video_codec_name.empty(); }},
      {"acodec", "aac", [](auto& o) { return o.audio_codec_name == "aac"; }},
      {"vf", "", [](auto& o) { return o.vfilters.empty(); }},
      {"vfilters", "crop=100:100", [](auto& o) { return o.vfilters == "crop=100:100"; }},
      {"map", "1.2:0.1", [](auto& o) { return o.stream_maps.size() == 1 && o.stream_maps[0].file_index == 1 &&
                                              o.stream_maps[0].stream_index == 2 && o.stream_maps[0].sync_file_index == 0 &&
                                              o.stream_maps[0].sync_stream_index == 1; }},
      {"map", "0.1", [](auto& o) { return o.stream_maps[0].sync_stream_index == 1; }},
      {"map_meta_data", "0,s1:1,c0",
       [](auto& o) { return o.meta_data_maps.size() == 1 && o.meta_data_maps[0].first.type_ == 's' &&
                            o.meta_data_maps[0].first.index == 1 && o.meta_data_maps[0].second.type_ == 'c' &&
                            !o.metadata_streams_autocopy && !o.metadata_chapters_autocopy && o.metadata_global_autocopy; }},
      {"sample_fmt", "fltp", [](auto& o) { return o.audio_sample_fmt == AV_SAMPLE_FMT_FLTP; }},
      {"vbsf", "h264_mp4toannexb", [](auto& o) { return o.video_bitstream_filters.size() == 1; }},
      {"absf", "", [](auto& o) { return o.audio_bitstream_filters.empty(); }},
      {"absf", "=x", [](auto& o) { return o.audio_bitstream_filters.empty(); }},
      {"fs", "1048576", [](auto& o) { return o.limit_filesize == 1048576; }},
      {"threads", "3", [](auto& o) { return o.thread_count == 3; }},
      {"passlogfile", "/tmp/x", [](auto& o) { return o.pass_logfilename_prefix == "/tmp/x"; }},
  };
  for (const StateCase& c : cases) {
    TCustomFFmpeg t(20);
    EXPECT_NO_THROW(t.SetExtOption(c.name, c.value)) << c.name << "=" << c.value;
    EXPECT_TRUE(c.check(t.OptionState())) << c.name << "=" << c.value;
  }
}

TEST_F(OptionTable, TimeLimitBecomesTheTotalDuration) {
  task.SetExtOption("t", "90");
  EXPECT_EQ(task.TotalOutputDuration(), 90000000);
}

TEST_F(OptionTable, RefusedValuesRaiseTheirExactTexts) {
  const std::vector<std::tuple<const char*, const char*, const char*>> cases = {
      {"r", "fast", "Incorrect frame rate"},
      {"s", "0x0", "Incorrect frame size"},
      {"s", "-320x240", "Incorrect frame size"},
      {"s", "big", "Incorrect frame size"},
      {"aspect", "4:0", "Incorrect aspect ratio specification."},
      {"aspect", "0", "Incorrect aspect ratio specification."},
      {"pix_fmt", "yuv999", "Unknown pixel format requested: yuv999"},
      {"croptop", "4", "Removed, use the crop filter instead"},
      {"cropright", "", "Removed, use the crop filter instead"},
      {"padleft", "8", "Removed, use the pad filter instead"},
      {"padcolor", "000000", "Removed, use the pad filter instead"},
      {"qscale", "0", "qscale must be > 0.0 and <= 255"},
      {"qscale", "255.5", "qscale must be > 0.0 and <= 255"},
      {"pass", "3", "pass number can be only 1 or 2"},
      {"intra_matrix", "1,2,3", "Syntax error in matrix \"1,2,3\" at coeff 2"},
      {"streamid", "3", "Invalid value \"3\" for option \"streamid\", required syntax is \"index:value\""},
      {"itsscale", "20:1", "stream index over MAX_STREAMS(20)"},
      {"metadata", "title", "Missing ="},
      {"metadata", "=Me", "wrong parameter of metadata"},
      {"vtag", "abc", "tag parameter must be 4 chars or int value"},
      {"stag", "abcde", "tag parameter must be 4 chars or int value"},
      {"sample_fmt", "s99", "Invalid sample format \"s99\""},
      {"absf", "nosuchbsf=1", "Unknown bitstream filter nosuchbsf"},
      {"t", "soon", "Invalid duration specification for t: soon"},
      {"ss", "1:xx", "Invalid duration specification for ss: 1:xx"},
      {"timestamp", "yesterday", "Invalid date specification for timestamp: yesterday"},
      {"threads", "many", "'many' is not a valid integer value"},
      {"v", "", "'' is not a valid integer value"},
      {"adrift_threshold", "0.1s", "'0.1s' is not a valid floating point value"},
      {"target", "bluray", "Unknown target type"},
      {"target", "pal-vhs", "Unknown target type"},
      {"newvideo", "", "At least one output file must be specified"},
      {"newaudio", "", "At least one output file must be specified"},
      {"vpre", "no-such-preset", "Preset \"no-such-preset\" not found"},
      {"fpre", "/no/such/file.ffpreset", "Preset \"/no/such/file.ffpreset\" not found"},
      {"nosuchoption", "1", "Unrecognized option \"nosuchoption\""},
      {"g", "twelve", "Invalid value \"twelve\" for option \"g\""},
      {"map_meta_data", "0,x:0", "Invalid metadata type x."},
      {"vhook", "/no/such/hook.so", "Failed to add video hook function: /no/such/hook.so"},
      {"loglevel", "chatty", "Invalid loglevel \"chatty\""},
  };
  for (const auto& [name, value, text] : cases) {
    TCustomFFmpeg t(20);
    std::string got = "(accepted)";
    try {
      t.SetExtOption(name, value);
    } catch (const FFmpegException& e) {
      got = e.what();
    }
    EXPECT_EQ(got, text) << name << "=" << value;
  }
}

TEST_F(OptionTable, LoggedOnlyOptionsChangeNothing) {
  TLogCapture log;
  for (const char* name : {"L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters", "i", "y", "benchmark"}) {
    EXPECT_NO_THROW(task.SetExtOption(name, "whatever"));
    EXPECT_TRUE(log.Contains(std::string("Do nothing: option - ") + name, llInfo)) << name;
  }
  task.SetExtOption("timelimit", "10");
  EXPECT_TRUE(log.Contains("Warning: -timelimit not implemented on Windows", llWarning));
  EXPECT_EQ(task.OptionStore().Count(), 0u);
}

TEST_F(OptionTable, LowBitrateIsAcceptedWithAWarning) {
  TLogCapture log;
  EXPECT_EQ(ErrorOf("b", "500"), "(accepted)");
  EXPECT_TRUE(log.Contains("WARNING: The bitrate parameter is set too low", llWarning));
  EXPECT_EQ(task.OptionStore().CodecInt(AVMEDIA_TYPE_VIDEO, "b", -1), 500);
}

TEST_F(OptionTable, GenericStoreSetsLibraryOptionsByName) {
  task.SetExtOption("ab", "96000");
  task.SetExtOption("vb", "800000");
  task.SetExtOption("g", "12");
  task.SetExtOption("bufsize", "2000000");
  EXPECT_EQ(task.OptionStore().CodecInt(AVMEDIA_TYPE_AUDIO, "b", -1), 96000);
  EXPECT_EQ(task.OptionStore().CodecInt(AVMEDIA_TYPE_VIDEO, "b", -1), 800000);
  EXPECT_EQ(task.OptionStore().CodecInt(AVMEDIA_TYPE_VIDEO, "g", -1), 12);
  EXPECT_EQ(task.OptionStore().CodecInt(AVMEDIA_TYPE_VIDEO, "bufsize", -1), 2000000);
  // The bit-rate tolerance is a video option only now: "abt" finds nothing.
  EXPECT_EQ(ErrorOf("abt", "4000"), "Unrecognized option \"abt\"");
  // The audio rate stays out of the video options and the other way round.
  EXPECT_NE(task.OptionStore().CodecInt(AVMEDIA_TYPE_VIDEO, "b", -1), 96000);
}

TEST_F(OptionTable, GenericStoreHonoursHaltOnInvalidOption) {
  task.HaltOnInvalidOption = false;
  EXPECT_EQ(ErrorOf("nosuchoption", "1"), "(accepted)");
  EXPECT_EQ(ErrorOf("g", "twelve"), "(accepted)");
  EXPECT_EQ(task.OptionStore().LastError(), "Invalid value \"twelve\" for option \"g\"");
  EXPECT_EQ(task.OptionStore().Count(), 0u);
}

TEST_F(OptionTable, PrivateEncoderOptionsAreKeptForTheEncoder) {
  task.SetExtOption("crf", "23");
  task.SetExtOption("preset", "veryfast");
  const AVCodec* x264 = ff::avcodec_find_encoder_by_name("libx264");
  ASSERT_NE(x264, nullptr);
  AVCodecContext* enc = ff::avcodec_alloc_context3(x264);
  AVDictionary* priv = nullptr;
  task.OptionStore().ApplyToCodec(enc, AVMEDIA_TYPE_VIDEO, AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM, x264, &priv);
  ASSERT_NE(ff::av_dict_get(priv, "crf", nullptr, 0), nullptr);
  EXPECT_STREQ(ff::av_dict_get(priv, "crf", nullptr, 0)->value, "23");
  EXPECT_STREQ(ff::av_dict_get(priv, "preset", nullptr, 0)->value, "veryfast");
  ff::av_dict_free(&priv);
  ff::avcodec_free_context(&enc);
}

// Every shipped preset opens libx264 with all of its options used, so that
// HaltOnInvalidOption never makes a shipped preset fail.
TEST_F(OptionTable, EveryBuiltinPresetOpensLibx264WithAllItsOptions) {
  const std::vector<std::string> names = BuiltinPresetNames();
  EXPECT_EQ(names.size(), 36u);
  const AVCodec* x264 = ff::avcodec_find_encoder_by_name("libx264");
  ASSERT_NE(x264, nullptr);
  for (const std::string& name : names) {
    TCustomFFmpeg t(20);
    t.SetExtOption("vcodec", "libx264");
    ASSERT_NO_THROW(t.SetExtOption("vpre", name)) << name;
    AVCodecContext* enc = ff::avcodec_alloc_context3(x264);
    enc->width = 64;
    enc->height = 48;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    enc->time_base = AVRational{1, 25};
    AVDictionary* priv = nullptr;
    t.OptionStore().ApplyToCodec(enc, AVMEDIA_TYPE_VIDEO, AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM, x264, &priv);
    EXPECT_EQ(ff::avcodec_open2(enc, x264, &priv), 0) << name;
    EXPECT_EQ(ff::av_dict_count(priv), 0) << name << ": an option the encoder does not know";
    ff::av_dict_free(&priv);
    ff::avcodec_free_context(&enc);
  }
}

TEST_F(OptionTable, DevicePresetIsFoundUnderTheEncoderName) {
  task.SetExtOption("vcodec", "libx264");
  task.SetExtOption("vpre", "ipod320");
  EXPECT_EQ(task.OptionStore().CodecInt(AVMEDIA_TYPE_VIDEO, "level", -1), 13);
  EXPECT_EQ(task.OptionStore().CodecInt(AVMEDIA_TYPE_VIDEO, "maxrate", -1), 768000);
  EXPECT_EQ(task.OptionStore().CodecInt(AVMEDIA_TYPE_VIDEO, "bf", -1), 0);
  // Without the encoder name the short name is not a preset.
  TCustomFFmpeg other(20);
  EXPECT_THROW(other.SetExtOption("vpre", "ipod320"), FFmpegException);
}

TEST_F(OptionTable, AliasPresetsShareTheirText) {
  std::string a, b;
  ASSERT_TRUE(FindBuiltinPreset("LIBX264-Medium_FirstPass", &a));
  ASSERT_TRUE(FindBuiltinPreset("libx264-fast_firstpass", &b));
  EXPECT_EQ(a, b);
}

TEST_F(OptionTable, PresetFilesAreReadAndChecked) {
  TTempFolder dir;
  const std::string good = dir.File("good.ffpreset");
  std::ofstream(good) << "# a comment\r\n\r\n g = 30 \r\nvcodec=mpeg4\n";
  task.SetExtOption("fpre", good);
  EXPECT_EQ(task.OptionState().video_codec_name, "mpeg4");
  EXPECT_EQ(task.OptionStore().CodecInt(AVMEDIA_TYPE_VIDEO, "g", -1), 30);

  const std::string bad = dir.File("bad.ffpreset");
  std::ofstream(bad) << "g=\n";
  EXPECT_EQ(ErrorOf("fpre", bad), bad + ": Invalid syntax: \"g=\"");

  const std::string unknown = dir.File("unknown.ffpreset");
  std::ofstream(unknown) << "bogus = 1\n";
  EXPECT_EQ(ErrorOf("fpre", unknown), "Unrecognized option \"bogus\"\r\n" + unknown +
                                          ": Invalid option or argument: \"bogus = 1\", parsed as \"bogus\" = \"1\"");
  TCustomFFmpeg lenient(20);
  lenient.HaltOnInvalidOption = false;
  EXPECT_NO_THROW(lenient.SetExtOption("fpre", unknown));
}

struct TargetCase {
  const char* value;
  int width, height;
  AVRational rate;
  const char* vcodec;
  const char* acodec;
  const char* format;
  int sample_rate;
  int64_t audio_bitrate;
  int64_t video_bitrate;
  float mux_preload;
};

TEST_F(OptionTable, TargetPresetsSetFormatSizeRateAndCodecs) {
  const TargetCase cases[] = {
      {"pal-dvd", 720, 576, {25, 1}, "mpeg2video", "ac3", "dvd", 48000, 448000, 6000000, 0.5f},
      {"ntsc-dvd", 720, 480, {30000, 1001}, "mpeg2video", "ac3", "dvd", 48000, 448000, 6000000, 0.5f},
      {"pal-vcd", 352, 288, {25, 1}, "mpeg1video", "mp2", "vcd", 44100, 224000, 1150000, 0.44f},
      {"film-svcd", 480, 480, {24000, 1001}, "mpeg2video", "mp2", "svcd", 44100, 224000, 2040000, 0.5f},
      // nothing to detect: NTSC
      {"vcd", 352, 240, {30000, 1001}, "mpeg1video", "mp2", "vcd", 44100, 224000, 1150000, 0.44f},
  };
  for (const TargetCase& c : cases) {
    TCustomFFmpeg t(20);
    ASSERT_NO_THROW(t.SetExtOption("target", c.value)) << c.value;
    EXPECT_EQ(t.OptionStore().CodecInt(AVMEDIA_TYPE_VIDEO, "b", -1), c.video_bitrate) << c.value;
    EXPECT_FLOAT_EQ(t.OptionState().mux_preload, c.mux_preload) << c.value;
    const TOptionState& o = t.OptionState();
    EXPECT_EQ(o.frame_width, c.width) << c.value;
    EXPECT_EQ(o.frame_height, c.height) << c.value;
    EXPECT_EQ(av_cmp_q(o.frame_rate, c.rate), 0) << c.value;
    EXPECT_EQ(o.video_codec_name, c.vcodec) << c.value;
    EXPECT_EQ(o.audio_codec_name, c.acodec) << c.value;
    EXPECT_EQ(o.forced_format, c.format) << c.value;
    EXPECT_EQ(o.audio_sample_rate, c.sample_rate) << c.value;
    EXPECT_EQ(t.OptionStore().CodecInt(AVMEDIA_TYPE_AUDIO, "b", -1), c.audio_bitrate) << c.value;
  }
}

TEST_F(OptionTable, TargetAssumesAnAspectRatioWhenNoneIsSet) {
  TLogCapture log;
  task.SetExtOption("target", "pal-dvd");
  EXPECT_TRUE(log.Contains("Assuming 16:9 for aspect ratio", llInfo));
  EXPECT_NEAR(task.OptionState().frame_aspect_ratio, 16.0 / 9, 1e-5);
  TCustomFFmpeg t(20);
  t.SetExtOption("aspect", "4:3");
  t.SetExtOption("target", "pal-dvd");
  EXPECT_NEAR(t.OptionState().frame_aspect_ratio, 4.0 / 3, 1e-5);
}

TEST_F(OptionTable, TargetNormIsDetectedFromTheRequestedRate) {
  task.SetExtOption("r", "25");
  task.SetExtOption("target", "dvd");
  EXPECT_EQ(task.OptionState().frame_height, 576);
  TCustomFFmpeg t(20);
  t.SetExtOption("r", "30000/1001");
  t.SetExtOption("target", "dv");
  EXPECT_EQ(t.OptionState().frame_height, 480);
  EXPECT_EQ(t.OptionState().frame_pix_fmt, AV_PIX_FMT_YUV411P);
}

}  // namespace
}  // namespace vidmill
