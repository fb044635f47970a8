// The audio path of one encoded output stream: decoded audio in, frames the
// encoder accepts out.
//
// Every decoded frame is converted to the encoder's sample format, rate and
// channel layout (libswresample; no converter at all when the formats
// already match), its timing checked against the input's clock (drift
// handling: silence inserted, samples dropped, or a soft correction through
// the resampler) and collected in a FIFO until a whole encoder frame is
// there. At the end of the stream the rest leaves as one short frame when
// the encoder allows it, else padded with silence to a whole frame.
//
// Thread rules: one object per output stream, used by the task's worker
// thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/ff_log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

namespace vidmill {

// What the audio path reads of the task's options.
struct TAudioSyncSettings {
  int sync_method = 0;           // "async": 0 timing from the input clock, 1 hard corrections, > 1 also soft
  float drift_threshold = 0.1f;  // "adrift_threshold", seconds
  int verbose = 1;               // drift lines are logged above 2
  int file_index = 0;            // for the format-change line
  int stream_index = 0;
};

// Receives each frame for the encoder: format, rate and layout of the
// encoder, pts in samples (the encoder's time base 1/rate). The frame is
// only valid during the call.
using TAudioFrameSink = std::function<void(AVFrame* frame)>;
using TAudioLog = std::function<void(TLogLevel level, const std::string& text)>;

// Changes the volume of a decoded frame in place (256 = unchanged): integer
// samples become (sample * volume + 128) >> 8, clipped to the format's
// range; float samples are multiplied by volume / 256. Every sample of
// every channel is changed once, whatever the format (packed or planar).
// The frame must be writable.
void ApplyVolume(AVFrame* frame, int volume);

// Calls `hook` with the frame's samples as one packed buffer (planar frames
// are interleaved for the call and the changes written back): pointer, size
// in bytes, and the packed sample format. The frame must be writable.
void WithPackedSamples(AVFrame* frame,
                       const std::function<void(uint8_t* samples, int size, AVSampleFormat format)>& hook);

class TAudioPath {
 public:
  // `enc`: the opened encoder (not owned, outlives the path). `fifo`: the
  // stream's sample FIFO in the encoder's format (not owned; null: the path
  // makes its own).
  TAudioPath(AVCodecContext* enc, AVAudioFifo* fifo, const TAudioSyncSettings& settings, TAudioLog log);
  ~TAudioPath();
  TAudioPath(const TAudioPath&) = delete;
  TAudioPath& operator=(const TAudioPath&) = delete;

  // Takes one decoded frame. `input_time_us`: the input clock at the frame
  // (stream time minus start position, microseconds); `at_start`: the input
  // stream has not been corrected yet (first frames). Hands every complete
  // encoder frame to `sink`. Throws FFmpegException on a fatal error.
  void Push(const AVFrame* decoded, int64_t input_time_us, bool* at_start, const TAudioFrameSink& sink);
  // End of the stream: hands the rest of the FIFO to `sink`.
  void Flush(const TAudioFrameSink& sink);

  // The stream's sample clock: samples handed out so far plus corrections.
  int64_t SyncOpts() const { return sync_opts_; }
  void SetSyncOpts(int64_t samples) { sync_opts_ = samples; }
  // Samples waiting in the FIFO.
  int Pending() const;
  // Whether a resampler is in use.
  bool Resampling() const { return swr_ != nullptr; }
  // Samples dropped and inserted by hard corrections so far.
  int64_t DroppedSamples() const { return dropped_; }
  int64_t InsertedSamples() const { return inserted_; }
  // Replaces the encoder (a fresh encoder of a joined output); same format.
  void SetEncoder(AVCodecContext* enc) { enc_ = enc; }

 private:
  struct TInputFormat {
    AVSampleFormat format = AV_SAMPLE_FMT_NONE;
    int sample_rate = 0;
    AVChannelLayout layout{};
  };
  bool SameAsEncoder(const TInputFormat& in) const;
  void NoteInputFormat(const AVFrame* frame);
  void BuildResampler();
  int64_t Delay() const;
  void Correct(const AVFrame* frame, int64_t input_time_us, bool* at_start, int* skip_in, int64_t* silence);
  void Convert(const AVFrame* frame, int skip);
  void WriteSilence(int64_t samples);
  void EnsureConvertBuffer(int samples);
  void Emit(int samples, const TAudioFrameSink& sink);
  int FrameSize() const;

  AVCodecContext* enc_;
  AVAudioFifo* fifo_;
  AVAudioFifo* own_fifo_ = nullptr;
  TAudioSyncSettings settings_;
  TAudioLog log_;
  TInputFormat input_;            // what the converter was built for
  bool input_known_ = false;
  bool want_resampler_;           // a resampler even for equal formats (soft correction)
  SwrContext* swr_ = nullptr;     // owned
  std::vector<uint8_t*> convert_buf_;  // planes of one av_samples_alloc block, owned
  int convert_capacity_ = 0;      // samples per channel
  int64_t sync_opts_ = 0;
  bool emitted_any_ = false;
  int64_t dropped_ = 0;
  int64_t inserted_ = 0;
};

}  // namespace vidmill
