#include "conversion_list.h"

#include "catalogue/catalogue.h"
#include "list_texts.h"
#include "output_names.h"
#include "size_estimate.h"

namespace vidmill {

TConversionList::TConversionList(const TCatalogue& catalogue, QObject* parent)
    : QAbstractTableModel(parent), catalogue_(catalogue) {}

const TVideoFile* TConversionList::Entry(int index) const {
  return index >= 0 && index < Count() ? &entries_[index] : nullptr;
}

TVideoFile* TConversionList::MutableEntry(int index) {
  return index >= 0 && index < Count() ? &entries_[index] : nullptr;
}

void TConversionList::EntryChanged(int index) {
  if (index >= 0 && index < Count()) RowChanged(index);
}

const TFormat* TConversionList::FormatOf(const TVideoFile& entry) const {
  return catalogue_.FormatAt({entry.ProfileInd, entry.FormatInd});
}

int TConversionList::Append(TVideoFile entry) {
  if (const TFormat* f = FormatOf(entry)) UpdateEstimatedSize(entry, *f);
  const int row = Count();
  beginInsertRows(QModelIndex(), row, row);
  entries_.append(std::move(entry));
  endInsertRows();
  return row;
}

bool TConversionList::Remove(int index) {
  if (!Entry(index)) return false;
  beginRemoveRows(QModelIndex(), index, index);
  entries_.remove(index);
  endRemoveRows();
  return true;
}

void TConversionList::Clear() {
  beginResetModel();
  entries_.clear();
  endResetModel();
}

bool TConversionList::MoveUp(int index) {
  if (Count() < 2 || index < 1 || index >= Count()) return false;
  beginMoveRows(QModelIndex(), index, index, QModelIndex(), index - 1);
  entries_.swapItemsAt(index, index - 1);
  endMoveRows();
  return true;
}

bool TConversionList::MoveDown(int index) {
  if (Count() < 2 || index < 0 || index >= Count() - 1) return false;
  beginMoveRows(QModelIndex(), index, index, QModelIndex(), index + 2);
  entries_.swapItemsAt(index, index + 1);
  endMoveRows();
  return true;
}

bool TConversionList::Rename(int index, const QString& title, QString* reason) {
  TVideoFile* e = MutableEntry(index);
  if (!e) {
    if (reason) *reason = QStringLiteral("The entry being renamed is no longer in the list.");
    return false;
  }
  if (!IsValidDestinationTitle(title, reason)) return false;
  e->DestinationTitle = title;
  RowChanged(index);
  return true;
}

bool TConversionList::SetFormat(int index, TFormatIndex format) {
  TVideoFile* e = MutableEntry(index);
  if (!e || !catalogue_.Exists(format)) return false;
  e->ProfileInd = format.Category;
  e->FormatInd = format.Position;
  e->Status = QStringLiteral("-");
  UpdateSize(index);
  return true;
}

void TConversionList::ApplyFormatToAll(TFormatIndex format) {
  if (!catalogue_.Exists(format)) return;
  for (TVideoFile& e : entries_) {
    e.ProfileInd = format.Category;
    e.FormatInd = format.Position;
    if (const TFormat* f = FormatOf(e)) UpdateEstimatedSize(e, *f);
  }
  if (!entries_.isEmpty()) emit dataChanged(index(0, 0), index(Count() - 1, kListColumnCount - 1));
}

void TConversionList::UpdateSize(int i) {
  TVideoFile* e = MutableEntry(i);
  if (!e) return;
  if (const TFormat* f = FormatOf(*e)) UpdateEstimatedSize(*e, *f);
  RowChanged(i);
}

void TConversionList::UpdateAllSizes() {
  for (int i = 0; i < Count(); ++i) UpdateSize(i);
}

void TConversionList::RowChanged(int row) {
  emit dataChanged(index(row, 0), index(row, kListColumnCount - 1));
}

int TConversionList::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }
int TConversionList::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kListColumnCount;
}

QString TConversionList::CellText(const TVideoFile& e, int column) const {
  switch (column) {
    case lcSource: return e.SourceTitleExt;
    case lcTrimmedLength: return DurationText(e.TrimmedLength);
    case lcEstimatedSize: return SizeText(e.EstimatedSize);
    case lcDestination: return e.DestinationTitle;
    case lcFormat: {
      const TFormat* f = FormatOf(e);
      return f ? f->FormatExt : QString();
    }
    default: return QString();
  }
}

QVariant TConversionList::data(const QModelIndex& index, int role) const {
  const TVideoFile* e = index.isValid() ? Entry(index.row()) : nullptr;
  if (!e) return QVariant();
  if (role == Qt::DisplayRole) return CellText(*e, index.column());
  if (role == Qt::ToolTipRole && index.column() == lcSource) return e->Source;
  if (role == Qt::TextAlignmentRole) {
    const bool centred = index.column() == lcTrimmedLength || index.column() == lcEstimatedSize;
    return QVariant::fromValue(Qt::AlignVCenter | (centred ? Qt::AlignHCenter : Qt::AlignLeft));
  }
  return QVariant();
}

QVariant TConversionList::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
  static const char* const kHeaders[kListColumnCount] = {"Source", "Trimmed Length", "Estimated Size",
                                                         "Destination File", "Format"};
  return section >= 0 && section < kListColumnCount ? QString::fromLatin1(kHeaders[section]) : QVariant();
}

}  // namespace vidmill
