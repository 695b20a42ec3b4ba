#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <vector>

#include "ui/physical_table.h"

class QPainter;

// The two drawings of the physical view, each painted by one routine that serves the screen,
// PNG and SVG alike: the frequency plot of the selected wires and the coupling map of one die
// side.
namespace ostrel::ui {

// One wire in the frequency plot: its sweep and the report's figures at the settings frequency.
struct PlotWire {
  QString name;
  WireSweep sweep;
  double report_resistance_mohm = 0;
  double report_ac_nh = 0, report_self_nh = 0, report_dc_nh = 0;
};

// R(f) on log-log axes above L(f) (loop solid, partial dashed) on a log frequency axis, the
// settings frequency marked, the report's figures as points.
class FrequencyPlot : public QWidget {
  Q_OBJECT

 public:
  explicit FrequencyPlot(QWidget* parent = nullptr);
  void SetWires(std::vector<PlotWire> wires, double settings_frequency_hz);
  QStringList WireNames() const;
  void Paint(QPainter& painter, const QRectF& area) const;
  // PNG or SVG by the file name's extension; false when the file cannot be written.
  bool SaveTo(const QString& path, QSize size) const;
  QSize sizeHint() const override { return {560, 420}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<PlotWire> wires_;
  double settings_frequency_hz_ = 0;
};

// The loop coupling of one die side as a heat map in pad order, |k| on a colour scale with its
// legend; the selected wire's row and column outlined.
class CouplingMap : public QWidget {
  Q_OBJECT

 public:
  explicit CouplingMap(QWidget* parent = nullptr);
  // `k`: row-major n x n for the `names` in pad order.
  void SetSide(const QString& title, QStringList names, std::vector<double> k);
  void SetSelected(int position);  // -1: none
  int Selected() const { return selected_; }
  QString Title() const { return title_; }
  void Paint(QPainter& painter, const QRectF& area) const;
  QSize sizeHint() const override { return {420, 420}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString title_;
  QStringList names_;
  std::vector<double> k_;
  double k_max_ = 0;  // largest |k| off the diagonal
  int selected_ = -1;
};

// The colour of |k| / k_max on the map's scale (pale to dark): below 0 and NaN pale, above 1
// dark.
QColor CouplingColour(double fraction);

// Ticks of a log axis over [lo, hi]: the decades, and 2 and 5 times them (or every digit) when
// the range is too short for three decades. None unless 0 < lo < hi, both finite.
std::vector<double> LogTicks(double lo, double hi);

// Ticks of a linear axis: steps of 1, 2 or 5 times a power of ten, about five of them. None
// unless lo < hi, both finite.
std::vector<double> LinearTicks(double lo, double hi);

// The bounds of a value axis showing [lo, hi] (the finite figures' extremes; 0, 0 for none)
// with a margin: always finite with lo < hi, and lo > 0 on a log axis, whatever the figures.
struct AxisRange {
  double lo = 0, hi = 0;
};
AxisRange ValueAxisRange(double lo, double hi, bool log_axis);

}  // namespace ostrel::ui
