// Reader of Formats.dat: one format per line.
//
// The file is stored scrambled, each byte complemented. Unscrambled, its
// first three and last two lines are not formats; every line between holds
// one format as 25 key="value" attributes (see TFormat).
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include "profile_types.h"

namespace vidmill {

// Complements every byte (the scrambling is its own inverse).
QByteArray ComplementBytes(QByteArray bytes);
// Text of unscrambled bytes: a byte-order mark selects UTF-8 or UTF-16,
// otherwise UTF-8.
QString DecodeFormatsText(const QByteArray& plain);

// The format of one line. Each key is found at its first occurrence from the
// start of the line ("frame_rate" with a blank in front, so the one inside
// "keep_ori_frame_rate" is not taken); a missing key reads as "".
TFormat ParseFormatLine(const QString& line);

// The attribute keys in field order, as written in the file.
const QStringList& FormatKeys();
// The 25 fields of format in the order of FormatKeys().
QStringList FormatFieldValues(const TFormat& format);

// Reads path, appending its formats to out in file order. False for a file
// that is missing, unreadable or empty, with a short reason for the events
// log; a file of five lines or fewer otherwise gives no formats and true.
bool ReadFormatsFile(const QString& path, QVector<TFormat>& out, QString& reason);

}  // namespace vidmill
