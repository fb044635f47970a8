// Draws the conversion list's cells: a 16 x 16 file picture before the
// source's name, the selected row highlighted, texts on one line cut with
// an ellipsis.
#pragma once

#include <QStyledItemDelegate>

namespace vidmill {

class TListDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace vidmill
