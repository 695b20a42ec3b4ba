#pragma once

#include <QColor>
#include <QFontMetricsF>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <utility>
#include <vector>

#include "ui/physical_table.h"

class QFont;
class QPainter;
class QPen;

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
  int wire = -1;  // its index in the wire list, reported by a click on its curve
};

// A point of a curve as painted on the screen, with what its tooltip says.
struct PlotHit {
  QPointF at;
  QString text;
  int wire = -1;
};

// R(f) on log-log axes above L(f) (loop thick, partial thin) on a log frequency axis, each wire
// in its own colour, line pattern and marker, the settings frequency marked, the report's
// figures as hollow points. Hovering a curve's point names its wire, frequency and value.
class FrequencyPlot : public QWidget {
  Q_OBJECT

 public:
  explicit FrequencyPlot(QWidget* parent = nullptr);
  // `selected`: how many wires are selected, of which `wires` are the first ones plotted.
  void SetWires(std::vector<PlotWire> wires, double settings_frequency_hz, std::size_t selected);
  QStringList WireNames() const;
  // What the plot says above its key: that it shows only some of the selected wires; empty
  // when it shows them all.
  QString Note() const;
  // The curve points of the last paint on the screen, and the one nearest `at` within a few
  // pixels (none: null).
  const std::vector<PlotHit>& Hits() const { return hits_; }
  const PlotHit* HitAt(QPointF at) const;
  // `hits`, when given, gets every curve point painted.
  void Paint(QPainter& painter, const QRectF& area, std::vector<PlotHit>* hits = nullptr) const;
  // PNG or SVG by the file name's extension; false when the file cannot be written.
  bool SaveTo(const QString& path, QSize size) const;
  QSize sizeHint() const override { return {560, 420}; }

 signals:
  void WireClicked(int wire);  // a click on a curve of that wire

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;  // tooltips: the wire and figure under the pointer
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  std::vector<PlotWire> wires_;
  double settings_frequency_hz_ = 0;
  std::size_t selected_ = 0;
  std::vector<PlotHit> hits_;  // of the last paint on the screen
};

// The loop coupling of one die side as a heat map in pad order, |k| on a colour scale with its
// legend; the selected wires' rows and columns outlined, the pair chosen framed. A click on a
// cell reports its pair; hovering names it with k and L_ij.
class CouplingMap : public QWidget {
  Q_OBJECT

 public:
  explicit CouplingMap(QWidget* parent = nullptr);
  // `k`, `l_nh` (the loop inductance matrix, nH): row-major n x n for the `names` in pad order.
  void SetSide(const QString& title, QStringList names, std::vector<double> k,
               std::vector<double> l_nh = {});
  // The top of the colour scale: one for every side; NaN or 0 for this side's largest |k|.
  void SetScaleMax(double k_max);
  double ScaleMax() const;
  double SideLargest() const;  // the largest |k| off the diagonal of this side
  // Positions in pad order whose rows and columns are outlined, and a cell framed (-1: none).
  void SetSelected(std::vector<int> positions, std::pair<int, int> pair = {-1, -1});
  int Selected() const { return selected_.empty() ? -1 : selected_.front(); }
  std::pair<int, int> Pair() const { return pair_; }
  QString Title() const { return title_; }
  // The cell under a point of the widget, {-1, -1} for none, and what its tooltip says.
  std::pair<int, int> CellAt(QPointF at) const;
  QString CellText(int row, int column) const;
  void Paint(QPainter& painter, const QRectF& area) const;
  QSize sizeHint() const override { return {420, 420}; }

 signals:
  void CellClicked(int row, int column);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  // The arrow keys move a cell cursor, Enter or Space selects its pair.
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;

 private:
  struct Layout {
    QRectF map;
    double cell = 0, label_w = 0, legend_w = 0;
  };
  Layout LayoutIn(const QRectF& area, const QFontMetricsF& fm) const;

  QString title_;
  QStringList names_;
  std::vector<double> k_, l_nh_;
  double scale_max_ = 0;
  std::vector<int> selected_;
  std::pair<int, int> pair_{-1, -1};
  std::pair<int, int> cursor_{-1, -1};  // the keyboard's cell
};

// The largest finite |k| off the diagonal of a row-major square matrix; 0 for none.
double LargestCoupling(const std::vector<double>& k);

// The colour at `fraction` (clamped to 0..1) of a scale of five evenly spaced stops, each
// channel interpolated linearly.
QColor ColourOnScale(const QColor (&stops)[5], double fraction);

// The colour of |k| / k_max on the map's scale (pale to dark): below 0 and NaN pale, above 1
// dark.
QColor CouplingColour(double fraction);

// Answers a tooltip event of `widget` with `text` (none when empty); true as QWidget::event.
bool ShowToolTip(QWidget* widget, QEvent* event, const QString& text);

// The colour and the line pattern of the plot's wire `series` (Okabe-Ito colours, five line
// patterns), so that wires differ in more than colour.
QColor SeriesColour(std::size_t series);
QPen SeriesPen(std::size_t series, double width);

// A dashed frame round a drawing widget that has the keyboard.
void DrawFocusFrame(QPainter& painter, const QWidget& widget);

// The font of a drawing saved to a file: `base`'s pixel size with the CSS generic family
// sans-serif, so that a PNG and an SVG of one drawing show text of the same size.
QFont DrawingFont(const QFont& base);
// Paints a drawing into `path`, PNG (at twice `size`'s pixels) or SVG by the file name's
// extension, on white; false when the file cannot be written.
bool SaveDrawing(const QString& path, QSize size, const QFont& font, const QString& title,
                 const std::function<void(QPainter&, const QRectF&)>& paint);

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
