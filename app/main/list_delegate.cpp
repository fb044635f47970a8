#include "list_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

#include "conversion_list.h"

namespace vidmill {

void TListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  const QString text = opt.text;
  opt.text.clear();
  QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

  QRect text_rect = opt.rect;
  int align = Qt::AlignVCenter | Qt::AlignLeft;
  switch (index.column()) {
    case lcSource:
      // The file picture at 2 px right and 1 px below the cell's corner; the
      // text from 23 px right and 2 px below it.
      style->standardIcon(QStyle::SP_FileIcon).paint(painter, QRect(opt.rect.left() + 2, opt.rect.top() + 1, 16, 16));
      text_rect.adjust(23, 2, 0, 0);
      align = Qt::AlignLeft | Qt::AlignTop;
      break;
    case lcTrimmedLength:
    case lcEstimatedSize:
      align = Qt::AlignCenter;
      break;
    default:
      text_rect.adjust(5, 0, 0, 0);
      break;
  }
  painter->save();
  painter->setPen(opt.palette.color(opt.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
  painter->drawText(text_rect, align | Qt::TextSingleLine,
                    opt.fontMetrics.elidedText(text, Qt::ElideRight, text_rect.width()));
  painter->restore();
}

}  // namespace vidmill
