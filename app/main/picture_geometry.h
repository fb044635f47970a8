// The picture geometry of one conversion: crop, aspect padding and scaling.
//
// The output frame is the format's Width x Height with square pixels. The
// cropped picture is shown in it at the chosen display aspect: padded with
// black above and below (a wider picture) or at both sides (a narrower one),
// then scaled to the frame. Every crop and pad value is even, so 4:2:0
// pictures keep whole chroma samples.
#pragma once

#include <optional>

#include <QString>
#include <QStringList>

namespace vidmill {

struct TGeometryInput {
  int SourceWidth = 0;   // stored picture size of the source
  int SourceHeight = 0;
  int CropLeft = 0;      // pixels cut at each side
  int CropTop = 0;
  int CropRight = 0;
  int CropBottom = 0;
  int Aspect = 0;        // TAspectChoice: 0 keep, 1 fill the frame, 2 4:3, 3 16:9
  double PixelAspect = 1.0;  // the source's sample aspect ratio (for "keep")
  int Width = 0;         // output frame size
  int Height = 0;
  bool CropAndPad = true;  // false: only scale (a merge of sources of other sizes)
};

struct TGeometry {
  bool Crop = false;
  int CropWidth = 0, CropHeight = 0, CropX = 0, CropY = 0;
  bool Pad = false;
  int PadWidth = 0, PadHeight = 0, PadX = 0, PadY = 0;
  int Width = 0, Height = 0;  // scale target

  // "crop=w:h:x:y", "pad=w:h:x:y:black", "scale=W:H", "setsar=1", each part
  // only when present (scale and setsar always). setsar keeps players from
  // re-shaping the frame: the padding already gives the picture its aspect.
  QStringList Filters() const;
};

// The geometry, or nothing with *error set: a frame size that is not
// positive, or a crop that leaves less than 2 x 2 pixels.
std::optional<TGeometry> ComputeGeometry(const TGeometryInput& in, QString* error);

// The display aspect (width / height) of an aspect choice for a cropped
// picture of cw x ch with the given pixel aspect in a W x H frame.
double DisplayAspectOf(int aspect, int cw, int ch, double pixel_aspect, int width, int height);

}  // namespace vidmill
