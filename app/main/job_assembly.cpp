#include "job_assembly.h"

#include "catalogue/catalogue.h"
#include "catalogue/list_syntax.h"
#include "catalogue/profile_types.h"
#include "picture_geometry.h"
#include "report/error_marks.h"
#include "task_sink.h"

namespace vidmill {
namespace {

// The conversion error of a field that must hold a decimal integer.
QString NotAnIntegerText(const QString& text) {
  return QStringLiteral("'%1' is not a valid integer value").arg(text);
}

bool IntegerOf(const QString& text, int32_t* value, TJobError* error) {
  const QString t = text.trimmed();
  bool ok = IsDecimalInteger(t);
  const int v = ok ? t.toInt(&ok) : 0;
  if (!ok) {
    *error = {NotAnIntegerText(text), QString()};
    return false;
  }
  *value = v;
  return true;
}

void AppendFilter(std::string& chain, const QString& filter) {
  if (!chain.empty()) chain += ',';
  chain += filter.toStdString();
}

bool IsAudioFormat(const TFormat& f) { return f.IsAudioFormat.trimmed() == QLatin1String("1"); }

// A title that keeps the output inside its folder (titles made from file
// names may hold "..", which is harmless without a separator).
bool IsSafeTitle(const QString& title) {
  if (title.trimmed().isEmpty() || title == QLatin1String(".") || title == QLatin1String("..")) return false;
  if (title.contains(u'/') || title.contains(u'\\')) return false;
  for (const QChar c : title) {
    if (c.category() == QChar::Other_Control) return false;
  }
  return true;
}

bool VideoSettings(const TVideoFile& entry, const TFormat& f, bool crop_and_pad, TOutputOptions* out,
                   TJobError* error) {
  out->VideoCodec = f.VideoCodecName.toStdString();
  const TFrameRate rate = FrameRateFraction(f.FrameRate.trimmed());
  if (rate.Num <= 0) {
    *error = {NotAnIntegerText(f.FrameRate), QString()};
    return false;
  }
  out->FrameRate = rate.Den == 1 ? std::to_string(rate.Num)
                                 : std::to_string(rate.Num) + "/" + std::to_string(rate.Den);
  if (!IntegerOf(f.VideoBitRate, &out->VideoBitrate, error)) return false;
  if (f.Title.toLower().contains(QLatin1String("divx"))) out->VideoTag = "DIVX";
  if (out->VideoCodec == "libx264") out->VideoPreset = "libx264-default";
  if (!f.ExtraParam.isEmpty()) out->ExtOptions = f.ExtraParam.toStdString();

  if (entry.Brightness != 0 || entry.Contrast != 0)
    AppendFilter(out->VideoFilters, QStringLiteral("nativeeq=%1:%2").arg(entry.Brightness).arg(entry.Contrast));
  if (entry.Saturation != 0)
    AppendFilter(out->VideoFilters, QStringLiteral("nativehue=0:%1").arg(entry.Saturation));

  if (out->VideoCodec == "libxvid") {
    out->VideoCodec = "mpeg4";
    out->VideoTag = "XVID";
  }
  if (entry.isSourceAudioFormat) return true;  // nothing to shape without a picture

  TGeometryInput g;
  if (!IntegerOf(f.Width, &g.Width, error) || !IntegerOf(f.Height, &g.Height, error)) return false;
  g.SourceWidth = entry.SourceWidth;
  g.SourceHeight = entry.SourceHeight;
  g.CropLeft = entry.CropLeft;
  g.CropTop = entry.CropTop;
  g.CropRight = entry.CropRight;
  g.CropBottom = entry.CropBottom;
  g.Aspect = entry.AspectRatio;
  g.PixelAspect = entry.SourcePixelAspect;
  g.CropAndPad = crop_and_pad;
  QString why;
  const std::optional<TGeometry> geometry = ComputeGeometry(g, &why);
  if (!geometry) {
    *error = {why, QString::fromLatin1(clm::kSetCropFilters)};
    return false;
  }
  for (const QString& filter : geometry->Filters()) AppendFilter(out->VideoFilters, filter);
  return true;
}

bool AllSameSize(const QVector<TVideoFile>& entries) {
  for (const TVideoFile& e : entries) {
    if (e.SourceWidth != entries.front().SourceWidth || e.SourceHeight != entries.front().SourceHeight)
      return false;
  }
  return true;
}

}  // namespace

bool FillEntryOptions(const TVideoFile& entry, const TFormat& f, bool crop_and_pad, TInputOptions* in,
                      TOutputOptions* out, TJobError* error) {
  InitInputOptions(in);
  InitOutputOptions(out);
  in->FileName = entry.Source.toStdString();
  out->FileExt = f.FormatExt.toStdString();
  out->AudioCodec = f.AudioCodecName.toStdString();
  if (!IntegerOf(f.Channel, &out->AudioChannels, error) ||
      !IntegerOf(f.SampleRate, &out->AudioSampleRate, error) ||
      !IntegerOf(f.AudioBitRate, &out->AudioBitrate, error))
    return false;
  if (IsAudioFormat(f)) {
    out->DisableVideo = true;
    return true;
  }
  return VideoSettings(entry, f, crop_and_pad, out, error);
}

bool BuildJobPlan(const QVector<TVideoFile>& entries, const TCatalogue& catalogue, const TJobSettings& settings,
                  TJobPlan* plan, TJobError* error) {
  *plan = TJobPlan();
  plan->OutputFolder = settings.OutputFolder;
  plan->Merge = settings.MergeTicked && entries.size() >= 2;
  const int n = static_cast<int>(entries.size());
  plan->MergeEntry = settings.SelectedEntry >= 0 && settings.SelectedEntry < n ? settings.SelectedEntry : 0;
  plan->Inputs.resize(n);
  plan->Outputs.resize(n);
  const bool crop_and_pad = !plan->Merge || AllSameSize(entries);

  QStringList sources;
  for (const TVideoFile& e : entries) sources << e.Source;
  TOutputNamer namer(sources, settings.ReplaceExisting, settings.Exists);

  for (int i = 0; i < n; ++i) {
    const TVideoFile& e = entries[i];
    const TFormat* f = catalogue.FormatAt({e.ProfileInd, e.FormatInd});
    if (!f) {
      *error = {QStringLiteral("The output format of \"%1\" does not exist in the catalogue.").arg(e.SourceTitleExt),
                QString()};
      return false;
    }
    TInputOptions& in = plan->Inputs[i];
    TOutputOptions& out = plan->Outputs[i];
    if (!FillEntryOptions(e, *f, crop_and_pad, &in, &out, error)) return false;
    if (plan->Merge) continue;

    // Trim: a start of 0 or more, a length only for a real range.
    if (e.TimeStart >= 0) in.TimeStart = e.TimeStart;
    if (e.TimeStart >= 0 && e.TimeEnd > e.TimeStart) out.TimeLength = e.TimeEnd - e.TimeStart;
    out.Info.TimeStamp = 0;
    const QString path = IsSafeTitle(e.DestinationTitle)
                             ? namer.Claim(settings.OutputFolder, e.DestinationTitle, f->FormatExt)
                             : QString();
    if (path.isEmpty()) {
      *error = {QString::fromLatin1(clm::kSetOutputFileMsg) +
                    QStringLiteral("no usable file name for \"%1\".").arg(e.DestinationTitle) +
                    QStringLiteral("\r\n") + QString::fromLatin1(clm::kSetOutputFileHint),
                QString::fromLatin1(clm::kSetOutputFile)};
      return false;
    }
    out.FileName = path.toStdString();
    plan->OutputPaths << path;
    plan->TaskEntries.append(QVector<int>{i});
  }

  if (plan->Merge) {
    const TVideoFile& chosen = entries[plan->MergeEntry];
    const TFormat* f = catalogue.FormatAt({chosen.ProfileInd, chosen.FormatInd});
    const QString path = namer.Claim(settings.OutputFolder, QString::fromLatin1(kJoinedTitle), f->FormatExt);
    if (path.isEmpty()) {
      *error = {QString::fromLatin1(clm::kSetOutputFileMergeMsg) + QStringLiteral("no free file name."),
                QString::fromLatin1(clm::kSetOutputFileMerge)};
      return false;
    }
    TOutputOptions& out = plan->Outputs[plan->MergeEntry];
    out.Join = true;
    out.FileName = path.toStdString();
    plan->OutputPaths << path;
    QVector<int> all;
    for (int i = 0; i < n; ++i) all << i;
    plan->TaskEntries.append(all);
  }
  return true;
}

bool SubmitJobPlan(TJobPlan& plan, TTaskSink& sink, TJobError* error) {
  auto fail = [&](const QString& message, const char* mark) {
    *error = {message, QString::fromLatin1(mark)};
    sink.ClearTasks();
    return false;
  };
  sink.ClearTasks();
  const int n = static_cast<int>(plan.Inputs.size());
  for (int i = 0; i < n; ++i) {
    TInputOptions& in = plan.Inputs[i];
    const std::string source = in.FileName;
    if (plan.Merge) {
      if (sink.TasksCount() == 0) {
        if (sink.AddTask(source, &in) < 0)
          return fail(QString::fromStdString(sink.LastErrMsg()), clm::kFFAddTaskToMerged);
      } else if (!sink.AddInputFile(0, source, &in)) {
        return fail(QString::fromStdString(sink.LastErrMsg()), clm::kFFAddInputFileToMerged);
      }
      continue;
    }
    const int task = sink.AddTask(source, &in);
    if (task < 0) return fail(QString::fromStdString(sink.LastErrMsg()), clm::kFFAddTaskToMeged);
    TOutputOptions& out = plan.Outputs[i];
    if (!sink.SetOutputFile(task, out.FileName, &out))
      return fail(QString::fromLatin1(clm::kSetOutputFileMsg) + QString::fromStdString(sink.LastErrMsg()) +
                      QStringLiteral("\r\n") + QString::fromLatin1(clm::kSetOutputFileHint),
                  clm::kSetOutputFile);
  }
  if (plan.Merge) {
    TOutputOptions& out = plan.Outputs[plan.MergeEntry];
    if (!sink.SetOutputFile(0, out.FileName, &out))
      return fail(QString::fromLatin1(clm::kSetOutputFileMergeMsg) + QString::fromStdString(sink.LastErrMsg()),
                  clm::kSetOutputFileMerge);
  }
  return true;
}

}  // namespace vidmill
