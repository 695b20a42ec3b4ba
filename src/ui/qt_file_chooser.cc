#include "ui/qt_file_chooser.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>

namespace ostrel::ui {

std::optional<std::string> QtFileChooser::Choose(const FileDialogRequest& request) {
  QFileDialog dialog(parent_, QString::fromStdString(request.title));
  QStringList filters;
  for (const std::string& f : NameFilters(request.filter)) filters << QString::fromStdString(f);
  dialog.setNameFilters(filters);
  dialog.setDefaultSuffix(QString::fromStdString(request.default_extension));
  const bool save = request.mode == FileDialogRequest::Mode::kSave;
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwrite_prompt);
  // A wildcard first name only restates the filter; a real name (or path) is preselected.
  const QString initial = QString::fromLocal8Bit(request.initial_name);
  if (!initial.isEmpty() && !initial.contains(QLatin1Char('*'))) dialog.selectFile(initial);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst().toLocal8Bit().toStdString();
}

bool QtFileChooser::ConfirmCreate(const FileDialogRequest& request, const std::string& path) {
  const QString name = QFileInfo(QString::fromLocal8Bit(path)).fileName();
  return QMessageBox::question(parent_, QString::fromStdString(request.title),
                               QStringLiteral("%1 does not exist.\nCreate the file?").arg(name)) ==
         QMessageBox::Yes;
}

}  // namespace ostrel::ui
