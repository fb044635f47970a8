// The option state of a task: what SetExtOption changes and what opening an
// input or output, and setting up a run, read at the moment they run.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
#include <libavutil/samplefmt.h>
}

namespace vidmill {

struct TAVStreamMap {
  int file_index = 0;
  int stream_index = 0;
  int sync_file_index = 0;
  int sync_stream_index = 0;
};

struct TAVMetaDataMap {
  int file_idx = 0;
  char type_ = 'g';  // 'g' global, 's' stream, 'c' chapter, 'p' program
  int index = 0;
};

struct TAVChapterMap {
  int in_file = 0;
  int out_file = 0;
};

// Index into TOptionState::max_frames.
enum TFrameLimit { flVideo, flAudio, flData, flSubtitle };

inline constexpr int kMaxStreams = 20;  // streams an input's time scales cover

struct TOptionState {
  // Input and output format.
  std::string forced_format;  // "f": used up by the next open

  // Video.
  int frame_width = 0, frame_height = 0;  // 0: from the input
  float frame_aspect_ratio = 0;           // 0: from the input
  AVPixelFormat frame_pix_fmt = AV_PIX_FMT_NONE;
  AVRational frame_rate{25, 0};           // numerator 0 of a rate: unset
  bool frame_rate_set = false;            // "r" was given (not only taken from an input)
  float video_qscale = 0;
  bool video_disable = false;
  int video_discard = 0;
  std::string video_codec_name;  // "copy" is kept as stream copy below
  uint32_t video_codec_tag = 0;
  std::string video_language;
  bool same_quality = false;
  bool do_deinterlace = false;
  int top_field_first = -1;
  int me_threshold = 0;
  int intra_dc_precision = 8;
  bool qp_hist = false;
  std::string vfilters;
  std::string rc_override;
  bool intra_only = false;
  bool do_psnr = false;
  bool force_fps = false;
  std::string forced_key_frames;
  std::vector<uint16_t> intra_matrix;  // 64 values when set
  std::vector<uint16_t> inter_matrix;
  int video_global_header = 0;
  bool video_stream_copy = false;
  std::vector<std::string> video_bitstream_filters;  // pending for the next video stream

  // Audio.
  AVSampleFormat audio_sample_fmt = AV_SAMPLE_FMT_NONE;
  int audio_sample_rate = 44100;
  int audio_channels = 2;
  uint64_t audio_channel_mask = 0;  // layout of the last input's audio, 0: none
  float audio_qscale = -99999;
  bool audio_disable = false;
  std::string audio_codec_name;
  uint32_t audio_codec_tag = 0;
  std::string audio_language;
  bool audio_stream_copy = false;
  int audio_volume = 256;
  int audio_sync_method = 0;
  float audio_drift_threshold = 0.1f;
  std::vector<std::string> audio_bitstream_filters;

  // Subtitles.
  bool subtitle_disable = false;
  std::string subtitle_codec_name;
  uint32_t subtitle_codec_tag = 0;
  std::string subtitle_language;
  bool subtitle_stream_copy = false;
  std::vector<std::string> subtitle_bitstream_filters;

  // Limits and times (microseconds).
  int max_frames[4] = {INT_MAX, INT_MAX, INT_MAX, INT_MAX};
  int64_t recording_time = INT64_MAX;  // "t"
  int64_t start_time = 0;              // "ss"
  int64_t input_ts_offset = 0;         // "itsoffset"
  std::vector<double> input_ts_scale;  // "itsscale" of the next input, by stream
  int64_t rec_timestamp = 0;           // "timestamp", seconds
  int64_t limit_filesize = 0;          // "fs"

  // Muxing.
  float mux_preload = 0.5f;
  float mux_max_delay = 0.7f;
  int loop_output = -1;
  bool loop_input = false;
  std::vector<std::pair<std::string, std::string>> metadata;  // pending for the next output
  std::vector<int> streamid_map;  // output stream number -> container id (0: none)

  // Run behaviour.
  int do_pass = 0;
  std::string pass_logfilename_prefix;  // empty: a unique name in the temporary folder
  int video_sync_method = -1;
  bool copy_ts = false, copy_tb = false, opt_shortest = false;
  std::string vstats_filename;
  int opt_programid = 0;
  int copy_initial_nonkeyframes = 0;
  bool rate_emu = false;
  int video_channel = 0;
  std::string video_standard;
  bool exit_on_error = false;
  int verbose = 1;
  int thread_count = 1;
  float dts_delta_threshold = 10;
  int sws_flags = 4;  // bicubic
  bool input_sync = false;
  bool do_benchmark = false;
  bool do_pkt_dump = false, do_hex_dump = false;
  bool metadata_global_autocopy = true;
  bool metadata_streams_autocopy = true;
  bool metadata_chapters_autocopy = true;

  // Explicit maps.
  std::vector<TAVStreamMap> stream_maps;
  std::vector<std::pair<TAVMetaDataMap, TAVMetaDataMap>> meta_data_maps;  // (output, input)
  std::vector<TAVChapterMap> chapter_maps;
};

}  // namespace vidmill
