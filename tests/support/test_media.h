// Synthetic test media, made at test time with Debian's ffmpeg tool.
//
// Clips are generated once per test process into a private temporary folder
// and reused; the folder is removed when the process exits. Every clip is a
// test pattern (testsrc2) with a sine tone, so decoded output can be
// compared with what went in.
#pragma once

#include <string>
#include <vector>

namespace vidmill::testing {

// What a generated clip holds; the generator's own figures, to check against.
struct ClipSpec {
  std::string name;          // file name inside the media folder, e.g. "h264_aac.mp4"
  int width = 320;           // 0 = no video
  int height = 240;
  std::string rate = "25";   // frame rate, e.g. "25" or "30000/1001"
  double seconds = 2.0;
  int sample_rate = 44100;   // 0 = no audio
  int channels = 2;
  int tone_hz = 440;
  std::vector<std::string> codec_args;  // e.g. {"-c:v","libx264","-c:a","aac"}
  std::vector<std::string> extra_inputs;  // further "-i ..." style args before codec args
  std::string title;         // file metadata "title" when not empty
};

// Fixtures used across the tests.
enum class Clip {
  Mp4H264Aac,          // 320x240 25 fps 2 s, H.264 + AAC 44.1 kHz stereo, title
  AviMpeg4Mp3,         // 320x240 25 fps 2 s, MPEG-4 + MP3
  MkvSubsChapters,     // 320x240 25 fps 3 s, H.264 + Vorbis + SRT subtitle, 3 chapters
  WebmVp9Opus,         // 320x240 25 fps 2 s, VP9 + Opus 48 kHz
  WavPcm,              // 2 s PCM s16 44.1 kHz stereo, 1 kHz tone
  Mp3Audio,            // 2 s MP3 44.1 kHz stereo
  Mp4TwoAudio,         // 320x240 2 s, H.264 + two AAC streams (440 Hz, 880 Hz)
  ZeroBytes,           // empty file named .mp4
  Truncated,           // the first 2 KiB of Mp4H264Aac
  RandomBytes,         // 64 KiB of random bytes named .avi
  WrongExtension,      // Mp3Audio content named .mp4
};

const ClipSpec& SpecOf(Clip clip);
// Path of the clip, generated on first use. Fails the calling test (ADD_FAILURE)
// and returns "" when ffmpeg cannot make it.
std::string MediaPath(Clip clip);
// Makes a clip of one's own into the media folder (cached by spec.name).
std::string MakeClip(const ClipSpec& spec);
// The private temporary folder of this process (created on first use).
std::string MediaDir();
// Runs a command line through the shell; returns its exit status.
int RunCommand(const std::string& cmd);

}  // namespace vidmill::testing
