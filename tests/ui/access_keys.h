#pragma once

#include <QAbstractButton>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QWidget>

namespace ostrel::ui {

// The text a control shows with its access key marked by '&': a button's caption, a frame's
// title, a label's text; empty for any other control.
inline QString AccessKeyText(QWidget* control) {
  if (auto* button = qobject_cast<QAbstractButton*>(control)) return button->text();
  if (auto* frame = qobject_cast<QGroupBox*>(control)) return frame->title();
  if (auto* label = qobject_cast<QLabel*>(control)) return label->text();
  return {};
}

}  // namespace ostrel::ui
