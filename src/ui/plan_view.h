#pragma once

#include <QWidget>
#include <cstddef>
#include <vector>

#include "ui/plan_scene.h"

class QPainter;

namespace ostrel::ui {

// The package from above (PlanScene): dies, pads, fingers, rings, and every wire coloured by a
// figure on a scale with its legend; wires that touch or overlap are marked where they do,
// wires joined to another at their ends; the selected wires drawn over the others with a dark
// edge. The wheel (or + and -) zooms about the pointer, a drag (or the arrow keys) pans, 0 fits
// the package again; a click selects the wire under the pointer (Ctrl adds it), hovering names
// it with its figure.
class PlanView : public QWidget {
  Q_OBJECT

 public:
  explicit PlanView(QWidget* parent = nullptr);
  void SetScene(PlanScene scene);  // keeps the zoom and pan when the extent is the same
  const PlanScene& Scene() const { return scene_; }
  void SetSelected(std::vector<std::size_t> wires);
  const std::vector<std::size_t>& Selected() const { return selected_; }
  // Per wire, whether the table's filters keep it; the others are drawn pale. Empty: all kept.
  void SetShown(std::vector<bool> shown);
  bool Shown(std::size_t wire) const { return wire >= shown_.size() || shown_[wire]; }
  // The colour wire `wire` is drawn in, dimming aside: its category's, or its value's on the
  // scale.
  QColor WireColour(std::size_t wire) const;
  void Paint(QPainter& painter, const QRectF& area) const;
  // PNG or SVG by the file name's extension, as shown now; false when it cannot be written.
  bool SaveTo(const QString& path, QSize size) const;

  double Zoom() const { return zoom_; }
  void ZoomAbout(double factor, QPointF at);
  void PanBy(QPointF pixels);
  void Fit();
  // Where a point of the plan (microns) lies on the widget, and back.
  QPointF ToScreen(PlanPoint at) const;
  PlanPoint ToPlan(QPointF at) const;
  // The wire under a point of the widget (-1: none) and what its tooltip says.
  int WireAt(QPointF at) const;
  QString WireText(int wire) const;
  QSize sizeHint() const override { return {480, 420}; }

 signals:
  void WireClicked(int wire, bool extend);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // The plan's frame in `area`: the legend takes the right, the title the top.
  struct Frame {
    QPointF centre;    // of the drawing area, pixels
    double scale = 1;  // pixels per micron, zoom included
    QRectF drawing;    // the drawing area
  };
  Frame FrameIn(const QRectF& area, double legend_w, double title_h) const;
  Frame ScreenFrame() const;
  QPointF Map(const Frame& frame, PlanPoint at) const;

  PlanScene scene_;
  std::vector<std::size_t> selected_;
  std::vector<bool> shown_;
  double zoom_ = 1;
  PlanPoint pan_;  // the plan point at the drawing's centre, less the package's centre (microns)
  QPointF press_, last_;
  bool dragged_ = false;
};

// The colour of a fraction of the plan's scale, dark blue (0) through green to yellow (1); grey
// for NaN.
QColor PlanColour(double fraction);

}  // namespace ostrel::ui
