// The catalogue's readable sources (data/catalogue) and what is made of them.
//
// profiles.json names the chooser height and the categories in order, each
// with the JSON file of its formats; a formats file holds "defaults" merged
// into each of its "formats". icons.json describes every icon bitmap.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

namespace vidmill::catalogue_gen {

struct TIconSpec {
  QString Name;
  int Size = 32;
  QString Shape;   // phone, tablet, monitor, globe, film, player, disc, frames, note, grid, badge
  QString Color;   // "#rrggbb"
  QString Label;   // short text drawn on the icon, may be empty
};

struct TCategorySpec {
  QString ID;
  QString Title;
  QString Icon;
};

struct TSources {
  int ChooserHeight = 0;
  QVector<TCategorySpec> Categories;
  QVector<QStringList> Formats;  // each: the 25 values in file key order
  QVector<TIconSpec> Icons;
};

// Reads and checks every source file under folder. On a problem returns
// false with every problem found in errors (file and format named).
bool ReadSources(const QString& folder, TSources& out, QStringList& errors);

// The data files' text (before Formats.dat is scrambled).
QByteArray ProfilesText(const TSources& sources);
QByteArray FormatsText(const TSources& sources);

}  // namespace vidmill::catalogue_gen
