#include "profile_job.h"

#include <QFileInfo>

#include "catalogue/catalogue.h"
#include "format_lookup.h"
#include "probe_entry.h"
#include "size_estimate.h"

namespace vidmill {

bool BuildProfileJob(const TProfileJobRequest& request, const TCatalogue& catalogue, TCustomDecoder& decoder,
                     QVector<TVideoFile>* entries, TJobPlan* plan, QString* error) {
  const std::optional<TFormatIndex> format = FindProfile(catalogue, request.Profile, error);
  if (!format) return false;
  if (!QFileInfo(request.OutputFolder).isDir()) {
    *error = QStringLiteral("The output folder \"%1\" does not exist.").arg(request.OutputFolder);
    return false;
  }
  entries->clear();
  for (const QString& input : request.Inputs) {
    QString why;
    std::optional<TVideoFile> entry = ProbeVideoFile(input, decoder, format->Category, format->Position, &why);
    if (!entry) {
      *error = QStringLiteral("%1: is not a valid media file or its format is not supported (%2)").arg(input, why);
      return false;
    }
    UpdateEstimatedSize(*entry, *catalogue.FormatAt(*format));
    entries->append(*entry);
  }
  TJobSettings settings;
  settings.OutputFolder = request.OutputFolder;
  settings.MergeTicked = request.Merge;
  settings.SelectedEntry = 0;
  settings.ReplaceExisting = request.ReplaceExisting;
  TJobError job_error;
  if (!BuildJobPlan(*entries, catalogue, settings, plan, &job_error)) {
    *error = job_error.Message;
    return false;
  }
  return true;
}

}  // namespace vidmill
