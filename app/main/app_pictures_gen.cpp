// vidmill-app-pictures: draws the main window's own pictures into the
// program folder: the getting-started picture "gs.bmp" and the about
// window's "logo.bmp" in the data folder, and the player area's
// "preview.bmp" in "common-data".
//
//   vidmill-app-pictures DATA_FOLDER COMMON_DATA_FOLDER
#include <cstdio>

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

void DrawMill(QPainter& p, QPointF centre, double r, const QColor& colour) {
  p.save();
  p.translate(centre);
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  for (int i = 0; i < 4; ++i) {
    p.save();
    p.rotate(45 + 90 * i);
    QPainterPath sail;
    sail.moveTo(0, 0);
    sail.lineTo(r * 0.18, -r * 0.25);
    sail.lineTo(r * 0.18, -r);
    sail.lineTo(-r * 0.05, -r);
    sail.closeSubpath();
    p.drawPath(sail);
    p.restore();
  }
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(0, 0), r * 0.1, r * 0.1);
  p.restore();
}

QImage GettingStarted() {
  QImage img(420, 300, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  DrawMill(p, QPointF(60, 70), 45, QColor(0x2e, 0x6d, 0xb4));
  QFont big = p.font();
  big.setPixelSize(22);
  big.setBold(true);
  p.setFont(big);
  p.setPen(QColor(0x20, 0x30, 0x40));
  p.drawText(QRect(120, 40, 290, 60), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Getting started"));
  QFont small = p.font();
  small.setPixelSize(15);
  small.setBold(false);
  p.setFont(small);
  const char* const steps[] = {"1.  Add video files (or drop them here)", "2.  Choose a profile below",
                               "3.  Trim or crop an entry if you like", "4.  Press Start"};
  int y = 140;
  for (const char* s : steps) {
    p.drawText(QRect(40, y, 370, 30), Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(s));
    y += 36;
  }
  return img;
}

QImage Logo() {
  QImage img(120, 120, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, 120);
  sky.setColorAt(0, QColor(0xd8, 0xe8, 0xf8));
  sky.setColorAt(1, Qt::white);
  p.fillRect(img.rect(), sky);
  DrawMill(p, QPointF(60, 58), 50, QColor(0x2e, 0x6d, 0xb4));
  return img;
}

QImage PlayerArea() {
  QImage img(480, 270, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient bg(0, 0, 0, 270);
  bg.setColorAt(0, QColor(0x30, 0x30, 0x34));
  bg.setColorAt(1, QColor(0x10, 0x10, 0x12));
  p.fillRect(img.rect(), bg);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 170));
  QPolygonF play;
  play << QPointF(215, 100) << QPointF(215, 170) << QPointF(275, 135);
  p.drawPolygon(play);
  p.setPen(QColor(200, 200, 200));
  QFont f = p.font();
  f.setPixelSize(14);
  p.setFont(f);
  p.drawText(QRect(0, 190, 480, 30), Qt::AlignCenter, QStringLiteral("Select a file and press Play"));
  return img;
}

bool Save(const QImage& image, const QString& folder, const char* name) {
  QDir().mkpath(folder);
  const QString path = QDir(folder).filePath(QString::fromLatin1(name));
  if (image.save(path, "BMP")) return true;
  std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: vidmill-app-pictures DATA_FOLDER COMMON_DATA_FOLDER\n");
    return 2;
  }
  const QString data = QString::fromLocal8Bit(argv[1]);
  const QString common = QString::fromLocal8Bit(argv[2]);
  const bool ok = Save(GettingStarted(), data, "gs.bmp") && Save(Logo(), data, "logo.bmp") &&
                  Save(PlayerArea(), common, "preview.bmp");
  return ok ? 0 : 1;
}
