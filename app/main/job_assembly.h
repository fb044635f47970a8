// Job assembly: turns conversion-list entries and their catalogue formats
// into the encoder's option records and hands them to the encoder.
//
// One task per entry writes "output folder/DestinationTitle + FormatExt";
// in merge mode ("Merge to one file" with two entries or more) one task
// reads every entry in list order and writes "Joined" + the extension of
// the chosen entry, with that entry's settings. The window and
// "vidmill-cli convert --profile" both go through these two calls.
//
// Thread rules: main thread (SubmitJobPlan calls into the encoder).
#pragma once

#include <vector>

#include <QString>
#include <QStringList>
#include <QVector>

#include "output_names.h"
#include "transcode/option_records.h"
#include "video_file.h"

namespace vidmill {

class TCatalogue;
struct TFormat;
class TTaskSink;

inline constexpr char kJoinedTitle[] = "Joined";

struct TJobSettings {
  QString OutputFolder;        // the run's output folder (it exists)
  bool MergeTicked = false;    // "Merge to one file"
  int SelectedEntry = -1;      // the list's selected entry; -1 for none
  bool ReplaceExisting = false;  // replace existing files that are no source
  TOutputNamer::TExists Exists;  // file test for free names (the file system when empty)
};

// What went wrong, for the error report (Mark "CLM_...") or, without a
// mark, for a plain warning (a format field that is not a number).
struct TJobError {
  QString Message;
  QString Mark;
};

struct TJobPlan {
  bool Merge = false;     // one joined output
  int MergeEntry = 0;     // the entry whose settings the joined output takes
  QString OutputFolder;
  // One record each per entry, same index; they stay alive until the run ends.
  std::vector<TInputOptions> Inputs;
  std::vector<TOutputOptions> Outputs;
  // Per task: the output path (one per entry, or the joined output).
  QStringList OutputPaths;
  // Per task: the entries it reads.
  QVector<QVector<int>> TaskEntries;
};

// Fills the records of every entry. False with *error when an entry's
// format is missing, a format field is not a number, the crop leaves no
// picture ("CLM_SetCropFilters"), a title is unusable or no free output
// name is left ("CLM_SetOutputFile" / "CLM_SetOutputFileMerge").
bool BuildJobPlan(const QVector<TVideoFile>& entries, const TCatalogue& catalogue,
                  const TJobSettings& settings, TJobPlan* plan, TJobError* error);

// The records of one entry (no output name, no trim): exposed for tests
// and tools. crop_and_pad false leaves crop and pad out.
bool FillEntryOptions(const TVideoFile& entry, const TFormat& format, bool crop_and_pad,
                      TInputOptions* input, TOutputOptions* output, TJobError* error);

// Clears the encoder's tasks and adds the plan's tasks and outputs. On a
// failure the tasks added so far are cleared again and *error tells why,
// with the mark of the step that failed.
bool SubmitJobPlan(TJobPlan& plan, TTaskSink& sink, TJobError* error);

}  // namespace vidmill
