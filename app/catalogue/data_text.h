// Text helpers shared by the readers of Profiles.dat and Formats.dat.
//
// Both files write every attribute as key="value" on one line. Values have no
// escaping, so a value ends at the next double quote.
#pragma once

#include <QString>
#include <QStringList>

namespace vidmill {

// The value of the first key="..." found at or after from. value_end (when
// given) receives the position of the value's closing quote, or from when the
// key is missing. A missing key, or a value whose closing quote is missing
// (a cut-off line), reads as "".
QString AttributeValue(const QString& line, const QString& key, qsizetype from = 0,
                       qsizetype* value_end = nullptr);

// Splits text into lines at CR LF, LF or CR; a line break at the very end
// does not start another line.
QStringList SplitTextLines(const QString& text);

// Removes blanks and control characters from both ends.
QString TrimControls(const QString& text);

}  // namespace vidmill
