#include "picture_geometry.h"

#include <cmath>
#include <limits>

#include "video_file.h"

namespace vidmill {
namespace {

int EvenDown(int v) { return v > 0 ? v & ~1 : 0; }

// The nearest even integer to v (ties to the even half).
long long NearestEven(double v) { return 2 * static_cast<long long>(std::nearbyint(v / 2.0)); }

// Largest picture side the filters are given; keeps the arithmetic in range.
constexpr int kMaxSide = 32768;

}  // namespace

QStringList TGeometry::Filters() const {
  QStringList f;
  if (Crop) f << QStringLiteral("crop=%1:%2:%3:%4").arg(CropWidth).arg(CropHeight).arg(CropX).arg(CropY);
  if (Pad) f << QStringLiteral("pad=%1:%2:%3:%4:black").arg(PadWidth).arg(PadHeight).arg(PadX).arg(PadY);
  f << QStringLiteral("scale=%1:%2").arg(Width).arg(Height) << QStringLiteral("setsar=1");
  return f;
}

double DisplayAspectOf(int aspect, int cw, int ch, double pixel_aspect, int width, int height) {
  switch (aspect) {
    case acFullScreen: return static_cast<double>(width) / height;
    case acFourThree: return 4.0 / 3.0;
    case acSixteenNine: return 16.0 / 9.0;
    default: return cw * (pixel_aspect > 0 ? pixel_aspect : 1.0) / ch;
  }
}

std::optional<TGeometry> ComputeGeometry(const TGeometryInput& in, QString* error) {
  auto fail = [error](const QString& text) -> std::optional<TGeometry> {
    if (error) *error = text;
    return std::nullopt;
  };
  if (in.Width <= 0 || in.Height <= 0 || in.Width > kMaxSide || in.Height > kMaxSide)
    return fail(QStringLiteral("The format's picture size %1x%2 is not valid.").arg(in.Width).arg(in.Height));
  TGeometry g;
  g.Width = in.Width;
  g.Height = in.Height;
  if (!in.CropAndPad) return g;
  if (in.SourceWidth <= 0 || in.SourceHeight <= 0 || in.SourceWidth > kMaxSide || in.SourceHeight > kMaxSide)
    return fail(QStringLiteral("The source's picture size %1x%2 is not valid.")
                    .arg(in.SourceWidth).arg(in.SourceHeight));

  const int left = EvenDown(in.CropLeft), top = EvenDown(in.CropTop);
  const int right = EvenDown(in.CropRight), bottom = EvenDown(in.CropBottom);
  int cw = in.SourceWidth - left - right;
  int ch = in.SourceHeight - top - bottom;
  if (cw < 2 || ch < 2)
    return fail(QStringLiteral("The crop %1, %2, %3, %4 (left, top, right, bottom) leaves no picture of the %5x%6 source.")
                    .arg(in.CropLeft).arg(in.CropTop).arg(in.CropRight).arg(in.CropBottom)
                    .arg(in.SourceWidth).arg(in.SourceHeight));
  if (left || top || right || bottom) {
    cw = EvenDown(cw);
    ch = EvenDown(ch);
    g.Crop = true;
    g.CropWidth = cw;
    g.CropHeight = ch;
    g.CropX = left;
    g.CropY = top;
  }

  const double frame = static_cast<double>(in.Width) / in.Height;
  const double shown = DisplayAspectOf(in.Aspect, cw, ch, in.PixelAspect, in.Width, in.Height);
  long long pad_x = 0, pad_y = 0;
  if (shown > frame) {
    // Wider than the frame: the picture spans the width; bars above and below.
    const double padded_height = ch * shown / frame;
    pad_y = NearestEven((padded_height - ch) / 2.0);
  } else if (shown < frame) {
    const double padded_width = cw * frame / shown;
    pad_x = NearestEven((padded_width - cw) / 2.0);
  }
  if (pad_x > 0 || pad_y > 0) {
    const long long pw = cw + 2 * pad_x, ph = ch + 2 * pad_y;
    if (pw > kMaxSide || ph > kMaxSide)
      return fail(QStringLiteral("The padded picture %1x%2 is too large.").arg(pw).arg(ph));
    g.Pad = true;
    g.PadWidth = static_cast<int>(pw);
    g.PadHeight = static_cast<int>(ph);
    g.PadX = static_cast<int>(pad_x);
    g.PadY = static_cast<int>(pad_y);
  }
  return g;
}

}  // namespace vidmill
