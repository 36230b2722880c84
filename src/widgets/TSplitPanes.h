#pragma once

#include "widgets/TCustomSplitPanes.h"
#include "widgets/TSplitScrollPane.h"

// Two panes and a bar the user drags to share the room between them. The main window keeps its
// task grid in the upper pane and the notes in the lower one; BarPosition is what the settings
// file keeps as the splitter position.
//
// BarPosition counts from the first edge inside the frame. It is kept within 0..R, R being the
// room for the bar (height or width less twice the inset less BarWidth); a resize keeps it, so a
// taller window gives all the extra room to the second pane. Until the container is shown its
// size is not yet final, so a position set then (the one restored from the settings at start)
// is kept as given and clamped once the container is shown; afterwards every set clamps.
class TSplitPanes : public TCustomSplitPanes {
  Q_OBJECT
  Q_PROPERTY(int BarPosition READ BarPosition WRITE SetBarPosition)
  Q_PROPERTY(int Percent READ Percent WRITE SetPercent)
  Q_PROPERTY(bool SyncScroll READ SyncScroll WRITE SetSyncScroll)

 public:
  // spVert: panes side by side with an upright bar; spHorz: one above the other, level bar.
  enum TSplitOrientation { spVert, spHorz };
  Q_ENUM(TSplitOrientation)

  explicit TSplitPanes(QWidget* parent = nullptr);

  TSplitScrollPane* Pane1() const { return pane1_; }
  TSplitScrollPane* Pane2() const { return pane2_; }

  TSplitOrientation Orientation() const { return orientation_; }
  void SetOrientation(TSplitOrientation orientation);

  int BarPosition() const { return bar_position_; }
  // Clamped to 0..Room() (once shown); re-lays the panes, repaints and emits Resized().
  void SetBarPosition(int position);
  // BarPosition x 100 / Room(), whole part, at most 100 (0 without room).
  int Percent() const;
  void SetPercent(int percent);
  // R: the room the bar can move in.
  int Room() const;

  bool SyncScroll() const { return sync_scroll_; }
  void SetSyncScroll(bool sync) { sync_scroll_ = sync; }
  bool AutoScroll() const { return pane1_->AutoScroll(); }
  void SetAutoScroll(bool auto_scroll);

  // The bar's rectangle in the container, and the band shown while dragging without AutoUpdate.
  QRect BarRect() const;
  bool IsDragging() const { return dragging_; }
  // The leading edge of the band while dragging, in container coordinates.
  int BandPosition() const { return band_position_; }

 protected:
  void LayoutPanes() override;
  QList<QRect> PaneRects() const override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  int EffectivePosition() const;
  int Along(const QPoint& point) const;
  int FarEdge() const;
  void PlaceBand();
  void ConnectSync(QScrollBar* from, QScrollBar* to);

  TSplitScrollPane* pane1_ = nullptr;
  TSplitScrollPane* pane2_ = nullptr;
  QWidget* band_ = nullptr;
  TSplitOrientation orientation_ = spVert;
  int bar_position_ = 50;
  bool sync_scroll_ = false;
  bool syncing_ = false;
  bool dragging_ = false;
  int drag_offset_ = 0;
  int band_position_ = 0;
};
