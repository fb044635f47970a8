// The file types the "Open file" dialog offers.
#pragma once

#include <QStringList>

namespace vidmill {

// Name filters for QFileDialog, in the order offered: "All Supported
// Formats", "Video Formats", "Audio Formats", then each of the 17 video and
// 17 audio types, e.g. "AVI files (*.avi)". The first is preselected.
QStringList OpenDialogFilters();

// Every pattern of the table, video types first ("*.mod", "*.mts", ...).
QStringList SupportedPatterns();

}  // namespace vidmill
