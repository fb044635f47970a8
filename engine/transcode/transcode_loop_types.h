// The loop's own state per output and input stream (shared by the files of
// the packet loop and the video path; not part of any public interface).
#pragma once

#include <memory>
#include <vector>

#include "audio_path.h"
#include "core/entry_points.h"
#include "transcode_loop.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace vidmill {

struct TFrameFree {
  void operator()(AVFrame* f) const { ff::av_frame_free(&f); }
};
using TFramePtr = std::unique_ptr<AVFrame, TFrameFree>;
struct TPacketFree {
  void operator()(AVPacket* p) const { ff::av_packet_free(&p); }
};
using TPacketPtr = std::unique_ptr<AVPacket, TPacketFree>;

struct TTranscodeLoop::TOutput {
  TAVOutputStream* ost = nullptr;   // the task's record
  TOutputFileEntry* file = nullptr; // its slot
  int slot = 0;
  AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
  bool encoded = false;             // encoded (else copied)
  bool encoder_drained = false;
  std::unique_ptr<TAudioPath> audio;  // encoded audio, made on the first frame
  bool at_start = true;             // no drift correction yet
  std::vector<TBsfPtr> bsfs;        // bitstream filters, in order
  bool bsf_ready = false;
  TPacketPtr pkt;                   // packets received from the encoder
  TFramePtr frame;                  // the picture handed to the encoder
  TFramePtr filtered;               // what the filter chain gives
  int64_t end_time_us = 0;          // end of the last written packet
  int64_t last_dts = AV_NOPTS_VALUE; // of the last encoded packet, stream time base
  int64_t ts_shift = 0;             // added to encoded packets to keep their times rising
  int quality = 0;                  // of the last encoded picture (library lambda)
  int pict_type = 0;
  uint64_t error[4] = {};           // PSNR errors of the last picture
};

struct TTranscodeLoop::TInput {
  TFramePtr frame;                  // decoded frames
  TPacketPtr pkt;
  std::unique_ptr<TFilterChain> deinterlace;  // "yadif" when deinterlacing
  TFramePtr deinterlaced;
  bool deinterlace_failed = false;
  bool decoder_eof = false;
  int quality = 0;                  // of the last decoded picture
};

}  // namespace vidmill
