// A conversion described by a profile name, for the command line:
// "vidmill-cli convert --profile "CATEGORY/FORMAT" INPUT... --output FOLDER".
//
// The same steps as the window: the catalogue from the data folder, each
// input probed into a list entry, the entries' records from job assembly.
// The caller hands the plan to its encoder with SubmitJobPlan.
//
// Thread rules: the calling thread only (no windows involved).
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include "job_assembly.h"
#include "video_file.h"

namespace vidmill {

class TCatalogue;
class TCustomDecoder;

struct TProfileJobRequest {
  QString Profile;          // "CATEGORY/FORMAT" (or a format title alone)
  QStringList Inputs;       // source files, in list order
  QString OutputFolder;     // an existing folder
  bool Merge = false;       // one "Joined" output of every input
  bool ReplaceExisting = false;
};

// Fills *entries and *plan. False with the reason in *error when the profile
// names no format, an input cannot be probed ("<file>: is not a valid media
// file or its format is not supported (<probe's reason>)"), the output folder
// does not exist, or job assembly refuses (its message). The catalogue must
// be loaded; decoder's libraries must be loaded.
bool BuildProfileJob(const TProfileJobRequest& request, const TCatalogue& catalogue, TCustomDecoder& decoder,
                     QVector<TVideoFile>* entries, TJobPlan* plan, QString* error);

}  // namespace vidmill
