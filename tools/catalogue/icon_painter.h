// Draws the catalogue's icon bitmaps from their descriptions.
#pragma once

#include <QImage>

#include "catalogue_sources.h"

namespace vidmill::catalogue_gen {

// A Size x Size picture on white (the chooser's cells are white); a null
// image for an unknown shape.
QImage PaintIcon(const TIconSpec& spec);

}  // namespace vidmill::catalogue_gen
