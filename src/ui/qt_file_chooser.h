#pragma once

#include "ui/toolkit.h"

class QWidget;

namespace ostrel::ui {

// The file dialog of the desktop: QFileDialog with the request's title, filters, default
// extension, first name and overwrite prompt; the create prompt is a question box.
class QtFileChooser : public FileChooser {
 public:
  explicit QtFileChooser(QWidget* parent) : parent_(parent) {}
  std::optional<std::string> Choose(const FileDialogRequest& request) override;
  bool ConfirmCreate(const FileDialogRequest& request, const std::string& path) override;

 private:
  QWidget* parent_;
};

}  // namespace ostrel::ui
