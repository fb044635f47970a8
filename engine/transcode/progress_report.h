// The figures and the text line of a task's progress report.
//
// The loop gathers a snapshot of its output streams; BuildReport turns it
// into the figures the component delivers (TProgressFigures) and the report
// line the log shows ("frame=  50 fps= 25 q=4.0 size=     120kB time=2.00
// bitrate= 491.5kbits/s"). All counting is guarded: a quantiser outside
// 0..51 is not counted, a zero output size gives no overhead figure.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vidmill {

// What a progress report tells the component (and through it the application).
struct TProgressFigures {
  int file_index = -1;         // input being read; -1 in the final report
  int frame_number = -1;       // frames of the first video stream; -1 without video
  int fps = -1;                // frames per second since the start; 0 in the first second; -1 without video
  float quality = -1;          // quantiser of the last video frame; -1 when copied or without video
  float bit_rate = 0;          // kbit/s
  int64_t current_size = 0;    // bytes of the first output
  int64_t current_duration = 0;  // microseconds of output, at least 10000
  int64_t total_duration = -1;   // microseconds expected; -1 when unknown
};

// One output stream as the report sees it.
struct TReportStream {
  bool video = false;
  bool copied = false;
  bool show_fps = false;       // may show its frame count
  int64_t frames = 0;          // frames encoded or copied
  int quality = 0;             // library quality (lambda) of the last encoded frame
  double time_s = 0;           // output time reached, seconds
  // PSNR, when the encoder computes it.
  bool psnr = false;
  uint64_t error[3] = {};      // of the last frame (or accumulated, on the last report)
  int width = 0, height = 0;
};

struct TReportInput {
  bool is_last = false;
  int file_index = -1;
  int64_t total_size = 0;      // bytes written to the first output
  double elapsed_s = 0;        // since the loop started
  bool qp_hist = false;
  int verbose = 1;
  bool has_receiver = false;   // a progress handler is assigned
  int64_t dup = 0, drop = 0;
  int64_t total_duration = -1;
  std::vector<TReportStream> streams;
};

struct TReportOutput {
  bool skipped = false;        // a video stream has no frame yet: no line, no event
  bool send = false;           // deliver the figures
  bool log_line = false;       // log the line (when there is no receiver)
  std::string line;
  TProgressFigures figures;
};

// The quantiser histogram of a task.
class TQpHistogram {
 public:
  // Counts a quantiser; values outside 0..51 are ignored.
  void Count(int qp);
  // 32 hexadecimal digits, each log2(count + 1) of a bin.
  std::string Text() const;

 private:
  std::array<int64_t, 52> bins_{};
};

// -10 * log10(error / (width * height * 255 * 255 * scale)); 99.99 for no error.
double PsnrOf(double error, double samples);

// Builds the report. `hist` is counted with the first video stream's quantiser.
TReportOutput BuildReport(const TReportInput& in, TQpHistogram* hist);

// The final size line: "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB
// muxing overhead %f%%" with the overhead only when the streams wrote something.
std::string FinalSizeLine(int64_t video_size, int64_t audio_size, int64_t extra_size, int64_t total_size);

}  // namespace vidmill
