// TVideoFile: one entry of the conversion list.
//
// Holds the source's identity and probe results, the user's edits (trim,
// crop, aspect, picture adjustment, destination title) and the entry's
// output format as a catalogue address. The trim and crop dialogs edit an
// entry in place; job assembly turns it into a task.
#pragma once

#include <cstdint>

#include <QString>

namespace vidmill {

// Output aspect choices, the item order of the crop dialog's aspect list.
enum TAspectChoice : int32_t {
  acKeepOriginal = 0,  // the picture keeps its own shape
  acFullScreen = 1,    // the picture is stretched to fill the output frame
  acFourThree = 2,     // shown at 4:3
  acSixteenNine = 3,   // shown at 16:9
};

struct TVideoFile {
  QString Source;                    // full path of the source file
  bool isSourceAudioFormat = false;  // the source has no video stream
  QString SourceTitleExt;            // file name without folder, with extension
  int64_t TrimmedLength = -1;        // microseconds to convert; -1 when the file states no duration
  double EstimatedSize = 0.0;        // estimated output size in MB (10^6 bytes)
  QString DestinationTitle;          // output file name without folder and extension
  QString Status = QStringLiteral("-");
  int64_t TimeStart = 0;             // trim start, microseconds
  int64_t TimeEnd = -1;              // trim end, microseconds; -1: the source's end
  int32_t SourceWidth = -1;          // picture size of the first video stream; -1 without video
  int32_t SourceHeight = -1;
  int32_t CropLeft = 0;              // pixels cut at each side
  int32_t CropTop = 0;
  int32_t CropRight = 0;
  int32_t CropBottom = 0;
  int32_t AspectRatio = acKeepOriginal;  // TAspectChoice
  int32_t Brightness = 0;            // picture adjustments; 0 = none
  int32_t Saturation = 0;
  int32_t Contrast = 0;
  int32_t ProfileInd = 0;            // the entry's format: category index
  int32_t FormatInd = 0;             //   and position in that category
  // Shape of the source's pixels (sample aspect ratio); 1 for square pixels
  // and whenever the file does not say.
  double SourcePixelAspect = 1.0;
  // Index of the first video stream; -1 without video.
  int32_t VideoStreamIndex = -1;
};

}  // namespace vidmill
