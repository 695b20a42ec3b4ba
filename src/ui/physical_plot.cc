#include "ui/physical_plot.h"

#include <QFileInfo>
#include <QHelpEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSvgGenerator>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <limits>

namespace ostrel::ui {
namespace {

// The Okabe-Ito palette, told apart also by those who do not see every colour; yellow last, as
// it is faint on white.
const QColor kWireColours[] = {QColor(0, 114, 178),   QColor(213, 94, 0),  QColor(0, 158, 115),
                               QColor(204, 121, 167), QColor(230, 159, 0), QColor(86, 180, 233),
                               QColor(0, 0, 0),       QColor(240, 228, 66)};
constexpr std::size_t kWireColourCount = sizeof kWireColours / sizeof kWireColours[0];
// Each wire's line pattern, so that wires stay apart in grey print too.
const Qt::PenStyle kWireStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine,
                                    Qt::DashDotDotLine};
constexpr std::size_t kWireStyleCount = sizeof kWireStyles / sizeof kWireStyles[0];
constexpr int kSeriesShapes = 6;  // shapes of the markers along a wire's curves

QString Number(double value) { return QString::number(value, 'g', 4); }

// One pane: a value axis (log or linear) against the shared log frequency axis.
struct Pane {
  QRectF box;
  double f_lo, f_hi, y_lo, y_hi;
  bool log_y;

  double X(double f) const {
    return box.left() + box.width() * std::log(f / f_lo) / std::log(f_hi / f_lo);
  }
  double Y(double v) const {
    const double t =
        log_y ? std::log(v / y_lo) / std::log(y_hi / y_lo) : (v - y_lo) / (y_hi - y_lo);
    return box.bottom() - box.height() * t;
  }
};

// A point of a curve or marker with a place on the pane: a value of NaN or infinity, or one at
// or below 0 on a log axis, has none.
bool Drawable(QPointF at) { return std::isfinite(at.x()) && std::isfinite(at.y()); }

// Shapes 0-5: circle, square, triangle, diamond, down triangle, cross. `hollow` draws the
// outline in the colour (the report's figures), else the shape filled with a black edge.
void DrawMarker(QPainter& p, QPointF at, int shape, const QColor& colour, bool hollow = false) {
  if (!Drawable(at)) return;
  p.save();
  p.setPen(hollow ? QPen(colour, 2) : QPen(Qt::black, 1));
  p.setBrush(hollow ? QBrush(Qt::white) : QBrush(colour));
  const double r = 4.5;
  switch (shape % kSeriesShapes) {
    case 0:
      p.drawEllipse(at, r, r);
      break;
    case 1:
      p.drawRect(QRectF(at.x() - r, at.y() - r, 2 * r, 2 * r));
      break;
    case 2:
      p.drawPolygon(QPolygonF({at + QPointF(0, -r - 1), at + QPointF(r, r), at + QPointF(-r, r)}));
      break;
    case 3:
      p.drawPolygon(QPolygonF({at + QPointF(0, -r - 1), at + QPointF(r + 1, 0),
                               at + QPointF(0, r + 1), at + QPointF(-r - 1, 0)}));
      break;
    case 4:
      p.drawPolygon(QPolygonF({at + QPointF(0, r + 1), at + QPointF(r, -r), at + QPointF(-r, -r)}));
      break;
    default:
      p.setPen(QPen(colour, 2.5));
      p.drawLine(at + QPointF(-r, -r), at + QPointF(r, r));
      p.drawLine(at + QPointF(-r, r), at + QPointF(r, -r));
      break;
  }
  p.restore();
}

// The widest label of a value axis: the plot's left margin makes room for it.
double ValueLabelWidth(const QFontMetricsF& fm, const std::vector<double>& ticks) {
  double w = 0;
  for (double v : ticks) w = std::max(w, fm.horizontalAdvance(Number(v)));
  return w;
}

// `left` is the area's left edge, `right` its right edge: a frequency label near either end
// is moved inside rather than cut.
void DrawPane(QPainter& p, const Pane& pane, const QString& title, bool frequency_labels,
              double left, double right) {
  const QFontMetricsF fm(p.font());
  p.setPen(QPen(QColor(225, 225, 225), 1));
  const std::vector<double> x_ticks = LogTicks(pane.f_lo, pane.f_hi);
  const std::vector<double> y_ticks =
      pane.log_y ? LogTicks(pane.y_lo, pane.y_hi) : LinearTicks(pane.y_lo, pane.y_hi);
  for (double f : x_ticks)
    p.drawLine(QPointF(pane.X(f), pane.box.top()), {pane.X(f), pane.box.bottom()});
  for (double v : y_ticks)
    p.drawLine(QPointF(pane.box.left(), pane.Y(v)), {pane.box.right(), pane.Y(v)});
  p.setPen(QPen(Qt::black, 1));
  p.drawRect(pane.box);
  const double label_w = ValueLabelWidth(fm, y_ticks) + 4;
  for (double v : y_ticks) {
    p.drawText(
        QRectF(pane.box.left() - 6 - label_w, pane.Y(v) - fm.height() / 2, label_w, fm.height()),
        Qt::AlignRight | Qt::AlignVCenter, Number(v));
  }
  if (frequency_labels) {
    // Decade labels only, when the 2-5 or digit ticks would crowd them.
    const bool decades_only = x_ticks.size() > 8;
    for (double f : x_ticks) {
      const double mantissa = f / std::pow(10.0, std::floor(std::log10(f) + 1e-9));
      if (decades_only && std::abs(mantissa - 1) > 1e-6) continue;
      const QString label = QString::fromStdString(FrequencyLabel(f));
      const double w = fm.horizontalAdvance(label) + 4;
      const double x = std::clamp(pane.X(f) - w / 2, left, std::max(left, right - w));
      p.drawText(QRectF(x, pane.box.bottom() + 3, w, fm.height()), Qt::AlignHCenter | Qt::AlignTop,
                 label);
    }
  }
  p.save();
  p.translate(pane.box.left() - 10 - label_w - fm.height() / 2, pane.box.center().y());
  p.rotate(-90);
  p.drawText(QRectF(-pane.box.height() / 2, -fm.height() / 2, pane.box.height(), fm.height()),
             Qt::AlignCenter, title);
  p.restore();
}

}  // namespace

FrequencyPlot::FrequencyPlot(QWidget* parent) : QWidget(parent) {
  setBackgroundRole(QPalette::Base);
  setAutoFillBackground(true);
  setMinimumSize(300, 240);
  setFocusPolicy(Qt::StrongFocus);  // reached by Tab and Ctrl+2, for its tooltips' sake
}

void FrequencyPlot::SetWires(std::vector<PlotWire> wires, double settings_frequency_hz,
                             std::size_t selected) {
  wires_ = std::move(wires);
  settings_frequency_hz_ = settings_frequency_hz;
  selected_ = selected;
  hits_.clear();
  update();
}

const PlotHit* FrequencyPlot::HitAt(QPointF at) const {
  const PlotHit* nearest = nullptr;
  double best = 8;
  for (const PlotHit& hit : hits_) {
    const double d = std::hypot(hit.at.x() - at.x(), hit.at.y() - at.y());
    if (d < best) best = d, nearest = &hit;
  }
  return nearest;
}

bool FrequencyPlot::event(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QWidget::event(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  if (const PlotHit* hit = HitAt(help->pos())) {
    QToolTip::showText(help->globalPos(), hit->text, this);
  } else {
    QToolTip::hideText();
    event->ignore();
  }
  return true;
}

void FrequencyPlot::mouseReleaseEvent(QMouseEvent* event) {
  const PlotHit* hit = HitAt(event->position());
  if (event->button() == Qt::LeftButton && hit && hit->wire >= 0) emit WireClicked(hit->wire);
  QWidget::mouseReleaseEvent(event);
}

QStringList FrequencyPlot::WireNames() const {
  QStringList names;
  for (const PlotWire& w : wires_) names << w.name;
  return names;
}

void FrequencyPlot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  hits_.clear();
  Paint(painter, rect(), &hits_);
  DrawFocusFrame(painter, *this);
}

bool FrequencyPlot::SaveTo(const QString& path, QSize size) const {
  return SaveDrawing(path, size, font(), QStringLiteral("Resistance and inductance over frequency"),
                     [this](QPainter& p, const QRectF& area) { Paint(p, area); });
}

void FrequencyPlot::Paint(QPainter& p, const QRectF& area, std::vector<PlotHit>* hits) const {
  const QFontMetricsF fm(p.font());
  p.setPen(Qt::black);
  // The sweep's positive frequencies (DC has no place on a log axis).
  double f_lo = 0, f_hi = 0;
  if (!wires_.empty()) {
    for (double f : wires_.front().sweep.frequency_hz) {
      if (!(f > 0 && std::isfinite(f))) continue;
      f_lo = f_lo > 0 ? std::min(f_lo, f) : f;
      f_hi = std::max(f_hi, f);
    }
  }
  if (wires_.empty() || !(f_hi > f_lo)) {
    p.drawText(area, Qt::AlignCenter | Qt::TextWordWrap,
               QStringLiteral("Select a wire in the table, the coupling map or the plan"));
    return;
  }

  // The key: each wire's colour, line and marker, then what lines and markers mean, wrapped to
  // the width; above it, how many of the selected wires are shown.
  const double line_h = fm.height() + 4;
  double x = area.left() + 8, y = area.top() + 4;
  const QString note = Note();
  if (!note.isEmpty()) {
    p.drawText(QRectF(x, y, area.width() - 16, line_h), Qt::AlignLeft | Qt::AlignVCenter, note);
    y += line_h;
  }
  auto key_item = [&](double glyph_w, const QString& text, auto draw_glyph) {
    const double w = glyph_w + 6 + fm.horizontalAdvance(text) + 14;
    if (x + w > area.right() - 4 && x > area.left() + 8) {
      x = area.left() + 8;
      y += line_h;
    }
    draw_glyph(QRectF(x, y, glyph_w, line_h));
    p.setPen(Qt::black);
    p.drawText(QRectF(x + glyph_w + 6, y, w, line_h), Qt::AlignLeft | Qt::AlignVCenter, text);
    x += w;
  };
  for (std::size_t i = 0; i < wires_.size(); ++i) {
    key_item(30, wires_[i].name, [&](QRectF r) {
      p.setPen(SeriesPen(i, 2));
      p.drawLine(QPointF(r.left(), r.center().y()), QPointF(r.right(), r.center().y()));
      DrawMarker(p, r.center(), static_cast<int>(i), SeriesColour(i));
    });
  }
  x = area.left() + 8;
  y += line_h;
  auto line_glyph = [&](double width) {
    return [&p, width](QRectF r) {
      p.setPen(QPen(Qt::darkGray, width));
      p.drawLine(QPointF(r.left(), r.center().y()), QPointF(r.right(), r.center().y()));
    };
  };
  key_item(24, QStringLiteral("R, L loop"), line_glyph(2.5));
  const bool has_partial = !wires_.front().sweep.partial_nh.empty();
  if (has_partial) key_item(24, QStringLiteral("L partial (thin)"), line_glyph(1));
  const char* markers[] = {"report R, L AC", "report L Self", "report L DC"};
  for (int shape = 0; shape < 3; ++shape) {
    key_item(10, QString::fromUtf8(markers[shape]),
             [&](QRectF r) { DrawMarker(p, r.center(), shape, Qt::darkGray, true); });
  }
  key_item(10, QStringLiteral("settings frequency"), [&](QRectF r) {
    p.setPen(QPen(QColor(120, 120, 120), 1, Qt::DotLine));
    p.drawLine(QPointF(r.center().x(), r.top()), QPointF(r.center().x(), r.bottom()));
  });
  const double top = y + line_h + 6;

  // Value ranges over all curves and points.
  double r_lo = 0, r_hi = 0, l_lo = 0, l_hi = 0;
  bool first_r = true, first_l = true;
  auto take = [](double v, double& lo, double& hi, bool& first) {
    if (!std::isfinite(v)) return;
    lo = first ? v : std::min(lo, v);
    hi = first ? v : std::max(hi, v);
    first = false;
  };
  for (const PlotWire& w : wires_) {
    for (double v : w.sweep.resistance_mohm) take(v, r_lo, r_hi, first_r);
    take(w.report_resistance_mohm, r_lo, r_hi, first_r);
    for (double v : w.sweep.loop_nh) take(v, l_lo, l_hi, first_l);
    for (double v : w.sweep.partial_nh) take(v, l_lo, l_hi, first_l);
    for (double v : {w.report_ac_nh, w.report_self_nh, w.report_dc_nh})
      take(v, l_lo, l_hi, first_l);
  }
  const AxisRange r_axis = ValueAxisRange(r_lo, r_hi, true);
  const AxisRange l_axis = ValueAxisRange(l_lo, l_hi, false);

  // The left margin holds the widest value label and the rotated title; the right one half of
  // the widest frequency label, so that a label at the last decade is never cut.
  const double label_w = std::max(ValueLabelWidth(fm, LogTicks(r_axis.lo, r_axis.hi)),
                                  ValueLabelWidth(fm, LinearTicks(l_axis.lo, l_axis.hi)));
  const double left = area.left() + label_w + fm.height() + 20;
  const double right =
      area.right() - std::max(16.0, fm.horizontalAdvance(QStringLiteral("10.5 GHz")) / 2 + 4);
  const double bottom = area.bottom() - 2 * fm.height() - 12;
  const double pane_h = std::max(10.0, (bottom - top - fm.height() - 14) / 2);
  const Pane r_pane{
      QRectF(left, top, right - left, pane_h), f_lo, f_hi, r_axis.lo, r_axis.hi, true};
  const Pane l_pane{
      QRectF(left, bottom - pane_h, right - left, pane_h), f_lo, f_hi, l_axis.lo, l_axis.hi, false};
  DrawPane(p, r_pane, QStringLiteral("R (mΩ)"), true, area.left() + 2, area.right() - 2);
  DrawPane(p, l_pane, QStringLiteral("L (nH)"), true, area.left() + 2, area.right() - 2);
  p.drawText(QRectF(left, area.bottom() - fm.height() - 4, right - left, fm.height()),
             Qt::AlignCenter, QStringLiteral("Frequency (log scale)"));

  for (const Pane* pane : {&r_pane, &l_pane}) {
    if (!(settings_frequency_hz_ >= f_lo && settings_frequency_hz_ <= f_hi)) continue;
    p.setPen(QPen(QColor(120, 120, 120), 1, Qt::DotLine));
    const double sx = pane->X(settings_frequency_hz_);
    p.drawLine(QPointF(sx, pane->box.top()), QPointF(sx, pane->box.bottom()));
  }

  p.save();
  p.setClipRect(r_pane.box.united(l_pane.box).adjusted(-6, -6, 6, 6));
  // A curve, with its wire's marker on every few points (`marked`).
  auto curve = [&](const Pane& pane, const std::vector<double>& f, const std::vector<double>& v,
                   std::size_t wire, double width, bool marked, const QString& what) {
    QPainterPath path;
    std::vector<QPointF> points;
    for (std::size_t i = 0; i < f.size() && i < v.size(); ++i) {
      const QPointF at(pane.X(f[i]), pane.Y(v[i]));
      if (!Drawable(at)) continue;
      if (points.empty()) {
        path.moveTo(at);
      } else {
        path.lineTo(at);
      }
      points.push_back(at);
      if (hits) {
        hits->push_back({at,
                         QStringLiteral("%1 at %2: %3 %4")
                             .arg(wires_[wire].name, QString::fromStdString(FrequencyLabel(f[i])),
                                  what, QString::number(v[i], 'g', 4)),
                         wires_[wire].wire});
      }
    }
    p.setPen(SeriesPen(wire, width));
    p.drawPath(path);
    if (!marked) return;
    // About six markers per curve, each wire's set off from the others'.
    const std::size_t stride = std::max<std::size_t>(1, points.size() / 6);
    for (std::size_t i = wire % stride; i < points.size(); i += stride) {
      DrawMarker(p, points[i], static_cast<int>(wire), SeriesColour(wire));
    }
  };
  for (std::size_t i = 0; i < wires_.size(); ++i) {
    const PlotWire& w = wires_[i];
    const QColor colour = SeriesColour(i);
    curve(r_pane, w.sweep.frequency_hz, w.sweep.resistance_mohm, i, 2.5, true,
          QStringLiteral("R (mΩ)"));
    curve(l_pane, w.sweep.frequency_hz, w.sweep.loop_nh, i, 2.5, true,
          QStringLiteral("L loop (nH)"));
    curve(l_pane, w.sweep.frequency_hz, w.sweep.partial_nh, i, 1, false,
          QStringLiteral("L partial (nH)"));
    if (settings_frequency_hz_ >= f_lo && settings_frequency_hz_ <= f_hi) {
      const double sx = l_pane.X(settings_frequency_hz_);
      DrawMarker(p, {sx, r_pane.Y(w.report_resistance_mohm)}, 0, colour, true);
      DrawMarker(p, {sx, l_pane.Y(w.report_ac_nh)}, 0, colour, true);
      DrawMarker(p, {sx, l_pane.Y(w.report_self_nh)}, 1, colour, true);
    }
    DrawMarker(p, {l_pane.box.left() + 6, l_pane.Y(w.report_dc_nh)}, 2, colour, true);
  }
  p.restore();
}

QString FrequencyPlot::Note() const {
  if (selected_ <= wires_.size()) return {};
  return QStringLiteral("Showing %1 of the %2 selected wires (the plot takes at most %1).")
      .arg(wires_.size())
      .arg(selected_);
}

void DrawFocusFrame(QPainter& painter, const QWidget& widget) {
  if (!widget.hasFocus()) return;
  painter.save();
  painter.setPen(QPen(widget.palette().highlight().color(), 1, Qt::DashLine));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(widget.rect().adjusted(0, 0, -1, -1));
  painter.restore();
}

QColor SeriesColour(std::size_t series) { return kWireColours[series % kWireColourCount]; }

QPen SeriesPen(std::size_t series, double width) {
  QPen pen(SeriesColour(series), width, kWireStyles[series % kWireStyleCount]);
  pen.setCapStyle(Qt::FlatCap);
  return pen;
}

QFont DrawingFont(const QFont& base) {
  QFont font = base;
  // The CSS generic family, which an SVG viewer resolves as the toolkit does for the screen.
  font.setFamily(QStringLiteral("sans-serif"));
  font.setPixelSize(std::max(1, QFontInfo(base).pixelSize()));
  return font;
}

bool SaveDrawing(const QString& path, QSize size, const QFont& font, const QString& title,
                 const std::function<void(QPainter&, const QRectF&)>& paint) {
  const QRectF area(QPointF(0, 0), size);
  if (QFileInfo(path).suffix().compare(QStringLiteral("svg"), Qt::CaseInsensitive) == 0) {
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    // One SVG unit per pixel, so that a font's pixel size is its size in the picture.
    svg.setResolution(96);
    svg.setTitle(title);
    QPainter painter;
    if (!painter.begin(&svg)) return false;
    painter.setFont(DrawingFont(font));
    painter.fillRect(area, Qt::white);
    paint(painter, area);
    return painter.end();
  }
  QImage image(size * 2, QImage::Format_ARGB32);
  image.setDevicePixelRatio(2);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setFont(DrawingFont(font));
  paint(painter, area);
  painter.end();
  return image.save(path);
}

std::vector<double> LogTicks(double lo, double hi) {
  std::vector<double> ticks;
  if (!(lo > 0 && hi > lo && std::isfinite(hi))) return ticks;
  for (const std::vector<double>& mantissas :
       {std::vector<double>{1}, {1, 2, 5}, {1, 2, 3, 4, 5, 6, 7, 8, 9}}) {
    ticks.clear();
    for (int e = static_cast<int>(std::floor(std::log10(lo))); std::pow(10.0, e) <= hi; ++e) {
      for (double m : mantissas) {
        const double t = m * std::pow(10.0, e);
        if (t >= lo * (1 - 1e-9) && t <= hi * (1 + 1e-9)) ticks.push_back(t);
      }
    }
    if (ticks.size() >= 3) break;
  }
  return ticks;
}

std::vector<double> LinearTicks(double lo, double hi) {
  std::vector<double> ticks;
  const double raw = (hi - lo) / 5;
  if (!(hi > lo && std::isfinite(lo) && std::isfinite(raw) && raw > 0)) return ticks;
  const double decade = std::pow(10.0, std::floor(std::log10(raw)));
  double step = decade;
  for (double m : {2.0, 5.0, 10.0}) {
    if (step < raw) step = m * decade;
  }
  // At most six, as step >= (hi - lo) / 5; counted, so that a step lost in the rounding of
  // bounds far from 0 cannot loop for ever.
  const double first = std::ceil(lo / step) * step;
  for (int i = 0; i <= 6; ++i) {
    const double t = first + i * step;
    if (!(t <= hi + 1e-9 * step)) break;
    ticks.push_back(std::abs(t) < 1e-12 * step ? 0.0 : t);
  }
  return ticks;
}

AxisRange ValueAxisRange(double lo, double hi, bool log_axis) {
  // Room for the margins below without overflow.
  constexpr double kLargest = 1e300;
  lo = std::isfinite(lo) ? std::clamp(lo, -kLargest, kLargest) : 0.0;
  hi = std::isfinite(hi) ? std::clamp(hi, lo, kLargest) : lo;
  if (log_axis) {
    lo = std::max(lo, 1e-6) / 1.15;
    return {lo, std::max(hi * 1.15, lo * 10)};
  }
  // 6% of the range, at least 0.02 and enough to part the bounds of a range far from 0.
  const double pad = std::max({0.06 * (hi - lo), 0.02, 1e-6 * std::abs(hi)});
  return {std::max(0.0, lo - pad), hi + pad};
}

QColor CouplingColour(double fraction) {
  // A sequential blue scale, pale for weak coupling and dark for strong; no figure (NaN) is
  // shown as none.
  static const QColor kStops[] = {QColor(247, 251, 255), QColor(198, 219, 239),
                                  QColor(107, 174, 214), QColor(33, 113, 181), QColor(8, 48, 107)};
  return ColourOnScale(kStops, fraction > 0 ? fraction : 0.0);
}

QColor ColourOnScale(const QColor (&stops)[5], double fraction) {
  const double t = std::clamp(fraction, 0.0, 1.0) * 4;
  const int i = std::min(3, static_cast<int>(t));
  const double u = t - i;
  const QColor& a = stops[i];
  const QColor& b = stops[i + 1];
  return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * u),
                          static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * u),
                          static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * u));
}

bool ShowToolTip(QWidget* widget, QEvent* event, const QString& text) {
  const auto* help = static_cast<QHelpEvent*>(event);
  if (text.isEmpty()) {
    QToolTip::hideText();
    event->ignore();
  } else {
    QToolTip::showText(help->globalPos(), text, widget);
  }
  return true;
}

CouplingMap::CouplingMap(QWidget* parent) : QWidget(parent) {
  setBackgroundRole(QPalette::Base);
  setAutoFillBackground(true);
  setMinimumSize(220, 200);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
}

void CouplingMap::SetSide(const QString& title, QStringList names, std::vector<double> k,
                          std::vector<double> l_nh) {
  title_ = title;
  names_ = std::move(names);
  k_ = std::move(k);
  l_nh_ = std::move(l_nh);
  const auto n = static_cast<std::size_t>(names_.size());
  k_.resize(n * n, std::numeric_limits<double>::quiet_NaN());  // missing figures: none shown
  l_nh_.resize(n * n, std::numeric_limits<double>::quiet_NaN());
  selected_.clear();
  pair_ = {-1, -1};
  cursor_ = {-1, -1};
  update();
}

double CouplingMap::SideLargest() const { return LargestCoupling(k_); }

void CouplingMap::SetScaleMax(double k_max) {
  scale_max_ = k_max;
  update();
}

double CouplingMap::ScaleMax() const {
  // The scale ends at the largest finite |k|: an infinite one shows at the dark end, NaN as none.
  return std::isfinite(scale_max_) && scale_max_ > 0 ? scale_max_ : SideLargest();
}

void CouplingMap::SetSelected(std::vector<int> positions, std::pair<int, int> pair) {
  selected_ = std::move(positions);
  pair_ = pair;
  update();
}

void CouplingMap::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Paint(painter, rect());
  if (hasFocus() && cursor_.first >= 0 && cursor_.first < names_.size()) {
    // The keyboard's cell.
    const Layout layout = LayoutIn(rect(), QFontMetricsF(font()));
    painter.setPen(QPen(palette().highlight().color(), 2, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(layout.map.left() + cursor_.second * layout.cell,
                            layout.map.top() + cursor_.first * layout.cell, layout.cell,
                            layout.cell));
  }
  DrawFocusFrame(painter, *this);
}

void CouplingMap::keyPressEvent(QKeyEvent* event) {
  const int n = static_cast<int>(names_.size());
  if (n == 0) return QWidget::keyPressEvent(event);
  auto [row, column] = cursor_.first >= 0 ? cursor_ : std::pair<int, int>{0, std::min(1, n - 1)};
  switch (event->key()) {
    case Qt::Key_Up:
      row = std::max(0, row - 1);
      break;
    case Qt::Key_Down:
      row = std::min(n - 1, row + 1);
      break;
    case Qt::Key_Left:
      column = std::max(0, column - 1);
      break;
    case Qt::Key_Right:
      column = std::min(n - 1, column + 1);
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      emit CellClicked(row, column);
      return;
    default:
      return QWidget::keyPressEvent(event);
  }
  cursor_ = {row, column};
  update();
}

CouplingMap::Layout CouplingMap::LayoutIn(const QRectF& area, const QFontMetricsF& fm) const {
  Layout out;
  const auto n = static_cast<int>(names_.size());
  double label_w = 0;
  for (const QString& name : names_) label_w = std::max(label_w, fm.horizontalAdvance(name));
  out.label_w = std::min(label_w + 6, area.width() / 4);
  out.legend_w = fm.horizontalAdvance(QStringLiteral("0.000")) + 40;
  const double top = area.top() + 2 * fm.height() + 10 + out.label_w;
  const double side = std::max(
      10.0, std::min(area.width() - out.label_w - out.legend_w - 20, area.bottom() - top - 8));
  out.map = QRectF(area.left() + out.label_w + 6, top, side, side);
  out.cell = n > 0 ? side / n : side;
  return out;
}

std::pair<int, int> CouplingMap::CellAt(QPointF at) const {
  const Layout layout = LayoutIn(rect(), QFontMetricsF(font()));
  if (names_.isEmpty() || !layout.map.contains(at)) return {-1, -1};
  const int n = static_cast<int>(names_.size());
  const int row = std::min(n - 1, static_cast<int>((at.y() - layout.map.top()) / layout.cell));
  const int column = std::min(n - 1, static_cast<int>((at.x() - layout.map.left()) / layout.cell));
  return {row, column};
}

QString CouplingMap::CellText(int row, int column) const {
  const int n = static_cast<int>(names_.size());
  if (row < 0 || column < 0 || row >= n || column >= n) return {};
  const auto at = static_cast<std::size_t>(row * n + column);
  const QString l = std::isfinite(l_nh_[at]) ? QString::number(l_nh_[at], 'g', 4) : "-";
  if (row == column) {
    return QStringLiteral("%1: L loop %2 nH").arg(names_[row], l);
  }
  const QString k = std::isfinite(k_[at]) ? QString::number(k_[at], 'f', 3) : "-";
  return QStringLiteral("%1 – %2: k = %3, L_ij = %4 nH").arg(names_[row], names_[column], k, l);
}

bool CouplingMap::event(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QWidget::event(event);
  const auto [row, column] = CellAt(static_cast<QHelpEvent*>(event)->pos());
  return ShowToolTip(this, event, CellText(row, column));
}

void CouplingMap::mousePressEvent(QMouseEvent* event) {
  const auto [row, column] = CellAt(event->position());
  if (row >= 0 && event->button() == Qt::LeftButton) emit CellClicked(row, column);
  QWidget::mousePressEvent(event);
}

void CouplingMap::Paint(QPainter& p, const QRectF& area) const {
  const QFontMetricsF fm(p.font());
  p.setPen(Qt::black);
  const auto n = static_cast<int>(names_.size());
  if (n == 0) {
    p.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, QStringLiteral("No die side with wires"));
    return;
  }
  p.drawText(QRectF(area.left(), area.top() + 2, area.width(), 2 * fm.height()),
             Qt::AlignCenter | Qt::TextWordWrap,
             title_ + QStringLiteral(": loop coupling |k| in pad order"));
  const Layout layout = LayoutIn(area, fm);
  const QRectF& map = layout.map;
  const double cell = layout.cell, side = map.width(), label_w = layout.label_w;
  const double k_max = ScaleMax();

  QImage image(n, n, QImage::Format_RGB32);
  for (int i = 0; i < n && !image.isNull(); ++i) {
    for (int j = 0; j < n; ++j) {
      const double k = std::abs(k_[static_cast<std::size_t>(i * n + j)]);
      image.setPixelColor(j, i,
                          i == j      ? QColor(200, 200, 200)
                          : k_max > 0 ? CouplingColour(k / k_max)
                                      : CouplingColour(k > 0 ? 1.0 : 0.0));
    }
  }
  p.drawImage(map, image);
  p.setPen(QPen(Qt::black, 1));
  p.drawRect(map);

  // Pad names on both axes, thinned so that they do not overlap.
  const int step = std::max(1, static_cast<int>(std::ceil(fm.height() / cell)));
  for (int i = 0; i < n; i += step) {
    const double c = (i + 0.5) * cell;
    const QString name = fm.elidedText(names_[i], Qt::ElideMiddle, label_w);
    p.drawText(QRectF(area.left(), map.top() + c - fm.height() / 2, label_w, fm.height()),
               Qt::AlignRight | Qt::AlignVCenter, name);
    p.save();
    p.translate(map.left() + c, map.top() - 4);
    p.rotate(-90);
    p.drawText(QRectF(0, -fm.height() / 2, label_w, fm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               name);
    p.restore();
  }

  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(213, 94, 0), 2));
  for (int s : selected_) {
    if (s < 0 || s >= n) continue;
    p.drawRect(QRectF(map.left(), map.top() + s * cell, side, cell));
    p.drawRect(QRectF(map.left() + s * cell, map.top(), cell, side));
  }
  if (pair_.first >= 0 && pair_.first < n && pair_.second >= 0 && pair_.second < n) {
    p.setPen(QPen(Qt::black, 3));
    p.drawRect(QRectF(map.left() + pair_.second * cell, map.top() + pair_.first * cell, cell, cell)
                   .adjusted(-2, -2, 2, 2));
  }

  // The legend: the colour scale from 0 to the scale's top.
  const QRectF bar(map.right() + 14, map.top(), 14, side);
  for (int y = 0; y < static_cast<int>(bar.height()); ++y) {
    p.fillRect(QRectF(bar.left(), bar.bottom() - y - 1, bar.width(), 1),
               CouplingColour(y / bar.height()));
  }
  p.setPen(Qt::black);
  p.drawRect(bar);
  for (double t : {0.0, 0.5, 1.0}) {
    const double ty = bar.bottom() - t * bar.height();
    p.drawText(QRectF(bar.right() + 3, ty - fm.height() / 2, layout.legend_w, fm.height()),
               Qt::AlignLeft | Qt::AlignVCenter, QString::number(t * k_max, 'f', 3));
  }
}

double LargestCoupling(const std::vector<double>& k) {
  const auto n = static_cast<std::size_t>(std::llround(std::sqrt(static_cast<double>(k.size()))));
  double largest = 0;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) {
      const double k_ij = std::abs(k[i * n + j]);
      if (i != j && std::isfinite(k_ij)) largest = std::max(largest, k_ij);
    }
  }
  return largest;
}

}  // namespace ostrel::ui
