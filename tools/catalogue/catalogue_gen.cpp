// vidmill-catalogue-gen SOURCE_FOLDER DATA_FOLDER
//
// Checks the catalogue sources and writes DATA_FOLDER/Profiles.dat,
// DATA_FOLDER/Formats.dat (every byte complemented) and DATA_FOLDER/Icons/*.bmp,
// then reads them back with the application's reader to make sure they give
// exactly the sources' categories and formats.
#include <cstdio>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSaveFile>

#include "catalogue/formats_file.h"
#include "catalogue/profile_icons.h"
#include "catalogue/profiles_file.h"
#include "catalogue_sources.h"
#include "icon_painter.h"

using namespace vidmill;
using namespace vidmill::catalogue_gen;

namespace {

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
    return false;
  }
  return true;
}

bool WriteIcons(const TSources& sources, const QString& folder) {
  QDir().mkpath(folder);
  for (const QFileInfo& old : QDir(folder).entryInfoList({"*.bmp"}, QDir::Files)) QFile::remove(old.filePath());
  for (const TIconSpec& spec : sources.Icons) {
    const QImage image = PaintIcon(spec);
    const QString path = QDir(folder).filePath(spec.Name + ".bmp");
    if (image.isNull() || !image.save(path, "BMP")) {
      std::fprintf(stderr, "cannot draw icon %s (shape \"%s\")\n", qPrintable(spec.Name), qPrintable(spec.Shape));
      return false;
    }
  }
  return true;
}

bool ReadBack(const TSources& sources, const QString& out) {
  TProfilesFile profiles;
  QVector<TFormat> formats;
  QString reason;
  if (!ReadProfilesFile(QDir(out).filePath("Profiles.dat"), profiles, reason) ||
      !ReadFormatsFile(QDir(out).filePath("Formats.dat"), formats, reason)) {
    std::fprintf(stderr, "read-back failed: %s\n", qPrintable(reason));
    return false;
  }
  bool same = profiles.ChooserHeight == sources.ChooserHeight &&
              profiles.Categories.size() == sources.Categories.size() &&
              formats.size() == sources.Formats.size();
  for (qsizetype i = 0; same && i < formats.size(); ++i) {
    same = FormatFieldValues(formats[i]) == sources.Formats[i];
  }
  for (qsizetype i = 0; same && i < profiles.Categories.size(); ++i) {
    same = profiles.Categories[i].ID == sources.Categories[i].ID &&
           profiles.Categories[i].Title == sources.Categories[i].Title &&
           profiles.Categories[i].Icon == sources.Categories[i].Icon;
  }
  const TIconFolder icons = LoadIconFolder(QDir(out).filePath("Icons"));
  same = same && icons.Rejected.isEmpty() && icons.Icons.size() == sources.Icons.size();
  if (!same) std::fprintf(stderr, "the data files do not read back as their sources\n");
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  // Icons are drawn with fonts, which need a (window-less) GUI application.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: vidmill-catalogue-gen SOURCE_FOLDER DATA_FOLDER\n");
    return 2;
  }
  const QString source = QString::fromLocal8Bit(argv[1]);
  const QString out = QString::fromLocal8Bit(argv[2]);
  TSources sources;
  QStringList errors;
  if (!ReadSources(source, sources, errors)) {
    for (const QString& e : errors) std::fprintf(stderr, "%s\n", qPrintable(e));
    return 1;
  }
  QDir().mkpath(out);
  const bool ok = WriteFile(QDir(out).filePath("Profiles.dat"), ProfilesText(sources)) &&
                  WriteFile(QDir(out).filePath("Formats.dat"), ComplementBytes(FormatsText(sources))) &&
                  WriteIcons(sources, QDir(out).filePath("Icons")) && ReadBack(sources, out);
  if (ok) {
    std::printf("%lld categories, %lld formats, %lld icons in %s\n",
                static_cast<long long>(sources.Categories.size()),
                static_cast<long long>(sources.Formats.size()),
                static_cast<long long>(sources.Icons.size()), qPrintable(out));
  }
  return ok ? 0 : 1;
}
