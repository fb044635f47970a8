// "vidmill-cli convert --profile CATEGORY/FORMAT": the command line's
// profile conversions through the window's own catalogue and job assembly.
// Linked into vidmill-cli when the application is built; installs itself as
// the command's profile job builder before main() runs.
#include <cstdio>
#include <string>
#include <vector>

#include <QDir>
#include <QFileInfo>
#include <QString>

#include "catalogue/catalogue.h"
#include "convert_command.h"
#include "core/ff_utils.h"
#include "job_assembly.h"
#include "profile_job.h"
#include "report/report_sink.h"
#include "task_sink.h"
#include "transcode/custom_encoder.h"

namespace vidmill {
namespace {

// Catalogue failures go to stderr; there is no events log here.
struct TStderrReports : TReportSink {
  void ErrorReport(const QString& message, const QString& mark) override {
    std::fprintf(stderr, "vidmill-cli convert: %s (%s)\n", qPrintable(message), qPrintable(mark));
  }
  void LogEvent(const QString&) override {}
};

// The data folder beside the program, or share/vidmill of an installed one.
QString DataFolder() {
  const QString program = QString::fromStdString(ProgramFolder());
  const QString beside = QDir(program).filePath(QString::fromLatin1(kDataFolderName));
  if (QFileInfo(beside).isDir()) return beside;
  return QDir::cleanPath(program + QStringLiteral("/../share/vidmill/") + QString::fromLatin1(kDataFolderName));
}

bool BuildProfileTasks(const cli::TConvertArgs& args, TCustomEncoder& encoder, std::vector<std::string>* outputs,
                       std::string* error) {
  if (!args.options.empty()) {
    *error = "-o options cannot be combined with --profile (the profile sets every option)";
    return false;
  }
  TProfileJobRequest request;
  request.Profile = QString::fromStdString(args.profile);
  request.OutputFolder = QString::fromStdString(args.output);
  request.Merge = args.join;
  for (const std::string& input : args.inputs) request.Inputs << QString::fromStdString(input);
  if (!QFileInfo(request.OutputFolder).isDir()) {
    *error = "--profile writes into a folder: --output must name an existing folder";
    return false;
  }
  TStderrReports reports;
  TCatalogue catalogue(reports);
  catalogue.Load(DataFolder());
  if (catalogue.IsEmpty()) {
    *error = "the profile catalogue in " + DataFolder().toStdString() + " holds no formats";
    return false;
  }
  QVector<TVideoFile> entries;
  TJobPlan plan;
  QString why;
  if (!BuildProfileJob(request, catalogue, encoder.Decoder(), &entries, &plan, &why)) {
    *error = why.toStdString();
    return false;
  }
  TEncoderTaskSink<TCustomEncoder> sink(encoder);
  TJobError job_error;
  if (!SubmitJobPlan(plan, sink, &job_error)) {
    *error = job_error.Message.toStdString() + " (" + job_error.Mark.toStdString() + ")";
    return false;
  }
  for (const QString& path : plan.OutputPaths) outputs->push_back(path.toStdString());
  return true;
}

const bool kInstalled = [] {
  cli::SetProfileJobBuilder(&BuildProfileTasks);
  return true;
}();

}  // namespace
}  // namespace vidmill
