// Option records with which the application describes a task's inputs and
// outputs, and their defaults.
//
// The records are plain values: the application fills them, the task keeps
// its own copy of each (TFFmpeg). Strings are UTF-8. Times are microseconds;
// kNoTime marks a time that is not set.
#pragma once

#include <cstdint>
#include <string>

namespace vidmill {

// The libraries' no-value timestamp: a time that is not set.
inline constexpr int64_t kNoTime = INT64_MIN;

enum TOptionTargetType : uint8_t {
  ttIgnore,  // no target preset
  ttVCD,
  ttSVCD,
  ttDVD,
};

enum TOptionNormType : uint8_t {
  ntAuto,  // detected from the frame rate of the output or the inputs
  ntPAL,
  ntNTSC,
};

// The norm a target falls back to when ntAuto cannot decide: ntPAL or ntNTSC.
using TOptionNormDefault = TOptionNormType;

// Output metadata.
struct TStreamInfo {
  double TimeStamp = -1.0;  // local date-time as days since 1899-12-30; 0: now; < 0: none
  int32_t Year = -1;        // set when > 0
  int32_t Track = -1;       // set when > 0
  std::string Title;        // each set when not empty
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

// One input file.
struct TInputOptions {
  std::string FileName;     // filled from the call's file name when empty
  std::string ForceFormat;  // input format to force ("f")
  int64_t TimeStart = kNoTime;  // start position ("ss")
  int32_t ProgramID = -1;   // program to select ("programid") when >= 0
  std::string ExtOptions;   // option lines
  int32_t Tag = 0;          // free for the application
  void* Data = nullptr;     // free for the application
};

// One output file. The comment names the option each field is applied as.
struct TOutputOptions {
  std::string FileName;            // filled from the call's file name when empty
  std::string FileExt;             // not used by the engine
  std::string ForceFormat;         // "f" when not empty
  int32_t PacketSize = -1;         // "packetsize" when > 0
  int32_t MuxRate = -1;            // "muxrate" when > 0
  float MuxDelay = -1.0f;          // "muxdelay" (seconds) when > 0
  float MuxPreload = -1.0f;        // "muxpreload" (seconds) when > 0
  std::string AudioCodec;          // default "acodec"
  std::string AudioPreset;         // default "apre"
  bool DisableAudio = false;       // "an" when true
  int32_t AudioVolume = -1;        // "vol" when >= 0
  int32_t AudioChannels = -1;      // "ac" when > 0
  int32_t AudioSampleRate = -1;    // "ar" when > 0
  int32_t AudioBitrate = -1;       // "ab" when > 0 and no target
  int32_t AudioBitRateTolerance = -1;  // "abt" when > 0
  std::string AudioLanguage;       // "alang" (always)
  int32_t AudioSyncMethod = 0;     // "async" (always)
  std::string AudioTag;            // "atag" when not empty
  std::string VideoCodec;          // default "vcodec"
  std::string VideoPreset;         // default "vpre"
  bool DisableVideo = false;       // "vn" when true
  std::string FrameRate;           // "r" when not empty
  std::string FrameSize;           // default "s"
  std::string FrameAspectRatio;    // "aspect" when not empty
  int32_t GroupPictureSize = -1;   // "g" when > 0
  int32_t VideoBitrate = -1;       // "vb" when > 0 and no target
  int32_t VideoMaxRate = -1;       // "maxrate" when > 0
  int32_t VideoMinRate = -1;       // "minrate" when > 0
  int32_t VideoBitRateTolerance = -1;  // "bt" when > 0
  int32_t VideoBufSize = -1;       // "bufsize" when > 0
  int32_t VideoSyncMethod = -1;    // "vsync" (always)
  std::string VideoTag;            // "vtag" when not empty
  std::string VideoFilters;        // default "vf"
  std::string VideoLanguage;       // "vlang" (always)
  std::string SubtitleCodec;       // default "scodec"
  std::string SubtitlePreset;      // default "spre"
  bool DisableSubtitle = false;    // "sn" when true
  std::string SubtitleLanguage;    // "slang" (always)
  bool InputSync = false;          // "isync" (always)
  bool CopyTimestamp = false;      // "copyts" when true
  int64_t TimeStart = kNoTime;     // "ss" when set
  int64_t TimeLength = kNoTime;    // "t" when set; also the task's total duration
  TStreamInfo Info;                // output metadata
  TOptionTargetType TargetType = ttIgnore;  // "target" preset
  TOptionNormType NormType = ntAuto;         // norm of the target
  TOptionNormDefault NormDefault = ntPAL;    // norm when ntAuto cannot decide
  bool AudioHook = false;          // route decoded audio to OnAudioHook
  bool VideoInputHook = false;     // route decoded pictures to OnVideoInputHook
  bool VideoOutputHook = false;    // route pictures before encoding to OnVideoOutputHook
  int32_t VideoHookBitsPixel = 24; // bit depth of the hook and preview bitmaps
  bool Join = false;               // join all inputs of the task into this output
  std::string ExtOptions;          // option lines
  int32_t Tag = 0;                 // free for the application
  void* Data = nullptr;            // free for the application
};

// Set a record to its defaults (the application prepares records with them).
void InitInputOptions(TInputOptions* options);
void InitOutputOptions(TOutputOptions* options);

}  // namespace vidmill
