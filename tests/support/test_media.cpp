#include "test_media.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>

namespace fs = std::filesystem;

namespace vidmill::testing {
namespace {

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The shared cache named by VIDMILL_TEST_MEDIA (kept between runs, filled
// by whichever test process needs a clip first), else a private folder that
// goes away with the process.
struct MediaFolder {
  fs::path dir;
  bool owned = false;
  MediaFolder() {
    if (const char* shared = std::getenv("VIDMILL_TEST_MEDIA"); shared && *shared) {
      dir = shared;
      std::error_code ec;
      fs::create_directories(dir, ec);
      return;
    }
    std::string tmpl = (fs::temp_directory_path() / "vidmill-media-XXXXXX").string();
    owned = mkdtemp(tmpl.data()) != nullptr;
    dir = owned ? fs::path(tmpl) : fs::temp_directory_path();
  }
  ~MediaFolder() {
    std::error_code ec;
    if (owned) fs::remove_all(dir, ec);
  }
};

// Writes through a name of this process's own and renames into place, so
// test processes running at once never see half a clip.
fs::path PartName(const fs::path& out) {
  return out.string() + ".part" + std::to_string(getpid()) + out.extension().string();
}

bool Publish(const fs::path& part, const fs::path& out, bool made) {
  std::error_code ec;
  if (made) fs::rename(part, out, ec);
  fs::remove(part, ec);
  return made && !ec;
}

MediaFolder& Folder() {
  static MediaFolder folder;
  return folder;
}

std::mutex& Mutex() {
  static std::mutex mu;
  return mu;
}

std::string FfmpegCommand(const ClipSpec& s, const fs::path& out) {
  std::string cmd = "ffmpeg -nostdin -v error -y";
  if (s.width > 0) {
    cmd += " -f lavfi -i " + Quote("testsrc2=size=" + std::to_string(s.width) + "x" +
                                   std::to_string(s.height) + ":rate=" + s.rate +
                                   ":duration=" + std::to_string(s.seconds));
  }
  if (s.sample_rate > 0) {
    cmd += " -f lavfi -i " + Quote("sine=frequency=" + std::to_string(s.tone_hz) +
                                   ":sample_rate=" + std::to_string(s.sample_rate) +
                                   ":duration=" + std::to_string(s.seconds));
  }
  for (const auto& a : s.extra_inputs) cmd += " " + Quote(a);
  if (s.sample_rate > 0) cmd += " -ac " + std::to_string(s.channels);
  if (s.width > 0) cmd += " -pix_fmt yuv420p";
  if (!s.title.empty()) cmd += " -metadata title=" + Quote(s.title);
  for (const auto& a : s.codec_args) cmd += " " + Quote(a);
  cmd += " " + Quote(out.string());
  return cmd;
}

ClipSpec Spec(std::string name, std::vector<std::string> codecs) {
  ClipSpec s;
  s.name = std::move(name);
  s.codec_args = std::move(codecs);
  return s;
}

const std::map<Clip, ClipSpec>& Specs() {
  static const std::map<Clip, ClipSpec> specs = [] {
    std::map<Clip, ClipSpec> m;
    m[Clip::Mp4H264Aac] = Spec("h264_aac.mp4", {"-c:v", "libx264", "-g", "12", "-c:a", "aac"});
    m[Clip::Mp4H264Aac].title = "Vidmill test clip";
    m[Clip::AviMpeg4Mp3] = Spec("mpeg4_mp3.avi", {"-c:v", "mpeg4", "-q:v", "3", "-c:a", "libmp3lame"});
    {
      ClipSpec s = Spec("subs_chapters.mkv", {});
      s.seconds = 3;
      // inputs 0 video, 1 audio, 2 subtitles, 3 chapter metadata
      s.extra_inputs = {"-i", "SUBS", "-i", "CHAPTERS"};
      s.codec_args = {"-map", "0:v", "-map", "1:a", "-map", "2:s", "-map_metadata", "3",
                      "-map_chapters", "3", "-c:v", "libx264", "-g", "12", "-c:a", "libvorbis",
                      "-c:s", "srt", "-metadata:s:s:0", "language=eng"};
      m[Clip::MkvSubsChapters] = s;
    }
    m[Clip::WebmVp9Opus] = Spec("vp9_opus.webm", {"-c:v", "libvpx-vp9", "-deadline", "realtime",
                                                  "-cpu-used", "8", "-b:v", "300k", "-c:a", "libopus"});
    m[Clip::WebmVp9Opus].sample_rate = 48000;
    {
      ClipSpec s = Spec("tone.wav", {"-c:a", "pcm_s16le"});
      s.width = 0;
      s.tone_hz = 1000;
      m[Clip::WavPcm] = s;
    }
    {
      ClipSpec s = Spec("tone.mp3", {"-c:a", "libmp3lame", "-b:a", "128k"});
      s.width = 0;
      m[Clip::Mp3Audio] = s;
    }
    {
      ClipSpec s = Spec("two_audio.mp4", {});
      s.extra_inputs = {"-f", "lavfi", "-i", "sine=frequency=880:sample_rate=44100:duration=2"};
      s.codec_args = {"-map", "0:v", "-map", "1:a", "-map", "2:a", "-c:v", "libx264",
                      "-g", "12", "-c:a", "aac"};
      m[Clip::Mp4TwoAudio] = s;
    }
    m[Clip::ZeroBytes] = Spec("zero_bytes.mp4", {});
    m[Clip::Truncated] = Spec("truncated.mp4", {});
    m[Clip::RandomBytes] = Spec("random_bytes.avi", {});
    m[Clip::WrongExtension] = Spec("audio_named_video.mp4", {});
    return m;
  }();
  return specs;
}

void WriteText(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }

bool MakeSubsChapters(const ClipSpec& spec, const fs::path& out) {
  const std::string pid = std::to_string(getpid());
  const fs::path srt = Folder().dir / ("subs" + pid + ".srt");
  const fs::path chapters = Folder().dir / ("chapters" + pid + ".txt");
  WriteText(srt,
            "1\n00:00:00,200 --> 00:00:01,000\nFirst line\n\n"
            "2\n00:00:01,500 --> 00:00:02,500\nSecond line\n\n");
  WriteText(chapters,
            ";FFMETADATA1\ntitle=Chaptered clip\n"
            "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=One\n"
            "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=Two\n"
            "[CHAPTER]\nTIMEBASE=1/1000\nSTART=2000\nEND=3000\ntitle=Three\n");
  ClipSpec s = spec;
  s.extra_inputs = {"-i", srt.string(), "-i", chapters.string()};
  const fs::path part = PartName(out);
  return Publish(part, out, RunCommand(FfmpegCommand(s, part)) == 0);
}

bool MakeBrokenInto(Clip clip, const fs::path& out);

bool MakeBroken(Clip clip, const fs::path& out) {
  const fs::path part = PartName(out);
  return Publish(part, out, MakeBrokenInto(clip, part));
}

bool MakeBrokenInto(Clip clip, const fs::path& out) {
  switch (clip) {
    case Clip::ZeroBytes: std::ofstream(out, std::ios::binary); return true;
    case Clip::Truncated: {
      const std::string src = MediaPath(Clip::Mp4H264Aac);
      std::ifstream in(src, std::ios::binary);
      std::string head(2048, '\0');
      in.read(head.data(), head.size());
      std::ofstream(out, std::ios::binary).write(head.data(), in.gcount());
      return true;
    }
    case Clip::RandomBytes: {
      std::mt19937 rng(1234);
      std::string bytes(64 * 1024, '\0');
      for (char& c : bytes) c = static_cast<char>(rng());
      std::ofstream(out, std::ios::binary).write(bytes.data(), bytes.size());
      return true;
    }
    case Clip::WrongExtension: {
      std::error_code ec;
      return fs::copy_file(MediaPath(Clip::Mp3Audio), out, fs::copy_options::overwrite_existing, ec);
    }
    default: return false;
  }
}

}  // namespace

int RunCommand(const std::string& cmd) {
  int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string MediaDir() { return Folder().dir.string(); }

const ClipSpec& SpecOf(Clip clip) { return Specs().at(clip); }

std::string MakeClip(const ClipSpec& spec) {
  std::lock_guard lock(Mutex());
  const fs::path out = Folder().dir / spec.name;
  if (fs::exists(out)) return out.string();
  const fs::path part = PartName(out);
  if (!Publish(part, out, RunCommand(FfmpegCommand(spec, part)) == 0)) {
    ADD_FAILURE() << "ffmpeg could not make " << spec.name;
    return "";
  }
  return out.string();
}

std::string MediaPath(Clip clip) {
  const ClipSpec& spec = SpecOf(clip);
  switch (clip) {
    case Clip::ZeroBytes:
    case Clip::Truncated:
    case Clip::RandomBytes:
    case Clip::WrongExtension: {
      const fs::path out = Folder().dir / spec.name;
      if (!fs::exists(out) && !MakeBroken(clip, out)) return "";
      return out.string();
    }
    case Clip::MkvSubsChapters: {
      const fs::path out = Folder().dir / spec.name;
      std::lock_guard lock(Mutex());
      if (!fs::exists(out) && !MakeSubsChapters(spec, out)) {
        ADD_FAILURE() << "ffmpeg could not make " << spec.name;
        return "";
      }
      return out.string();
    }
    default: return MakeClip(spec);
  }
}

}  // namespace vidmill::testing
