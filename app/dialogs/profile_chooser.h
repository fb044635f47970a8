// TProfileChooser: the borderless pop-up above the main window's profile
// field. The left grid lists the catalogue's categories, the right one the
// formats of one category with icon, title and description. Hovering a
// category for 500 ms shows its formats; clicking a format gives it to the
// selected list entry (or to every entry with "Apply to all") and makes it
// the current and the recent selection. The pop-up hides when it loses the
// focus or after a choice.
//
// Thread rules: main thread only.
#pragma once

#include <functional>

#include <QTimer>
#include <QWidget>

#include "catalogue/catalogue.h"

class QTableWidget;

namespace vidmill {

class TReportSink;

// What the chooser needs of the main window.
struct TChooserHost {
  std::function<int()> SelectedEntry;                       // -1 when none
  std::function<void(int entry, TFormatIndex)> SetEntryFormat;  // Status "-", ProfileInd, FormatInd
  std::function<bool()> ApplyToAll;                         // "Apply to all" is ticked
  std::function<void(TFormatIndex)> SetAllFormats;          // every entry gets the format
  std::function<void(const QString& title, const QImage* icon)> ShowProfile;  // label and icon
  std::function<void()> EstimateAndRepaint;                 // every entry's size; repaint
};

inline constexpr int kCategoryColumnWidth = 146;
inline constexpr int kCategoryRowHeight = 25;
inline constexpr int kFormatColumnWidth = 350;
inline constexpr int kFormatRowHeight = 50;
inline constexpr int kProfileChangeDelayMs = 500;

class TProfileChooser : public QWidget {
  Q_OBJECT
 public:
  // catalogue and sink must outlive the chooser.
  TProfileChooser(TCatalogue& catalogue, TReportSink& sink, TChooserHost host, QWidget* parent = nullptr);

  // Opens above a field whose top-left corner is at field_top_left (screen
  // coordinates); nothing when the conversion list is empty.
  void Popup(const QPoint& field_top_left, bool list_empty);

  // The state the grids draw (public for tests).
  int HighlightedCategory() const { return highlighted_; }
  int CommittedCategory() const { return committed_; }
  int HoveredFormat() const { return hovered_format_; }
  bool DelayRunning() const { return delay_.isActive(); }
  QTableWidget* Categories() const { return categories_; }
  QTableWidget* Formats() const { return formats_; }

  // The mouse moved over a category row (-1: outside the rows), over a
  // format row, or a format row was clicked.
  void HoverCategory(int row);
  void HoverFormat(int row);
  void ClickFormat();

  // Painting of one cell (public for the delegates).
  void PaintCategory(QPainter& p, const QRect& cell, int row) const;
  void PaintFormat(QPainter& p, const QRect& cell, int row) const;

 protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void ResetFromCurrent();
  void ShowFormatsOf(int category);
  void DelayTick();
  void Choose();
  void CloseChooser();
  int FormatCountOf(int category) const;

  TCatalogue& catalogue_;
  TReportSink& sink_;
  TChooserHost host_;
  QTableWidget* categories_ = nullptr;
  QTableWidget* formats_ = nullptr;
  QTimer delay_;
  int highlighted_ = 0;     // category drawn highlighted; the right grid shows its formats
  int committed_ = 0;       // category the right grid was last sized for
  int hovered_row_ = 0;     // last category row under the mouse
  int hovered_format_ = -1; // format row drawn highlighted and taken by a click
};

}  // namespace vidmill
