// TConversionList: the conversion list's entries, in list order, as the
// table model the main window's grid shows.
//
// Columns: "Source", "Trimmed Length", "Estimated Size", "Destination
// File", "Format". The trim and crop dialogs edit an entry in place through
// MutableEntry and then call EntryChanged.
//
// Thread rules: main thread only.
#pragma once

#include <QAbstractTableModel>
#include <QVector>

#include "catalogue/profile_types.h"
#include "video_file.h"

namespace vidmill {

class TCatalogue;

enum TListColumn : int {
  lcSource = 0,
  lcTrimmedLength = 1,
  lcEstimatedSize = 2,
  lcDestination = 3,
  lcFormat = 4,
  kListColumnCount = 5,
};

class TConversionList : public QAbstractTableModel {
  Q_OBJECT
 public:
  // catalogue gives the entries' formats; it must outlive the list.
  explicit TConversionList(const TCatalogue& catalogue, QObject* parent = nullptr);

  int Count() const { return static_cast<int>(entries_.size()); }
  bool IsEmpty() const { return entries_.isEmpty(); }
  const QVector<TVideoFile>& Entries() const { return entries_; }
  // Bounds-checked: null for an index that names no entry.
  const TVideoFile* Entry(int index) const;
  TVideoFile* MutableEntry(int index);
  // Refreshes the row of an entry edited through MutableEntry.
  void EntryChanged(int index);

  // Appends an entry, computing its estimated size; returns its index.
  int Append(TVideoFile entry);
  bool Remove(int index);
  void Clear();
  // Exchange with the neighbour; false (nothing changes) at the list's ends.
  bool MoveUp(int index);
  bool MoveDown(int index);
  // Sets the destination title when it is a valid one; else false with the reason.
  bool Rename(int index, const QString& title, QString* reason);
  // Sets an entry's format and recomputes its size.
  bool SetFormat(int index, TFormatIndex format);
  // Every entry gets the format; sizes are recomputed.
  void ApplyFormatToAll(TFormatIndex format);
  // Recomputes an entry's size estimate (after a trim or a settings change).
  void UpdateSize(int index);
  void UpdateAllSizes();

  // The entry's format, or null when the catalogue has none at its address.
  const TFormat* FormatOf(const TVideoFile& entry) const;

  // QAbstractTableModel
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // The cell text of an entry's column.
  QString CellText(const TVideoFile& entry, int column) const;

 private:
  void RowChanged(int row);

  const TCatalogue& catalogue_;
  QVector<TVideoFile> entries_;
};

}  // namespace vidmill
