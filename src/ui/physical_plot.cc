#include "ui/physical_plot.h"

#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>
#include <limits>

namespace ostrel::ui {
namespace {

const QColor kWireColours[] = {QColor(31, 119, 180),  QColor(214, 39, 40),  QColor(44, 160, 44),
                               QColor(148, 103, 189), QColor(255, 127, 14), QColor(23, 190, 207),
                               QColor(140, 86, 75),   QColor(227, 119, 194)};
constexpr std::size_t kWireColourCount = sizeof kWireColours / sizeof kWireColours[0];

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

void DrawMarker(QPainter& p, QPointF at, int shape, const QColor& colour) {
  if (!Drawable(at)) return;
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(colour);
  const double r = 4.5;
  if (shape == 0) {
    p.drawEllipse(at, r, r);
  } else if (shape == 1) {
    p.drawRect(QRectF(at.x() - r, at.y() - r, 2 * r, 2 * r));
  } else {
    p.drawPolygon(QPolygonF({at + QPointF(0, -r - 1), at + QPointF(r, r), at + QPointF(-r, r)}));
  }
  p.setBrush(Qt::NoBrush);
}

void DrawPane(QPainter& p, const Pane& pane, const QString& title, bool frequency_labels) {
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
  for (double v : y_ticks) {
    const QString label = Number(v);
    p.drawText(QRectF(pane.box.left() - 60, pane.Y(v) - fm.height() / 2, 54, fm.height()),
               Qt::AlignRight | Qt::AlignVCenter, label);
  }
  if (frequency_labels) {
    // Decade labels only, when the 2-5 or digit ticks would crowd them.
    const bool decades_only = x_ticks.size() > 8;
    for (double f : x_ticks) {
      const double mantissa = f / std::pow(10.0, std::floor(std::log10(f) + 1e-9));
      if (decades_only && std::abs(mantissa - 1) > 1e-6) continue;
      const QString label = QString::fromStdString(FrequencyLabel(f));
      p.drawText(QRectF(pane.X(f) - 40, pane.box.bottom() + 3, 80, fm.height()),
                 Qt::AlignHCenter | Qt::AlignTop, label);
    }
  }
  p.save();
  p.translate(pane.box.left() - 64 - fm.height() / 2, pane.box.center().y());
  p.rotate(-90);
  p.drawText(QRectF(-pane.box.height() / 2, -fm.height() / 2, pane.box.height(), fm.height()),
             Qt::AlignCenter, title);
  p.restore();
}

}  // namespace

FrequencyPlot::FrequencyPlot(QWidget* parent) : QWidget(parent) {
  setBackgroundRole(QPalette::Base);
  setAutoFillBackground(true);
  setMinimumSize(360, 300);
}

void FrequencyPlot::SetWires(std::vector<PlotWire> wires, double settings_frequency_hz) {
  wires_ = std::move(wires);
  settings_frequency_hz_ = settings_frequency_hz;
  update();
}

QStringList FrequencyPlot::WireNames() const {
  QStringList names;
  for (const PlotWire& w : wires_) names << w.name;
  return names;
}

void FrequencyPlot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  Paint(painter, rect());
}

bool FrequencyPlot::SaveTo(const QString& path, QSize size) const {
  if (QFileInfo(path).suffix().compare(QStringLiteral("svg"), Qt::CaseInsensitive) == 0) {
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(QStringLiteral("Resistance and inductance over frequency"));
    QPainter painter;
    if (!painter.begin(&svg)) return false;
    painter.setFont(font());
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    Paint(painter, QRectF(QPointF(0, 0), size));
    return painter.end();
  }
  QImage image(size * 2, QImage::Format_ARGB32);
  image.setDevicePixelRatio(2);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setFont(font());
  Paint(painter, QRectF(QPointF(0, 0), size));
  painter.end();
  return image.save(path);
}

void FrequencyPlot::Paint(QPainter& p, const QRectF& area) const {
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
    p.drawText(area, Qt::AlignCenter, QStringLiteral("Select a wire in the table"));
    return;
  }

  // The key: wire colours, then line styles and markers, wrapped to the width.
  const double line_h = fm.height() + 4;
  double x = area.left() + 8, y = area.top() + 4;
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
    const QColor colour = kWireColours[i % kWireColourCount];
    key_item(14, wires_[i].name,
             [&](QRectF r) { p.fillRect(QRectF(r.left(), r.center().y() - 5, 14, 10), colour); });
  }
  x = area.left() + 8;
  y += line_h;
  auto line_glyph = [&](Qt::PenStyle style) {
    return [&p, style](QRectF r) {
      p.setPen(QPen(Qt::darkGray, 2, style));
      p.drawLine(QPointF(r.left(), r.center().y()), QPointF(r.right(), r.center().y()));
    };
  };
  key_item(24, QStringLiteral("R, L loop"), line_glyph(Qt::SolidLine));
  const bool has_partial = !wires_.front().sweep.partial_nh.empty();
  if (has_partial) key_item(24, QStringLiteral("L partial"), line_glyph(Qt::DashLine));
  const char* markers[] = {"report R, L AC", "report L Self", "report L DC"};
  for (int shape = 0; shape < 3; ++shape) {
    key_item(10, QString::fromUtf8(markers[shape]),
             [&](QRectF r) { DrawMarker(p, r.center(), shape, Qt::lightGray); });
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

  const double left = area.left() + 78, right = area.right() - 16;
  const double bottom = area.bottom() - 2 * fm.height() - 12;
  const double pane_h = (bottom - top - fm.height() - 14) / 2;
  const Pane r_pane{
      QRectF(left, top, right - left, pane_h), f_lo, f_hi, r_axis.lo, r_axis.hi, true};
  const Pane l_pane{
      QRectF(left, bottom - pane_h, right - left, pane_h), f_lo, f_hi, l_axis.lo, l_axis.hi, false};
  DrawPane(p, r_pane, QStringLiteral("R (mΩ)"), true);
  DrawPane(p, l_pane, QStringLiteral("L (nH)"), true);
  p.drawText(QRectF(left, area.bottom() - fm.height() - 4, right - left, fm.height()),
             Qt::AlignCenter, QStringLiteral("Frequency (log scale)"));

  for (const Pane* pane : {&r_pane, &l_pane}) {
    if (!(settings_frequency_hz_ >= f_lo && settings_frequency_hz_ <= f_hi)) continue;
    p.setPen(QPen(QColor(120, 120, 120), 1, Qt::DotLine));
    const double sx = pane->X(settings_frequency_hz_);
    p.drawLine(QPointF(sx, pane->box.top()), QPointF(sx, pane->box.bottom()));
  }

  p.save();
  p.setClipRect(r_pane.box.united(l_pane.box));
  auto curve = [&](const Pane& pane, const std::vector<double>& f, const std::vector<double>& v,
                   const QPen& pen) {
    QPainterPath path;
    bool started = false;
    for (std::size_t i = 0; i < f.size() && i < v.size(); ++i) {
      const QPointF at(pane.X(f[i]), pane.Y(v[i]));
      if (!Drawable(at)) continue;
      if (started) {
        path.lineTo(at);
      } else {
        path.moveTo(at);
        started = true;
      }
    }
    p.setPen(pen);
    p.drawPath(path);
  };
  for (std::size_t i = 0; i < wires_.size(); ++i) {
    const PlotWire& w = wires_[i];
    const QColor colour = kWireColours[i % kWireColourCount];
    curve(r_pane, w.sweep.frequency_hz, w.sweep.resistance_mohm, QPen(colour, 2));
    curve(l_pane, w.sweep.frequency_hz, w.sweep.loop_nh, QPen(colour, 2));
    curve(l_pane, w.sweep.frequency_hz, w.sweep.partial_nh, QPen(colour, 2, Qt::DashLine));
    if (settings_frequency_hz_ >= f_lo && settings_frequency_hz_ <= f_hi) {
      const double sx = l_pane.X(settings_frequency_hz_);
      DrawMarker(p, {sx, r_pane.Y(w.report_resistance_mohm)}, 0, colour);
      DrawMarker(p, {sx, l_pane.Y(w.report_ac_nh)}, 0, colour);
      DrawMarker(p, {sx, l_pane.Y(w.report_self_nh)}, 1, colour);
    }
    DrawMarker(p, {l_pane.box.left() + 6, l_pane.Y(w.report_dc_nh)}, 2, colour);
  }
  p.restore();
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
  const double t = (fraction > 0 ? std::min(fraction, 1.0) : 0.0) * 4;
  const int i = std::min(3, static_cast<int>(t));
  const double u = t - i;
  const QColor& a = kStops[i];
  const QColor& b = kStops[i + 1];
  return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * u),
                          static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * u),
                          static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * u));
}

CouplingMap::CouplingMap(QWidget* parent) : QWidget(parent) {
  setBackgroundRole(QPalette::Base);
  setAutoFillBackground(true);
  setMinimumSize(300, 260);
}

void CouplingMap::SetSide(const QString& title, QStringList names, std::vector<double> k) {
  title_ = title;
  names_ = std::move(names);
  k_ = std::move(k);
  const auto n = static_cast<std::size_t>(names_.size());
  k_.resize(n * n, std::numeric_limits<double>::quiet_NaN());  // missing figures: none shown
  // The scale ends at the largest finite |k|: an infinite one shows at the dark end, NaN as none.
  k_max_ = 0;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) {
      const double k_ij = std::abs(k_[i * n + j]);
      if (i != j && std::isfinite(k_ij)) k_max_ = std::max(k_max_, k_ij);
    }
  }
  selected_ = -1;
  update();
}

void CouplingMap::SetSelected(int position) {
  selected_ = position;
  update();
}

void CouplingMap::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Paint(painter, rect());
}

void CouplingMap::Paint(QPainter& p, const QRectF& area) const {
  const QFontMetricsF fm(p.font());
  p.setPen(Qt::black);
  const auto n = static_cast<int>(names_.size());
  if (n == 0) {
    p.drawText(area, Qt::AlignCenter, QStringLiteral("No die side with wires"));
    return;
  }
  p.drawText(QRectF(area.left(), area.top() + 2, area.width(), fm.height()), Qt::AlignCenter,
             title_ + QStringLiteral(": loop coupling |k| in pad order"));
  double label_w = 0;
  for (const QString& name : names_) label_w = std::max(label_w, fm.horizontalAdvance(name));
  label_w = std::min(label_w + 6, area.width() / 4);
  const double legend_w = fm.horizontalAdvance(QStringLiteral("0.000")) + 40;
  const double top = area.top() + fm.height() + 8 + label_w;
  const double side =
      std::max(10.0, std::min(area.width() - label_w - legend_w - 20, area.bottom() - top - 8));
  const QRectF map(area.left() + label_w + 6, top, side, side);
  const double cell = side / n;

  QImage image(n, n, QImage::Format_RGB32);
  for (int i = 0; i < n && !image.isNull(); ++i) {
    for (int j = 0; j < n; ++j) {
      const double k = std::abs(k_[static_cast<std::size_t>(i * n + j)]);
      image.setPixelColor(j, i,
                          i == j       ? QColor(200, 200, 200)
                          : k_max_ > 0 ? CouplingColour(k / k_max_)
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
    p.drawText(QRectF(area.left(), map.top() + c - fm.height() / 2, label_w, fm.height()),
               Qt::AlignRight | Qt::AlignVCenter, names_[i]);
    p.save();
    p.translate(map.left() + c, map.top() - 4);
    p.rotate(-90);
    p.drawText(QRectF(0, -fm.height() / 2, label_w, fm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               names_[i]);
    p.restore();
  }

  if (selected_ >= 0 && selected_ < n) {
    p.setPen(QPen(QColor(220, 30, 30), 2));
    p.drawRect(QRectF(map.left(), map.top() + selected_ * cell, side, cell));
    p.drawRect(QRectF(map.left() + selected_ * cell, map.top(), cell, side));
  }

  // The legend: the colour scale from 0 to the largest |k| of the side.
  const QRectF bar(map.right() + 14, map.top(), 14, side);
  for (int y = 0; y < static_cast<int>(bar.height()); ++y) {
    p.fillRect(QRectF(bar.left(), bar.bottom() - y - 1, bar.width(), 1),
               CouplingColour(y / bar.height()));
  }
  p.setPen(Qt::black);
  p.drawRect(bar);
  for (double t : {0.0, 0.5, 1.0}) {
    const double ty = bar.bottom() - t * bar.height();
    p.drawText(QRectF(bar.right() + 3, ty - fm.height() / 2, legend_w, fm.height()),
               Qt::AlignLeft | Qt::AlignVCenter, QString::number(t * k_max_, 'f', 3));
  }
}

}  // namespace ostrel::ui
