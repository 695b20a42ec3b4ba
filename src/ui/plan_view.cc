#include "ui/plan_view.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "ui/physical_plot.h"

namespace ostrel::ui {
namespace {

constexpr double kLegendWidth = 150;

QString Figure(double value) {
  return std::isfinite(value) ? QString::number(value, 'g', 4) : QStringLiteral("none");
}

}  // namespace

QColor PlanColour(double fraction) {
  // Viridis, stopping short of its palest yellow so that a wire still shows on white.
  static const QColor kStops[] = {QColor(68, 1, 84), QColor(59, 82, 139), QColor(33, 145, 140),
                                  QColor(94, 201, 98), QColor(200, 210, 30)};
  if (std::isnan(fraction)) return QColor(160, 160, 160);
  return ColourOnScale(kStops, fraction);
}

PlanView::PlanView(QWidget* parent) : QWidget(parent) {
  setBackgroundRole(QPalette::Base);
  setAutoFillBackground(true);
  setMinimumSize(220, 200);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
}

void PlanView::SetScene(PlanScene scene) {
  const bool same_extent = scene.min == scene_.min && scene.max == scene_.max;
  scene_ = std::move(scene);
  if (!same_extent) Fit();
  update();
}

void PlanView::SetSelected(std::vector<std::size_t> wires) {
  selected_ = std::move(wires);
  update();
}

void PlanView::SetShown(std::vector<bool> shown) {
  shown_ = std::move(shown);
  update();
}

QColor PlanView::WireColour(std::size_t wire) const {
  if (wire < scene_.category.size()) {
    const int k = scene_.category[wire];
    if (k >= 0 && k < static_cast<int>(scene_.categories.size())) {
      return QColor::fromRgb(scene_.categories[static_cast<std::size_t>(k)].rgb);
    }
  }
  return PlanColour(ScaleFraction(scene_.values[wire], scene_.lo, scene_.hi));
}

void PlanView::Fit() {
  zoom_ = 1;
  pan_ = {};
  update();
}

PlanView::Frame PlanView::FrameIn(const QRectF& area, double legend_w, double title_h) const {
  Frame frame;
  frame.drawing = area.adjusted(8, title_h + 8, -legend_w - 8, -8);
  frame.centre = frame.drawing.center();
  const double w = scene_.max.x - scene_.min.x, h = scene_.max.y - scene_.min.y;
  double fit = 1;
  if (w > 0 && h > 0) {
    fit = std::min(frame.drawing.width() / w, frame.drawing.height() / h);
  } else if (w > 0 || h > 0) {
    fit = std::min(frame.drawing.width(), frame.drawing.height()) / std::max(w, h);
  }
  frame.scale = std::max(fit, 1e-9) * zoom_;
  return frame;
}

PlanView::Frame PlanView::ScreenFrame() const {
  const QFontMetricsF fm(font());
  return FrameIn(rect(), kLegendWidth, 2 * fm.height());
}

QPointF PlanView::Map(const Frame& frame, PlanPoint at) const {
  const double cx = (scene_.min.x + scene_.max.x) / 2 + pan_.x;
  const double cy = (scene_.min.y + scene_.max.y) / 2 + pan_.y;
  return {frame.centre.x() + (at.x - cx) * frame.scale,
          frame.centre.y() - (at.y - cy) * frame.scale};
}

QPointF PlanView::ToScreen(PlanPoint at) const { return Map(ScreenFrame(), at); }

PlanPoint PlanView::ToPlan(QPointF at) const {
  const Frame frame = ScreenFrame();
  const double cx = (scene_.min.x + scene_.max.x) / 2 + pan_.x;
  const double cy = (scene_.min.y + scene_.max.y) / 2 + pan_.y;
  return {cx + (at.x() - frame.centre.x()) / frame.scale,
          cy - (at.y() - frame.centre.y()) / frame.scale};
}

void PlanView::ZoomAbout(double factor, QPointF at) {
  if (!(factor > 0) || !std::isfinite(factor)) return;
  const PlanPoint fixed = ToPlan(at);
  zoom_ = std::clamp(zoom_ * factor, 0.2, 500.0);
  // The plan point under `at` stays there.
  const Frame frame = ScreenFrame();
  pan_.x = fixed.x - (scene_.min.x + scene_.max.x) / 2 - (at.x() - frame.centre.x()) / frame.scale;
  pan_.y = fixed.y - (scene_.min.y + scene_.max.y) / 2 + (at.y() - frame.centre.y()) / frame.scale;
  update();
}

void PlanView::PanBy(QPointF pixels) {
  const double scale = ScreenFrame().scale;
  pan_.x -= pixels.x() / scale;
  pan_.y += pixels.y() / scale;
  update();
}

int PlanView::WireAt(QPointF at) const {
  return NearestWire(scene_, ToPlan(at), 5 / ScreenFrame().scale);
}

QString PlanView::WireText(int wire) const {
  if (wire < 0 || wire >= static_cast<int>(scene_.names.size())) return {};
  const auto w = static_cast<std::size_t>(wire);
  QString figure = Figure(scene_.values[w]);
  if (w < scene_.category.size() && scene_.category[w] >= 0) {
    figure = QString::fromStdString(
        scene_.categories[static_cast<std::size_t>(scene_.category[w])].name);
  }
  QString text = QStringLiteral("%1: %2 %3")
                     .arg(QString::fromStdString(scene_.names[w]),
                          QString::fromStdString(scene_.label), figure);
  if (scene_.joined[w]) text += QStringLiteral("; joined to another wire");
  return text;
}

void PlanView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  Paint(painter, rect());
  DrawFocusFrame(painter, *this);
}

bool PlanView::SaveTo(const QString& path, QSize size) const {
  return SaveDrawing(path, size, font(), QStringLiteral("Plan of the package"),
                     [this](QPainter& p, const QRectF& area) { Paint(p, area); });
}

void PlanView::Paint(QPainter& p, const QRectF& area) const {
  const QFontMetricsF fm(p.font());
  p.setPen(Qt::black);
  if (scene_.paths.empty() && scene_.shapes.empty()) {
    p.drawText(area, Qt::AlignCenter | Qt::TextWordWrap,
               QStringLiteral("No package shown: the plan appears with the computed model"));
    return;
  }
  const Frame frame = FrameIn(area, kLegendWidth, 2 * fm.height());
  p.drawText(
      QRectF(area.left() + 8, area.top() + 2, area.width() - kLegendWidth - 16, 2 * fm.height()),
      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
      QStringLiteral("Plan, wires coloured by %1").arg(QString::fromStdString(scene_.label)));
  p.save();
  p.setClipRect(frame.drawing);
  auto rect_of = [&](const PlanShape& shape) {
    return QRectF(Map(frame, shape.lo), Map(frame, shape.hi)).normalized();
  };
  using Kind = PlanShape::Kind;
  for (const PlanShape& shape : scene_.shapes) {
    const QRectF r = rect_of(shape);
    switch (shape.kind) {
      case Kind::kRing:
        p.setPen(QPen(QColor(205, 205, 215), std::max(1.0, shape.line_um * frame.scale)));
        p.setBrush(Qt::NoBrush);
        break;
      case Kind::kAttachPad:
        p.setPen(QPen(QColor(150, 150, 150), 1, Qt::DashLine));
        p.setBrush(Qt::NoBrush);
        break;
      case Kind::kBaseDie:
        p.setPen(QPen(QColor(120, 120, 120), 1));
        p.setBrush(QColor(236, 236, 236));
        break;
      case Kind::kStackedDie:
        p.setPen(QPen(QColor(120, 120, 120), 1));
        p.setBrush(QColor(222, 222, 230));
        break;
      case Kind::kFinger:
        p.setPen(QPen(QColor(170, 130, 40), 1));
        p.setBrush(QColor(250, 235, 190));
        break;
      case Kind::kPad:
        p.setPen(QPen(QColor(90, 90, 90), 1));
        p.setBrush(QColor(250, 250, 250));
        break;
    }
    p.drawRect(r);
  }
  p.setBrush(Qt::NoBrush);

  auto path_of = [&](std::size_t wire) {
    QPainterPath path;
    const auto& points = scene_.paths[wire];
    for (std::size_t i = 0; i < points.size(); ++i) {
      const QPointF at = Map(frame, points[i]);
      if (i == 0) {
        path.moveTo(at);
      } else {
        path.lineTo(at);
      }
    }
    return path;
  };
  std::vector<bool> chosen(scene_.paths.size(), false);
  for (std::size_t wire : selected_) {
    if (wire < chosen.size()) chosen[wire] = true;
  }
  const double width = std::clamp(frame.scale * 20, 1.5, 6.0);
  // The wires the filters hide first, pale and thin, under those they keep.
  for (const bool shown : {false, true}) {
    for (std::size_t w = 0; w < scene_.paths.size(); ++w) {
      if (chosen[w] || Shown(w) != shown) continue;
      const bool figure = std::isfinite(scene_.values[w]) ||
                          (w < scene_.category.size() && scene_.category[w] >= 0);
      QColor colour = WireColour(w);
      if (!shown)
        colour = QColor::fromRgbF(0.8f + 0.2f * colour.redF(), 0.8f + 0.2f * colour.greenF(),
                                  0.8f + 0.2f * colour.blueF());
      p.setPen(QPen(colour, shown ? width : std::max(1.0, width / 2),
                    figure ? Qt::SolidLine : Qt::DotLine, Qt::RoundCap));
      p.drawPath(path_of(w));
    }
  }
  // Joined wires: a small diamond at each end.
  p.setPen(QPen(Qt::black, 1));
  for (std::size_t w = 0; w < scene_.paths.size(); ++w) {
    if (!scene_.joined[w] || scene_.paths[w].empty()) continue;
    for (const PlanPoint& end : {scene_.paths[w].front(), scene_.paths[w].back()}) {
      const QPointF c = Map(frame, end);
      p.drawPolygon(QPolygonF(
          {c + QPointF(0, -4), c + QPointF(4, 0), c + QPointF(0, 4), c + QPointF(-4, 0)}));
    }
  }
  // The selection over the rest, with a dark edge.
  for (std::size_t w = 0; w < scene_.paths.size(); ++w) {
    if (!chosen[w]) continue;
    const QPainterPath path = path_of(w);
    p.setPen(QPen(Qt::black, width + 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
    p.setPen(QPen(WireColour(w), width + 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
  }
  // Wires that touch or overlap: a red ring where they come closest.
  p.setPen(QPen(QColor(213, 94, 0), 2));
  for (const PlanPoint& at : scene_.overlaps) p.drawEllipse(Map(frame, at), 7, 7);
  p.restore();

  // The legend: the colour scale with its ends and middle (or a swatch per category), then the
  // marks.
  const double lx = area.right() - kLegendWidth + 4;
  double ly = area.top() + 2 * fm.height() + 8;
  auto key = [&](const QString& text, auto glyph) {
    glyph(QPointF(lx + 7, ly + fm.height() / 2));
    p.setPen(Qt::black);
    p.drawText(QRectF(lx + 20, ly, kLegendWidth - 24, 2 * fm.height()),
               Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
    ly += 2 * fm.height() + 4;
  };
  // The marks on the wires, whatever colours them.
  auto marks = [&] {
    key(QStringLiteral("wires touch or overlap"), [&](QPointF c) {
      p.setPen(QPen(QColor(213, 94, 0), 2));
      p.drawEllipse(c, 6, 6);
    });
    key(QStringLiteral("joined at a bond point"), [&](QPointF c) {
      p.setPen(QPen(Qt::black, 1));
      p.drawPolygon(QPolygonF(
          {c + QPointF(0, -4), c + QPointF(4, 0), c + QPointF(0, 4), c + QPointF(-4, 0)}));
    });
    if (std::find(shown_.begin(), shown_.end(), false) == shown_.end()) return;
    key(QStringLiteral("hidden by the table's filters"), [&](QPointF c) {
      p.setPen(QPen(QColor(205, 205, 205), 2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(c - QPointF(6, 0), c + QPointF(6, 0));
    });
  };
  if (!scene_.categories.empty()) {
    for (const PlanCategory& category : scene_.categories) {
      key(QString::fromStdString(category.name), [&](QPointF c) {
        p.setPen(QPen(QColor::fromRgb(category.rgb), 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(c - QPointF(6, 0), c + QPointF(6, 0));
      });
    }
    marks();
    return;
  }
  const QRectF bar(lx, ly, 14, std::max(40.0, std::min(200.0, area.height() / 2)));
  const bool one_value = !(scene_.hi > scene_.lo);
  for (int y = 0; y < static_cast<int>(bar.height()); ++y) {
    p.fillRect(QRectF(bar.left(), bar.bottom() - y - 1, bar.width(), 1),
               PlanColour(one_value ? 0.5 : y / bar.height()));
  }
  p.setPen(Qt::black);
  p.drawRect(bar);
  const double label_w = kLegendWidth - 24;
  if (one_value) {
    const bool any = std::any_of(scene_.values.begin(), scene_.values.end(),
                                 [](double v) { return std::isfinite(v); });
    p.drawText(QRectF(bar.right() + 4, bar.center().y() - fm.height() / 2, label_w, fm.height()),
               Qt::AlignLeft | Qt::AlignVCenter, any ? Figure(scene_.lo) : QStringLiteral("none"));
  } else {
    for (double t : {0.0, 0.5, 1.0}) {
      const double ty = bar.bottom() - t * bar.height();
      p.drawText(QRectF(bar.right() + 4, ty - fm.height() / 2, label_w, fm.height()),
                 Qt::AlignLeft | Qt::AlignVCenter, Figure(scene_.lo + t * (scene_.hi - scene_.lo)));
    }
  }
  ly = bar.bottom() + 10;
  key(QStringLiteral("no figure"), [&](QPointF c) {
    p.setPen(QPen(PlanColour(std::nan("")), 2, Qt::DotLine));
    p.drawLine(c - QPointF(7, 0), c + QPointF(7, 0));
  });
  marks();
}

void PlanView::wheelEvent(QWheelEvent* event) {
  const double steps = event->angleDelta().y() / 120.0;
  if (steps != 0) ZoomAbout(std::pow(1.25, steps), event->position());
  event->accept();
}

void PlanView::mousePressEvent(QMouseEvent* event) {
  press_ = last_ = event->position();
  dragged_ = false;
  setFocus(Qt::MouseFocusReason);
  event->accept();
}

void PlanView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return;
  const QPointF at = event->position();
  if ((at - press_).manhattanLength() > 4) dragged_ = true;
  if (dragged_) PanBy(at - last_);
  last_ = at;
}

void PlanView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || dragged_) return;
  const int wire = WireAt(event->position());
  if (wire >= 0) emit WireClicked(wire, event->modifiers() & Qt::ControlModifier);
}

void PlanView::keyPressEvent(QKeyEvent* event) {
  const QPointF centre = ScreenFrame().centre;
  switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      ZoomAbout(1.25, centre);
      return;
    case Qt::Key_Minus:
      ZoomAbout(0.8, centre);
      return;
    case Qt::Key_0:
      Fit();
      return;
    case Qt::Key_Left:
      PanBy({40, 0});
      return;
    case Qt::Key_Right:
      PanBy({-40, 0});
      return;
    case Qt::Key_Up:
      PanBy({0, 40});
      return;
    case Qt::Key_Down:
      PanBy({0, -40});
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

bool PlanView::event(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QWidget::event(event);
  return ShowToolTip(this, event, WireText(WireAt(static_cast<QHelpEvent*>(event)->pos())));
}

}  // namespace ostrel::ui
