// TFFmpeg: a transcoding task as the encoder component keeps it: the
// transcoder plus a copy of the option record of each input and output.
// TFFmpegList: the component's ordered list of tasks.
//
// Thread rules: records are applied and files opened on the caller's thread
// (normally the main thread), never while the task runs.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "custom_ffmpeg.h"
#include "option_records.h"
#include "probe/ff_decode.h"

namespace vidmill {

class TFFmpeg : public TCustomFFmpeg {
 public:
  explicit TFFmpeg(int max_files);
  ~TFFmpeg() override;
  // Detaches the probe objects, then releases what the task opened.
  void CleanUp() override;

  // The owning component (set when the task is added).
  TFFBaseComponent* FParent = nullptr;

  // The probe object of input slot i, created on first use and attached to
  // the opened input when there is one (owned by the task).
  TFFDecoder* Decoders(int i);

  // Option records of input / output slot i (null while the slot is empty).
  const TInputOptions* InputOptions(int i) const;
  const TOutputOptions* OutputOptions(int i) const;
  // Copies `options` into slot i (creating it with defaults when empty).
  void SetInputOptions(int i, const TInputOptions& options);
  void SetOutputOptions(int i, const TOutputOptions& options);
  // Sets slot i back to defaults when it holds a record.
  void ResetInputOptions(int i);
  void ResetOutputOptions(int i);

  // Applies option lines: keys are lower-cased; "newvideo", "newaudio",
  // "newsubtitle", "apre", "vpre", "spre", "vfilters" and "vf" are left to
  // the output steps; "acodec", "vcodec", "scodec" and "s" only with
  // `include_codec_keys`. Throws FFmpegException at the first refused option.
  void ApplyExtOptions(const std::string& text, bool include_codec_keys);

  // Adds an input: stores the record (its empty FileName becomes
  // `file_name`), applies its option lines, forced format, start time and
  // program, then opens the input. Without a record the slot is reset to
  // defaults. False with LastErrMsg set (option errors included).
  bool AddInput(const std::string& file_name, TInputOptions* options);
  // Sets an output: applies the record in its fixed order, opens the output,
  // adds the per-stream lines' streams and runs the join set-up. Without a
  // record the slot is reset and the output opened without join. False with
  // LastErrMsg set; nothing is left on disk after a failure.
  bool SetOutput(const std::string& file_name, TOutputOptions* options);

 private:
  struct TStreamEntry {
    std::string key;
    std::string value;
  };
  void ApplyInputRecord(TInputOptions* options);
  void ApplyOutputRecord(const TOutputOptions& o, std::vector<TStreamEntry>* per_stream,
                         std::vector<TStreamEntry>* defaults);
  void ApplyRecordFields(const TOutputOptions& o);
  void ApplyPerStreamLines(const TOutputOptions& o, std::vector<TStreamEntry>* per_stream,
                           const std::vector<TStreamEntry>& defaults);

  std::vector<std::unique_ptr<TFFDecoder>> FDecoders;  // one slot per input
  std::vector<std::unique_ptr<TInputOptions>> FInputOptions;    // one slot per input
  std::vector<std::unique_ptr<TOutputOptions>> FOutputOptions;  // one slot per output
};

class TFFmpegList {
 public:
  TFFmpegList() = default;
  ~TFFmpegList() { Clear(); }
  TFFmpegList(const TFFmpegList&) = delete;
  TFFmpegList& operator=(const TFFmpegList&) = delete;

  // Appends a task (taking it) and returns its index. The task's outputs are
  // then refused when they are an input of any task of the list.
  int Add(std::unique_ptr<TFFmpeg> task);
  // Frees every task.
  void Clear();
  // Frees the task at `index`; false with *error set when out of range.
  bool Delete(int index, std::string* error);
  // Swaps two tasks; false with *error set when an index is out of range.
  bool Exchange(int index1, int index2, std::string* error);
  // The task at `index`, or null when out of range.
  TFFmpeg* Items(int index) const;
  int IndexOf(const TFFmpeg* task) const;
  int Count() const { return static_cast<int>(FList.size()); }
  // Whether `path` is (by file identity) an input of any task.
  bool IsInputOfAnyTask(const std::string& path) const;
  // Text of an out-of-range task index; empty when it is in range.
  std::string CheckIndex(int index) const;

  // Pauses or resumes every task that runs on a worker thread (at its next
  // packet boundary; a task started later is not affected).
  void PauseAll();
  void ResumeAll();
  // Stops every converting task (waiting for each when `wait`) and
  // terminates every task that was never started, without converting it.
  void StopAll(bool wait);

  // Adds (`on`) or removes a post hook in every task.
  void SetPostHookAll(TPostHook hook, bool on);
  void SetPreviewAll(bool on) { SetPostHookAll(phPreview, on); }
  void SetPreviewBitmapAll(bool on) { SetPostHookAll(phBitmap, on); }

 private:
  std::vector<std::unique_ptr<TFFmpeg>> FList;
};

}  // namespace vidmill
