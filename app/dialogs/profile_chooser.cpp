#include "dialogs/profile_chooser.h"

#include <QEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include "report/error_marks.h"
#include "report/report_sink.h"

namespace vidmill {
namespace {

constexpr int kDesignWidth = 500;
constexpr int kDesignHeight = 470;
constexpr int kSeparatorX = 147;
const QColor kHighlightBand(0x56, 0x92, 0xC6);
const QColor kHoverBand(0xB9, 0xD1, 0xEC);

// Hands the painting of each cell to the chooser.
class TCellDelegate : public QStyledItemDelegate {
 public:
  TCellDelegate(const TProfileChooser& chooser, bool formats, QObject* parent)
      : QStyledItemDelegate(parent), chooser_(chooser), formats_(formats) {}
  void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    p->save();
    if (formats_) {
      chooser_.PaintFormat(*p, option.rect, index.row());
    } else {
      chooser_.PaintCategory(*p, option.rect, index.row());
    }
    p->restore();
  }

 private:
  const TProfileChooser& chooser_;
  bool formats_;
};

QTableWidget* MakeGrid(QWidget* parent, int column_width, int row_height) {
  auto* grid = new QTableWidget(parent);
  grid->setColumnCount(1);
  grid->horizontalHeader()->hide();
  grid->verticalHeader()->hide();
  grid->horizontalHeader()->setDefaultSectionSize(column_width);
  grid->verticalHeader()->setDefaultSectionSize(row_height);
  grid->verticalHeader()->setMinimumSectionSize(1);
  grid->setShowGrid(false);
  grid->setFrameShape(QFrame::NoFrame);
  grid->setSelectionMode(QAbstractItemView::NoSelection);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid->setFocusPolicy(Qt::NoFocus);
  grid->setMouseTracking(true);
  grid->viewport()->setMouseTracking(true);
  return grid;
}

// The small arrow drawn at the right of each category.
QPixmap ArrowPicture(const QColor& colour) {
  QPixmap pm(9, 15);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath path;
  path.moveTo(1, 1);
  path.lineTo(8, 7.5);
  path.lineTo(1, 14);
  path.closeSubpath();
  p.fillPath(path, colour);
  return pm;
}

}  // namespace

TProfileChooser::TProfileChooser(TCatalogue& catalogue, TReportSink& sink, TChooserHost host, QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint), catalogue_(catalogue), sink_(sink),
      host_(std::move(host)) {
  resize(kDesignWidth, kDesignHeight);
  categories_ = MakeGrid(this, kCategoryColumnWidth, kCategoryRowHeight);
  formats_ = MakeGrid(this, kFormatColumnWidth, kFormatRowHeight);
  formats_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  categories_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  categories_->setItemDelegate(new TCellDelegate(*this, false, categories_));
  formats_->setItemDelegate(new TCellDelegate(*this, true, formats_));
  categories_->viewport()->installEventFilter(this);
  formats_->viewport()->installEventFilter(this);
  delay_.setInterval(kProfileChangeDelayMs);
  connect(&delay_, &QTimer::timeout, this, &TProfileChooser::DelayTick);
}

int TProfileChooser::FormatCountOf(int category) const { return catalogue_.FormatCount(category); }

void TProfileChooser::Popup(const QPoint& field_top_left, bool list_empty) {
  if (list_empty) return;
  const int height = catalogue_.ChooserHeight() > 0 ? catalogue_.ChooserHeight() : kDesignHeight;
  resize(kDesignWidth, height);
  categories_->setGeometry(1, 1, kCategoryColumnWidth, height - 2);
  formats_->setGeometry(kSeparatorX + 1, 1, kDesignWidth - kSeparatorX - 2, height - 2);
  move(field_top_left.x(), field_top_left.y() - height);
  ResetFromCurrent();
  show();
  activateWindow();
}

void TProfileChooser::ResetFromCurrent() {
  const TFormatIndex current = catalogue_.Current();
  categories_->setRowCount(0);
  formats_->setRowCount(0);
  categories_->setRowCount(catalogue_.CategoryCount());
  formats_->setRowCount(FormatCountOf(current.Category));
  hovered_format_ = current.Position;
  highlighted_ = committed_ = current.Category;
  hovered_row_ = current.Category;
}

void TProfileChooser::HoverCategory(int row) {
  if (row < 0) {
    delay_.stop();
    return;
  }
  hovered_row_ = row;
  if (row != highlighted_) {
    highlighted_ = row;
    categories_->viewport()->update();
    delay_.start();
  }
}

void TProfileChooser::DelayTick() {
  committed_ = highlighted_ = hovered_row_;
  formats_->setRowCount(FormatCountOf(committed_));
  hovered_format_ = -1;
  categories_->viewport()->update();
  formats_->viewport()->update();
}

void TProfileChooser::HoverFormat(int row) {
  if (delay_.isActive()) {  // the pending switch is cancelled
    highlighted_ = committed_;
    categories_->viewport()->update();
    delay_.stop();
  }
  const int hovered = FormatCountOf(highlighted_) > 0 ? row : -1;
  if (hovered != hovered_format_) {
    hovered_format_ = hovered;
    formats_->viewport()->update();
  }
}

void TProfileChooser::ClickFormat() {
  if (highlighted_ < 0 || hovered_format_ < 0 || hovered_format_ >= FormatCountOf(highlighted_)) return;
  Choose();
}

void TProfileChooser::Choose() {
  try {
    const TFormatIndex chosen{highlighted_, hovered_format_};
    const int entry = host_.SelectedEntry ? host_.SelectedEntry() : -1;
    if (entry >= 0 && host_.SetEntryFormat) host_.SetEntryFormat(entry, chosen);
    catalogue_.SetCurrent(chosen);
    catalogue_.SetRecent(chosen);
    const TFormat* format = catalogue_.FormatAt(chosen);
    const TProfile& category = catalogue_.Categories().at(chosen.Category);
    if (host_.ShowProfile) {
      host_.ShowProfile(format ? format->Title : QString(),
                        catalogue_.IconPicture(catalogue_.IconIndexOf(category.Icon)));
    }
    if (host_.ApplyToAll && host_.ApplyToAll() && host_.SetAllFormats) host_.SetAllFormats(catalogue_.Current());
  } catch (const std::exception&) {
    sink_.ErrorReport(QStringLiteral("Error on profile %1, format %2 choosing")
                          .arg(catalogue_.Current().Category)
                          .arg(catalogue_.Recent().Position),
                      QString::fromLatin1(clm::kProfileChoosing));
  }
  if (host_.EstimateAndRepaint) host_.EstimateAndRepaint();
  CloseChooser();
}

void TProfileChooser::CloseChooser() {
  delay_.stop();
  hide();
  if (parentWidget()) parentWidget()->activateWindow();
}

bool TProfileChooser::event(QEvent* e) {
  if (e->type() == QEvent::WindowDeactivate && isVisible()) {
    CloseChooser();
  } else if (e->type() == QEvent::Hide) {
    delay_.stop();
  }
  return QWidget::event(e);
}

bool TProfileChooser::eventFilter(QObject* watched, QEvent* e) {
  const bool on_categories = watched == categories_->viewport();
  const bool on_formats = watched == formats_->viewport();
  if (!on_categories && !on_formats) return QWidget::eventFilter(watched, e);
  if (e->type() == QEvent::MouseMove) {
    const int y = static_cast<QMouseEvent*>(e)->position().toPoint().y();
    if (on_categories) {
      HoverCategory(categories_->rowAt(y));
    } else {
      HoverFormat(formats_->rowAt(y));
    }
  } else if (e->type() == QEvent::Leave && on_categories) {
    HoverCategory(-1);
  } else if (e->type() == QEvent::MouseButtonRelease && on_formats) {
    ClickFormat();
    return true;
  }
  return QWidget::eventFilter(watched, e);
}

void TProfileChooser::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  p.setPen(QColor(0x80, 0x80, 0x80));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  p.drawLine(kSeparatorX, 0, kSeparatorX, height() - 1);
}

void TProfileChooser::PaintCategory(QPainter& p, const QRect& cell, int row) const {
  try {
    const TProfile& category = catalogue_.Categories().at(row);
    p.fillRect(cell, Qt::white);
    const bool highlighted = row == highlighted_;
    const QColor text = highlighted ? Qt::white : Qt::black;
    p.fillRect(QRect(QPoint(cell.left() + 30, cell.top()), QPoint(cell.right() - 22, cell.bottom())),
               highlighted ? kHighlightBand : QColor(Qt::white));
    int icon = catalogue_.Icons().isEmpty() ? -1 : catalogue_.IconIndexExact(category.Icon);
    if (icon < 0 && !catalogue_.Icons().isEmpty()) icon = 0;
    if (const QImage* picture = catalogue_.IconPicture(icon)) {
      const int left = 15 - qRound(picture->width() / 2.0);
      const int top = 12 - qRound(picture->height() / 2.0);
      p.drawImage(cell.topLeft() + QPoint(left, top), *picture);
    }
    p.setPen(text);
    const QRect title(QPoint(cell.left() + 32, cell.top() + 5), QPoint(cell.right() - 10, cell.bottom()));
    p.drawText(title, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
               p.fontMetrics().elidedText(category.Title, Qt::ElideRight, title.width()));
    p.drawPixmap(cell.right() - 17, cell.top() + 5, ArrowPicture(highlighted ? Qt::white : QColor(0x56, 0x92, 0xC6)));
  } catch (const std::exception&) {
    sink_.ErrorReport(QStringLiteral("Error Drawing Cell: profile %1, format %2")
                          .arg(catalogue_.Current().Category)
                          .arg(catalogue_.Recent().Position),
                      QString::fromLatin1(clm::kProfileDrawCell));
  }
}

void TProfileChooser::PaintFormat(QPainter& p, const QRect& cell, int row) const {
  try {
    p.fillRect(cell, Qt::white);
    if (row == hovered_format_) {
      const int right_gap = formats_->verticalScrollBar()->isVisible() ? 20 : 5;
      p.fillRect(QRect(QPoint(cell.left() + 40, cell.top()), QPoint(cell.right() - right_gap, cell.bottom())),
                 kHoverBand);
    }
    const TFormat* format = catalogue_.FormatAt({highlighted_, row});
    if (!format) return;
    if (const QImage* picture = catalogue_.IconPicture(catalogue_.IconIndexOf(format->Icon))) {
      const int left = 20 - qRound(picture->width() / 2.0);
      const int top = 20 - qRound(picture->height() / 2.0);
      p.drawImage(cell.topLeft() + QPoint(left, top), *picture);
    }
    p.setPen(Qt::black);
    QFont bold = p.font();
    bold.setBold(true);
    p.setFont(bold);
    const QRect title(QPoint(cell.left() + 45, cell.top() + 2), QPoint(cell.right(), cell.top() + 20));
    p.drawText(title, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
               p.fontMetrics().elidedText(format->Title, Qt::ElideRight, title.width()));
    bold.setBold(false);
    p.setFont(bold);
    const QRect description(QPoint(cell.left() + 45, cell.top() + 20), QPoint(cell.right() - 20, cell.bottom() - 2));
    p.drawText(description, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, format->Description);
  } catch (const std::exception&) {
    sink_.ErrorReport(QStringLiteral("Error Drawing Cell: profile %1, format %2")
                          .arg(catalogue_.Current().Category)
                          .arg(catalogue_.Recent().Position),
                      QString::fromLatin1(clm::kFormatsDrawCell));
  }
}

}  // namespace vidmill
