#pragma once

#include <QWidget>

#include "ui/loop_schematic.h"

namespace ostrel::ui {

// Paints a LoopSchematic scaled to the widget, keeping its proportions; lines leaving the
// drawing are clipped at its border.
class SchematicWidget : public QWidget {
  Q_OBJECT

 public:
  explicit SchematicWidget(QWidget* parent = nullptr);

  void SetSchematic(const LoopSchematic& schematic);
  const LoopSchematic& schematic() const { return schematic_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  LoopSchematic schematic_ = DesignSchematic();
};

}  // namespace ostrel::ui
