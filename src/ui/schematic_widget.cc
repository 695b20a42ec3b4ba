#include "ui/schematic_widget.h"

#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>

namespace ostrel::ui {
namespace {

QColor ToColor(Rgb c) { return QColor(c.r, c.g, c.b); }

// Keeps a coordinate finite and within a range the painter handles; a loop far outside the
// drawing is clipped anyway.
double Tame(float v) {
  if (std::isnan(v)) return 0;
  return std::clamp(static_cast<double>(v), -1e6, 1e6);
}

}  // namespace

SchematicWidget::SchematicWidget(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setAutoFillBackground(true);
}

void SchematicWidget::SetSchematic(const LoopSchematic& schematic) {
  if (schematic == schematic_) return;
  schematic_ = schematic;
  update();
}

QSize SchematicWidget::sizeHint() const { return {470, 152}; }
QSize SchematicWidget::minimumSizeHint() const { return {320, 104}; }

void SchematicWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  // One scale for both axes, the drawing centred in the widget.
  const double scale =
      std::min(width() / double{kSchematicWidth}, height() / double{kSchematicHeight});
  const double dx = (width() - kSchematicWidth * scale) / 2;
  const double dy = (height() - kSchematicHeight * scale) / 2;
  const QRectF area(dx, dy, kSchematicWidth * scale, kSchematicHeight * scale);
  painter.setClipRect(area);
  auto at = [&](float x, float y) { return QPointF(dx + Tame(x) * scale, dy + Tame(y) * scale); };

  for (const DieBlock& die : schematic_.Die) {
    const QRectF block(at(die.Left, die.Top), at(die.Left + die.Width, die.Top + die.Height));
    painter.fillRect(block, ToColor(die.Fill));
    painter.setPen(palette().color(die.CaptionEnabled ? QPalette::Active : QPalette::Disabled,
                                   QPalette::WindowText));
    painter.drawText(block, Qt::AlignCenter, QString::fromStdString(die.Caption));
  }
  auto draw = [&](const SchematicLine& line) {
    QPen pen(ToColor(line.Colour));
    // Widths are pixels at the drawing's natural size (about 470 pixels wide) and grow with it.
    pen.setWidthF(line.Width * std::max(1.0, scale * 10));
    pen.setCosmetic(true);
    pen.setCapStyle(Qt::FlatCap);
    if (line.Dotted) pen.setStyle(Qt::DotLine);
    painter.setPen(pen);
    painter.drawLine(at(line.X1, line.Y1), at(line.X2, line.Y2));
  };
  for (const auto& line : schematic_.SBP) draw(line);
  for (const auto& line : schematic_.Bbw) draw(line);
  for (const auto& line : schematic_.sbw) draw(line);
}

}  // namespace ostrel::ui
