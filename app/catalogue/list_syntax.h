// The catalogue's two list syntaxes and the resolution text.
//
// Value/label list: items separated by commas, each "value$label", e.g.
// "25000$25 fps,30000$30 fps". A list without dollar signs has labels only.
// Resolution list: labels "width*height" separated by commas.
#pragma once

#include <QString>
#include <QStringList>

namespace vidmill {

struct TValueLabelList {
  QStringList Values;
  QStringList Labels;  // Labels[i] belongs to Values[i]
};

// Splits a value/label list by one left-to-right scan: "$" ends a value,
// "," ends a label, the text after the last comma is the last label.
TValueLabelList SplitValueLabelList(const QString& text);
QStringList ValuesOf(const QString& text);
QStringList LabelsOf(const QString& text);

// Width of a resolution text: the characters before the first "*"; height:
// those after the last "*". A part that is not a decimal integer, or a text
// without "*", reads as "-1".
QString ResolutionWidth(const QString& resolution);
QString ResolutionHeight(const QString& resolution);

// A frame rate in thousandths of a frame per second as an exact fraction:
// the NTSC family (23976, 29970, 59940: n*1000/1001) as n*1000/1001, every
// other rate reduced (25000 -> 25/1, 12500 -> 25/2). {0, 1} for a value that
// is not a positive decimal integer.
struct TFrameRate {
  int Num = 0;
  int Den = 1;
  bool operator==(const TFrameRate&) const = default;
};
TFrameRate FrameRateFraction(const QString& thousandths);

// True when text is an optional sign followed by decimal digits only.
bool IsDecimalInteger(const QString& text);

}  // namespace vidmill
