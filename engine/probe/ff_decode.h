// TCustomDecoder: opens a media file with the libraries and answers questions
// about it (stream counts, stream records, tags, an information text).
// TFFDecoder (frame_decoder.h) is the published probe with frame decoding.
//
// Thread rules: a decoder is used by one thread at a time (the application
// probes on its main thread). Abort() alone may be called from any thread:
// it cuts a LoadFile that waits for data short.
//
// Failures: a query that cannot be answered stores its reason in LastErrMsg,
// logs it with the decoder as sender ("file not loaded." at llWarning, the
// others at llError) and returns false, -1, an empty text or a -1 record. A
// missing library raises EEngineError ("LibAVCodec not loaded." ...).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/base_component.h"
#include "core/ff_load.h"
#include "core/ff_log.h"
#include "probe/stream_info.h"

struct AVFormatContext;
struct AVStream;

namespace vidmill {

class TCustomDecoder : public TFFBaseComponent {
 public:
  TCustomDecoder();
  ~TCustomDecoder() override;
  TCustomDecoder(const TCustomDecoder&) = delete;
  TCustomDecoder& operator=(const TCustomDecoder&) = delete;

  // Library set: all but libavdevice and libavfilter.
  bool LoadAVLib(const std::string& APath);
  bool AVLibLoaded() const;
  void UnloadAVLib();

  // Opens and probes a file (or URL). AFormatName forces the input format
  // ("" detects it). False with LastErrMsg set when the format is unknown
  // ("Unknown input format: %s"), the file cannot be opened ("<name>: <error
  // text>", logged) or its streams cannot be read ("%s: could not find codec
  // parameters"); nothing stays open then.
  bool LoadFile(const std::string& AFileName, const std::string& AFormatName = "");
  // Closes the file; safe when none is open.
  virtual void CloseFile();

  // How long LoadFile may wait for data before giving up, in milliseconds;
  // 0 waits for ever (Abort still works). Default 30000.
  int LoadTimeout() const { return load_timeout_ms_; }
  void SetLoadTimeout(int ms) { load_timeout_ms_ = ms; }
  // Any thread: makes a LoadFile in progress give up as soon as the
  // libraries next poll (within 50 ms while waiting for data).
  void Abort() { abort_ = true; }

  bool IsAudioStream(int AStreamIndex);
  bool IsVideoStream(int AStreamIndex);
  bool IsSubtitleStream(int AStreamIndex);

  // The open file's name (converted back from its library form), "" when none.
  std::string FileName() const;
  int64_t FileSize() const { return file_size_; }
  const std::string& ForceFormat() const { return force_format_; }
  std::string FormatName() const;
  std::string FormatLongName() const;
  int StreamCount() const { return stream_count_; }
  int ProgramCount() const { return program_count_; }
  int AudioStreamCount() const { return audio_stream_count_; }
  int VideoStreamCount() const { return video_stream_count_; }
  int SubtitleStreamCount() const { return subtitle_stream_count_; }
  int FirstAudioStreamIndex() const { return first_audio_stream_index_; }
  int FirstVideoStreamIndex() const { return first_video_stream_index_; }
  int FirstSubtitleStreamIndex() const { return first_subtitle_stream_index_; }

  TFileStreamInfo FileStreamInfo();
  // A negative index means the first stream of the kind.
  TAudioStreamInfo AudioStreamInfos(int AStreamIndex);
  TVideoStreamInfo VideoStreamInfos(int AStreamIndex);
  TSubtitleStreamInfo SubtitleStreamInfos(int AStreamIndex);
  TAudioStreamInfo FirstAudioStreamInfo() { return AudioStreamInfos(-1); }
  TVideoStreamInfo FirstVideoStreamInfo() { return VideoStreamInfos(-1); }
  TSubtitleStreamInfo FirstSubtitleStreamInfo() { return SubtitleStreamInfos(-1); }
  // The information text, each line ended by "\r\n"; "" when no file.
  std::string FileInfoText();

  const std::string& LastErrMsg() const { return last_err_msg_; }

  // The open format context (owned by the decoder unless attached), or null.
  AVFormatContext* FileHandle() const { return file_handle_; }
  // Attaches a context that the caller opened and keeps owning: CloseFile
  // forgets it without closing it. Assigning the current one does nothing.
  void SetFileHandle(AVFormatContext* ctx);

 protected:
  // Recomputes the counts, first indexes and size after every open and close.
  virtual void UpdateFileInfo();
  // Raises EEngineError when a library the probe needs is not bound.
  void CheckLibraries() const;
  // Stores the message in LastErrMsg and logs it.
  void Fail(TLogLevel level, const std::string& msg);
  bool FileLoaded();  // reports "file not loaded." when none

  AVFormatContext* file_handle_ = nullptr;
  bool own_handle_ = false;

 private:
  // The stream behind an index for a query of one kind (media_type), or
  // null with the failure reported. kind: "audio", "video" or "subtitle".
  const AVStream* StreamFor(int index, int media_type, const char* kind);
  bool IsStreamOf(int index, int media_type);

  std::string last_err_msg_;
  std::string force_format_;
  int64_t file_size_ = -1;
  int stream_count_ = -1;
  int program_count_ = -1;
  int audio_stream_count_ = -1;
  int video_stream_count_ = -1;
  int subtitle_stream_count_ = -1;
  int first_audio_stream_index_ = -1;
  int first_video_stream_index_ = -1;
  int first_subtitle_stream_index_ = -1;
  int load_timeout_ms_ = 30000;
  std::atomic<bool> abort_{false};
};

}  // namespace vidmill

// TFFDecoder, the probe with frame decoding, for every user of this header.
#include "probe/frame_decoder.h"  // IWYU pragma: export
