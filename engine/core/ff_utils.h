// Small shared routines of the engine: texts for sizes, times, dates, media
// types, codecs and library error codes; file and program paths; the
// time-stamp correction used while decoding.
//
// Numbers with a fractional part use the decimal separator of the C
// library's LC_NUMERIC locale (the user's once the application has set it).
// Every function may be called from any thread. The texts that ask the
// libraries (ErrorText, CodecDescription) need libavutil/libavcodec bound
// and fall back to fixed texts while they are not.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavutil/avutil.h>
}

namespace vidmill {

// printf into a new string, of any length.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "%.2f GB" above 1073741824 bytes, "%.2f MB" above 1048576, "%.2f KB" above
// 1024, else "%d Byte" (so -1 gives "-1 Byte").
std::string SizeText(int64_t bytes);
// "%.2d:%.2d:%.2d.%.3d" (hours not wrapped) of a count of microseconds;
// "N/A" for AV_NOPTS_VALUE; a negative count has one "-" in front.
std::string TimeText(int64_t microseconds);
// Seconds since 1970-01-01 00:00 UTC, moved to local time by the standard
// time-zone bias (no daylight-saving part) and written with a date format of
// tokens yyyy yy mm m dd d hh h nn n ss s zzz (e.g. "yyyy-mm-dd hh:nn:ss");
// other characters are copied.
std::string DateText(int64_t seconds_since_epoch, const std::string& format);
// Size of an existing file; -1 when it does not exist or cannot be read.
int64_t FileSizeOf(const std::string& path);
// The running program's own path, and its folder with a trailing '/'.
std::string ProgramFileName();
std::string ProgramFolder();
// The part of text before the first separator (the whole text when there is
// none). When consume is set, text keeps only the part after the separator
// (empty when there was none).
std::string Split(std::string& text, const std::string& separator, bool consume);
// "Video", "Audio", "Data", "Subtitle", "Attachment", else "Unknown".
std::string StreamTypeName(int media_type);
// A stream's codec as the file information shows it: the decoder's name, with
// its long name as "name(long name)"; "mpeg2ts"; the codec's own name; or the
// codec tag as "abcd / 0x64636261" or "0x0000" (upper-case digits).
std::string CodecDescription(const AVCodecParameters* par);
// The text of a library error code: "End of file" for AVERROR_EOF, "Decoder
// not found" ..., the engine's text for a system error, else the libraries'
// own text, else "Error number %d occurred".
std::string ErrorCodeText(int code);
// file_name + ": " + ErrorCodeText(code).
std::string ErrorText(const std::string& file_name, int code);

// Guesses the time of a decoded frame from its reordered presentation time
// and its decoding time (either may be AV_NOPTS_VALUE): the presentation time
// unless it has gone backwards more often than the decoding time. One object
// per decoder; not shared between threads.
class TTimestampCorrection {
 public:
  int64_t Guess(int64_t reordered_pts, int64_t dts);
  void Reset() { *this = TTimestampCorrection(); }

 private:
  int64_t faulty_pts_ = 0;
  int64_t faulty_dts_ = 0;
  int64_t last_pts_ = INT64_MIN;
  int64_t last_dts_ = INT64_MIN;
};

}  // namespace vidmill
