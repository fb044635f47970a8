// Hand-made catalogue folders for the tests, and a report sink that records.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>
#include <utility>

#include "catalogue/formats_file.h"
#include "report/report_sink.h"

namespace vidmill::testing {

struct TRecordingSink : TReportSink {
  QVector<std::pair<QString, QString>> reports;  // message, mark
  QStringList events;
  void ErrorReport(const QString& message, const QString& mark) override { reports.append({message, mark}); }
  void LogEvent(const QString& text) override { events.append(text); }
  QStringList Marks() const {
    QStringList marks;
    for (const auto& r : reports) marks.append(r.second);
    return marks;
  }
};

// One format line with every attribute; fields not given are derived from the title.
inline QString FormatLine(const QString& id, const QString& title,
                          const QVector<std::pair<QString, QString>>& overrides = {}) {
  QString line = QStringLiteral("<format id=\"%1\" name=\"%2\"").arg(id, title);
  for (const QString& key : FormatKeys()) {
    if (key == "id" || key == "name") continue;
    QString value = key + "-of-" + title;
    for (const auto& [k, v] : overrides) {
      if (k == key) value = v;
    }
    line += QStringLiteral(" %1=\"%2\"").arg(key, value);
  }
  return line + "/>";
}

class TCatalogueFolder {
 public:
  TCatalogueFolder() { QDir(dir_.path()).mkpath("Icons"); }
  QString Path() const { return dir_.path(); }
  QString FilePath(const QString& name) const { return QDir(dir_.path()).filePath(name); }

  void WriteRaw(const QString& name, const QByteArray& bytes) const {
    QFile f(FilePath(name));
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
  }
  void WriteProfiles(const QStringList& category_lines, int height = 470, bool closed = true) const {
    QStringList lines = {"<?xml version=\"1.0\"?>", QStringLiteral("<profile height=\"%1\">").arg(height),
                         "<categories>"};
    lines += category_lines;
    if (closed) lines += QStringList{"</categories>", "</profile>"};
    WriteRaw("Profiles.dat", lines.join("\r\n").toUtf8() + (closed ? "\r\n" : ""));
  }
  // Plain text, scrambled as the program stores it.
  void WriteFormatsText(const QByteArray& plain) const { WriteRaw("Formats.dat", ComplementBytes(plain)); }
  void WriteFormats(const QStringList& format_lines) const {
    QStringList lines = {"<?xml version=\"1.0\"?>", "<vidmill-catalogue>", "<formats>"};
    lines += format_lines;
    lines += QStringList{"</formats>", "</vidmill-catalogue>"};
    WriteFormatsText(lines.join("\n").toUtf8() + "\n");
  }
  void WriteIcon(const QString& file_name, QColor color = Qt::red, int size = 16) const {
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(color);
    image.save(QDir(FilePath("Icons")).filePath(file_name), "BMP");
  }
  void WriteIconBytes(const QString& file_name, const QByteArray& bytes) const {
    WriteRaw("Icons/" + file_name, bytes);
  }

 private:
  QTemporaryDir dir_;
};

}  // namespace vidmill::testing
