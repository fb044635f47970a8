// The profile catalogue's records: formats, categories and icons.
#pragma once

#include <QImage>
#include <QString>
#include <QVector>

namespace vidmill {

// One output format: a complete set of encoding parameters plus the lists of
// alternatives that the settings dialog offers. Every field is text as the
// data file holds it; numbers are decimal texts.
struct TFormat {
  QString FormatExt;         // ".mp4": appended to the destination title
  QString IsAudioFormat;     // "1": audio-only output
  QString Icon;              // icon name (see TProfileIcon)
  QString Category;          // ID of the category the format belongs to
  QString Title;             // display name; "divx" inside selects the DIVX tag
  QString Description;       // shown under the title in the chooser
  QString Resolutions;       // "320*240,640*480": labels only
  QString FrameRates;        // value/label lists: "25000$25 fps,30000$30 fps"
  QString VideoBitRates;
  QString AudioBitRates;
  QString SampleRates;
  QString Channels;
  QString VideoCodecs;
  QString AudioCodecs;
  QString VideoCodecName;    // encoder name, e.g. "libx264"
  QString Width;             // pixels
  QString Height;            // pixels
  QString KeepOriFrameRate;  // carried along; nothing consults it
  QString FrameRate;         // thousandths of a frame per second: "25000"
  QString VideoBitRate;      // bits per second
  QString AudioCodecName;    // encoder name, e.g. "aac"
  QString SampleRate;        // Hz
  QString AudioBitRate;      // bits per second
  QString Channel;           // channel count
  QString ExtraParam;        // option lines for the encoder, "<CRLF>"-separated

  bool operator==(const TFormat&) const = default;
};

// One category of the catalogue, holding its own copies of its formats.
struct TProfile {
  QString Title;
  QString ID;    // matched against TFormat::Category; "0" takes every format
  QString Icon;  // icon shown beside the selected format's title
  QVector<TFormat> Formats;
};

// One bitmap of the Icons folder; ID is its file name without ".bmp".
struct TProfileIcon {
  QString ID;
  QImage Picture;
};

// A format's address: category index and position in that category's Formats.
struct TFormatIndex {
  int Category = 0;
  int Position = 0;
  bool operator==(const TFormatIndex&) const = default;
};

}  // namespace vidmill
