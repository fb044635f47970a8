#include "icon_painter.h"

#include <functional>
#include <map>

#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace vidmill::catalogue_gen {
namespace {

// Every shape is drawn on a 100 x 100 canvas scaled to the icon's size.
using TShape = std::function<void(QPainter&, const QColor&)>;

void Device(QPainter& p, const QColor& c, QRectF body, qreal radius) {
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawRoundedRect(body, radius, radius);
  p.setBrush(QColor(235, 243, 250));
  p.drawRect(body.adjusted(7, 10, -7, -16));
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(body.center().x(), body.bottom() - 8), 4, 4);
}

void Monitor(QPainter& p, const QColor& c) {
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawRoundedRect(QRectF(8, 14, 84, 58), 6, 6);
  p.drawRect(QRectF(42, 72, 16, 10));
  p.drawRoundedRect(QRectF(28, 82, 44, 8), 3, 3);
  p.setBrush(QColor(235, 243, 250));
  p.drawRect(QRectF(15, 21, 70, 44));
}

void Globe(QPainter& p, const QColor& c) {
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(c, 7));
  p.drawEllipse(QPointF(50, 50), 38, 38);
  p.drawEllipse(QPointF(50, 50), 16, 38);
  p.drawLine(QPointF(12, 50), QPointF(88, 50));
  p.drawLine(QPointF(20, 30), QPointF(80, 30));
  p.drawLine(QPointF(20, 70), QPointF(80, 70));
}

void Film(QPainter& p, const QColor& c) {
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawRect(QRectF(10, 16, 80, 68));
  p.setBrush(Qt::white);
  for (int i = 0; i < 5; ++i) {
    p.drawRect(QRectF(14 + i * 15.5, 20, 9, 8));
    p.drawRect(QRectF(14 + i * 15.5, 72, 9, 8));
  }
  p.setBrush(QColor(235, 243, 250));
  p.drawRect(QRectF(16, 33, 30, 34));
  p.drawRect(QRectF(54, 33, 30, 34));
}

void Player(QPainter& p, const QColor& c) {
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawRoundedRect(QRectF(24, 6, 52, 88), 10, 10);
  p.setBrush(QColor(235, 243, 250));
  p.drawRect(QRectF(31, 13, 38, 30));
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(50, 68), 16, 16);
  p.setBrush(c);
  p.drawEllipse(QPointF(50, 68), 6, 6);
}

void Disc(QPainter& p, const QColor& c) {
  QPainterPath disc;
  disc.addEllipse(QPointF(50, 50), 42, 42);
  disc.addEllipse(QPointF(50, 50), 9, 9);
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawPath(disc);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(255, 255, 255, 150), 4));
  p.drawArc(QRectF(22, 22, 56, 56), 30 * 16, 60 * 16);
  p.drawArc(QRectF(22, 22, 56, 56), 210 * 16, 60 * 16);
}

void Frames(QPainter& p, const QColor& c) {
  p.setPen(QPen(Qt::white, 3));
  for (int i = 2; i >= 0; --i) {
    p.setBrush(i == 0 ? c : c.lighter(120 + 25 * i));
    p.drawRoundedRect(QRectF(8 + i * 12, 30 - i * 12, 58, 50), 5, 5);
  }
}

void Note(QPainter& p, const QColor& c) {
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawEllipse(QRectF(14, 64, 26, 20));
  p.drawEllipse(QRectF(56, 56, 26, 20));
  p.drawRect(QRectF(34, 18, 7, 56));
  p.drawRect(QRectF(76, 10, 7, 56));
  QPainterPath beam;
  beam.moveTo(34, 18);
  beam.lineTo(83, 10);
  beam.lineTo(83, 24);
  beam.lineTo(34, 32);
  beam.closeSubpath();
  p.drawPath(beam);
}

void Grid(QPainter& p, const QColor& c) {
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 4; ++i) {
    p.setBrush(i % 3 == 0 ? c : c.lighter(140));
    p.drawRoundedRect(QRectF(10 + (i % 2) * 44, 10 + (i / 2) * 44, 36, 36), 6, 6);
  }
}

void Badge(QPainter& p, const QColor& c) {
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawRoundedRect(QRectF(6, 14, 88, 72), 14, 14);
}

const std::map<QString, TShape>& Shapes() {
  static const std::map<QString, TShape> shapes = {
      {"phone", [](QPainter& p, const QColor& c) { Device(p, c, QRectF(28, 4, 44, 92), 9); }},
      {"tablet", [](QPainter& p, const QColor& c) { Device(p, c, QRectF(14, 6, 72, 88), 8); }},
      {"monitor", Monitor}, {"globe", Globe},   {"film", Film}, {"player", Player},
      {"disc", Disc},       {"frames", Frames}, {"note", Note}, {"grid", Grid},
      {"badge", Badge},
  };
  return shapes;
}

// The label sits in a band across the lower part, or in the middle of a badge.
void Label(QPainter& p, const TIconSpec& spec, const QColor& c) {
  if (spec.Label.isEmpty()) return;
  const bool badge = spec.Shape == "badge";
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setBold(true);
  font.setPixelSize(spec.Label.size() > 3 ? 24 : 30);
  p.setFont(font);
  const QRectF band = badge ? QRectF(6, 14, 88, 72) : QRectF(0, 60, 100, 34);
  if (!badge) {
    p.setPen(Qt::NoPen);
    p.setBrush(c.darker(140));
    p.drawRoundedRect(band, 6, 6);
  }
  p.setPen(Qt::white);
  p.drawText(band, Qt::AlignCenter, spec.Label);
}

}  // namespace

QImage PaintIcon(const TIconSpec& spec) {
  const auto shape = Shapes().find(spec.Shape);
  if (shape == Shapes().end() || spec.Size < 8) return {};
  QImage image(spec.Size, spec.Size, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.scale(spec.Size / 100.0, spec.Size / 100.0);
  const QColor color(spec.Color);
  shape->second(p, color.isValid() ? color : QColor(0x56, 0x92, 0xC6));
  Label(p, spec, color.isValid() ? color : QColor(0x56, 0x92, 0xC6));
  p.end();
  return image.convertToFormat(QImage::Format_RGB888);
}

}  // namespace vidmill::catalogue_gen
