// The records a task keeps for its opened inputs and outputs and for a run:
// open input files with their decoder contexts, output contexts (shared by
// the slots of a joined output), output streams, and the input tables a
// run builds.
//
// All of them belong to one task and are used by the thread that opens
// files or runs the task (never two at once).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/ff_utils.h"
#include "core/unicode_protocol.h"
#include "filters/filter_chain.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace vidmill {

struct TCodecContextFree {
  void operator()(AVCodecContext* c) const;
};
using TCodecContextPtr = std::shared_ptr<AVCodecContext>;
// A codec context freed with avcodec_free_context.
TCodecContextPtr MakeCodecContext(const AVCodec* codec);

struct TDictionaryFree {
  void operator()(AVDictionary* d) const;
};
using TDictionaryPtr = std::unique_ptr<AVDictionary, TDictionaryFree>;

struct TBsfFree {
  void operator()(AVBSFContext* b) const;
};
using TBsfPtr = std::unique_ptr<AVBSFContext, TBsfFree>;

// One stream of an opened input: the decoder chosen when the input was
// opened and its context (parameters from the stream, thread count and the
// generic decoding options set; opened when a run needs it).
struct TInputCodec {
  const AVCodec* decoder = nullptr;  // null: none found for the stream
  TCodecContextPtr ctx;
  TDictionaryPtr options;            // private decoder options for opening
};

// One opened input file.
struct TInputFileEntry {
  TInputContext ctx;            // closed with CloseInput
  std::string file_name;        // the caller's name
  int64_t ts_offset = 0;        // microseconds added to every time stamp
  std::vector<double> ts_scale; // per stream; 0 or 1: none
  std::vector<TInputCodec> codecs;  // per stream
};

// An output context. The slots of a joined output share one.
struct TOutputContext {
  TOutputContext() = default;
  ~TOutputContext();
  TOutputContext(const TOutputContext&) = delete;
  TOutputContext& operator=(const TOutputContext&) = delete;

  AVFormatContext* ctx = nullptr;  // owned; its pb is closed with CloseOutputIO
  std::string file_name;           // the name the output gets when the task finished
  std::string temp_name;           // what is written until then; "" when the muxer writes no file
  TDictionaryPtr muxer_options;    // private muxer options, used when the header is written
  bool header_written = false;
  bool committed = false;          // renamed into place
};

// One output stream (one per stream and slot; the slots of a joined output
// share the library stream and the encoder).
struct TAVOutputStream {
  ~TAVOutputStream();

  int file_index = 0;      // output slot
  int index = 0;           // stream number in the output file
  int source_index = -1;   // mapped input stream (input-stream table)
  AVStream* st = nullptr;  // owned by the output context
  TCodecContextPtr enc;    // encoder context; for a copied stream it holds the copied parameters
  const AVCodec* codec = nullptr;  // encoder chosen at creation (null: by codec id)
  TDictionaryPtr encoder_options;  // private encoder options for opening
  bool stream_copy = false;
  bool joined_slot = false;  // a further slot of a joined output (shares the first slot's encoder)
  bool encoding_needed = false;
  int64_t frame_number = 0;
  int sync_ist = -1;       // input stream whose clock drives this stream
  int64_t sync_opts = 0;   // next frame time (encoder time base) or samples written
  std::vector<TBsfPtr> bitstream_filters;
  std::vector<std::string> bitstream_filter_names;
  AVCodecID codec_id = AV_CODEC_ID_NONE;  // kept for reopening the encoder between joined inputs
  // Join mode: the encoder's settings and private options as they were
  // before it was opened (an opened encoder writes some back), for the
  // fresh encoder of each further input.
  TCodecContextPtr enc_template;
  TDictionaryPtr encoder_options_template;
  bool show_fps = false;
  std::string language;

  // Video.
  bool video_resample = false;
  int resample_width = 0, resample_height = 0;
  AVPixelFormat resample_pix_fmt = AV_PIX_FMT_NONE;
  int original_width = 0, original_height = 0;
  SwsContext* img_resample_ctx = nullptr;  // scaling without a filter chain (owned)
  AVFrame* pict_tmp = nullptr;             // its output picture (owned)
  std::unique_ptr<TFilterChain> filter;    // with a filter chain
  std::string forced_key_frames;           // the option's text until the run converts it
  std::vector<int64_t> forced_kf_pts;      // encoder time base
  size_t forced_kf_index = 0;
  std::string rc_override;

  // Audio.
  bool audio_resample = false;
  SwrContext* resample = nullptr;  // owned
  AVSampleFormat resample_sample_fmt = AV_SAMPLE_FMT_NONE;
  int resample_channels = 0;
  int resample_sample_rate = 0;
  AVAudioFifo* fifo = nullptr;     // owned

  // Two-pass and statistics.
  FILE* logfile = nullptr;         // pass-1 statistics (owned)
  std::string logfile_name;
  char* stats_in = nullptr;        // pass-2 statistics given to the encoder (av_malloc'd, freed here)
};

// One output slot: the context and the stream records of that slot.
struct TOutputFileEntry {
  std::shared_ptr<TOutputContext> out;
  std::vector<std::unique_ptr<TAVOutputStream>> streams;
};

// Per input file, built when a run starts.
struct TAVInputFile {
  bool eof_reached = false;
  int ist_index = 0;   // first stream in the input-stream table
  int nb_streams = 0;
};

// Per input stream, one for every stream of every input, in file order.
struct TAVInputStream {
  int file_index = 0;
  int index = 0;
  AVStream* st = nullptr;
  AVCodecContext* dec = nullptr;   // the input's decoder context (owned by the input entry)
  const AVCodec* decoder = nullptr;
  bool discard = true;             // until an output stream is mapped to it
  bool decoding_needed = false;
  bool decoder_open = false;
  int64_t frame_number = 0;
  int64_t start = 0;               // wall clock at the start, for real-time pacing
  int64_t next_pts = INT64_MIN;
  int64_t pts = 0;
  TTimestampCorrection pts_ctx;
  bool is_start = true;
  bool showed_multi_packet_warning = false;
  bool is_past_recording_time = false;
  bool decoder_flushed = false;
};

}  // namespace vidmill
