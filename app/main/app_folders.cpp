#include "app_folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace vidmill {

QString TAppFolders::Resource(const QString& name) const {
  const QString beside = QDir(Program).filePath(name);
  if (QFileInfo(beside).isDir()) return beside;
  const QString installed = QDir::cleanPath(Program + QStringLiteral("/../share/vidmill/") + name);
  return QFileInfo(installed).isDir() ? installed : beside;
}

QString TAppFolders::DataFolder() const { return Resource(QStringLiteral("vidmill-profiles")); }
QString TAppFolders::CommonData() const { return Resource(QString::fromLatin1(kCommonDataName)); }
QString TAppFolders::LibAV() const { return QDir(Program).filePath(QString::fromLatin1(kLibAVName)); }

QString TAppFolders::OwnDocuments() const {
  if (Documents.isEmpty()) return QString();
  return QDir(Documents).filePath(QStringLiteral("Tarnwick/Tarnwick Vidmill"));
}
QString TAppFolders::Output() const {
  return OwnDocuments().isEmpty() ? QString() : QDir(OwnDocuments()).filePath(QStringLiteral("Output"));
}
QString TAppFolders::ScreenShots() const {
  return OwnDocuments().isEmpty() ? QString() : QDir(OwnDocuments()).filePath(QStringLiteral("ScreenShots"));
}
QString TAppFolders::FallbackOutput() const { return QDir(Home).filePath(QString::fromLatin1(kFallbackFolderName)); }

TAppFolders SystemFolders() {
  TAppFolders f;
  f.Program = QCoreApplication::applicationDirPath();
  f.Documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  f.Videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
  f.Temp = QDir::tempPath() + QDir::separator();
  f.Home = QDir::homePath();
  return f;
}

void CreateDocumentFolders(const TAppFolders& folders) {
  if (folders.Documents.isEmpty()) return;
  // A fresh account may have no documents folder yet.
  if (!QFileInfo(folders.Documents).isDir()) QDir().mkpath(folders.Documents);
  QDir docs(folders.Documents);
  const QString tarnwick = docs.filePath(QStringLiteral("Tarnwick"));
  for (const QString& path : {tarnwick, folders.OwnDocuments(), folders.Output(), folders.ScreenShots()}) {
    if (!QFileInfo(path).isDir()) QDir().mkdir(path);  // one level; the parent must exist
  }
}

}  // namespace vidmill
