// What the probe reports about a file and its streams. Every number is -1
// when it is not available (a failed query returns a record of -1 values).
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/rational.h>
}

namespace vidmill {

struct TFileStreamInfo {
  int64_t StartTime = -1;  // microseconds; -1 when the file has none
  int64_t Duration = -1;   // microseconds; -1 when the file has none
  int64_t BitRate = -1;    // bits per second; 0 when the container does not say
  int64_t TimeStamp = -1;  // creation time, seconds since 1970-01-01 UTC; 0 when none
  int Year = -1;           // from the "date" or "year" tag; 0 when none
  int Track = -1;          // from the "track" tag; 0 when none
  std::string Title, Author, Copyright, Comment, Album, Genre;  // UTF-8 tags, "" when absent
};

// Fields common to audio and video streams.
struct TMediaStreamInfo {
  std::string Language;         // the "language" tag, "" when absent
  std::string CodecName;        // see CodecDescription (core/ff_utils.h)
  int64_t StartTime = -1;       // in the stream's time base; AV_NOPTS_VALUE when none
  int64_t StartTimeScaled = -1; // microseconds; -1 when none or the time base is invalid
  int64_t Duration = -1;        // in the stream's time base; AV_NOPTS_VALUE when none
  int64_t DurationScaled = -1;  // microseconds; -1 when none or the time base is invalid
  int64_t BitRate = -1;         // bits per second; 0 when the stream does not say
};

struct TAudioStreamInfo : TMediaStreamInfo {
  int Channels = -1;
  int SampleRate = -1;
  int SampleFormat = -1;  // AVSampleFormat
};

struct TVideoStreamInfo : TMediaStreamInfo {
  int Height = -1;
  int Width = -1;
  float AspectRatio = -1.0f;  // display aspect: width * sample aspect / height (0 when none)
  int PixFmt = -1;            // AVPixelFormat
  AVRational FrameRate{-1, -1};
};

struct TSubtitleStreamInfo {
  std::string Language;
  std::string CodecName;
};

}  // namespace vidmill
