#include "ui/report_view.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

namespace ostrel::ui {

ReportView::ReportView(QWidget* parent) : QAbstractScrollArea(parent) {
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  starts_.push_back(0);
}

void ReportView::SetText(std::string text) {
  text_ = std::move(text);
  starts_.clear();
  starts_.push_back(0);
  std::size_t longest = 0;
  for (std::size_t i = text_.find('\n'); i != std::string::npos; i = text_.find('\n', i + 1)) {
    longest = std::max(longest, i - starts_.back());
    starts_.push_back(i + 1);
  }
  longest = std::max(longest, text_.size() - starts_.back());
  // A text that ends its last line has no further line to show.
  if (starts_.size() > 1 && starts_.back() == text_.size()) starts_.pop_back();
  longest_line_ = static_cast<int>(std::min<std::size_t>(longest, 100000));
  verticalScrollBar()->setValue(0);
  horizontalScrollBar()->setValue(0);
  UpdateScrollBars();
  viewport()->update();
}

std::string_view ReportView::Line(std::size_t i) const {
  const std::size_t begin = starts_[i];
  std::size_t end = i + 1 < starts_.size() ? starts_[i + 1] : text_.size();
  if (end > begin && text_[end - 1] == '\n') --end;
  if (end > begin && text_[end - 1] == '\r') --end;
  return std::string_view(text_).substr(begin, end - begin);
}

QString ReportView::PlainText() const {
  std::string lines;
  lines.reserve(text_.size());
  for (std::size_t i = 0; i < text_.size(); ++i) {
    if (text_[i] == '\r' && i + 1 < text_.size() && text_[i + 1] == '\n') continue;
    lines.push_back(text_[i]);
  }
  return QString::fromLocal8Bit(lines);
}

void ReportView::UpdateScrollBars() {
  const QFontMetrics metrics(font());
  const int rows = std::max(1, viewport()->height() / metrics.lineSpacing());
  const int lines = static_cast<int>(starts_.size());
  verticalScrollBar()->setRange(0, std::max(0, lines - rows));
  verticalScrollBar()->setPageStep(rows);
  const int char_width = metrics.horizontalAdvance(QLatin1Char('M'));
  horizontalScrollBar()->setRange(
      0, std::max(0, longest_line_ * char_width + 8 - viewport()->width()));
  horizontalScrollBar()->setPageStep(viewport()->width());
  horizontalScrollBar()->setSingleStep(char_width);
}

void ReportView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void ReportView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.setFont(font());
  const QFontMetrics metrics(font());
  const int spacing = metrics.lineSpacing();
  const int first = verticalScrollBar()->value();
  const int rows = viewport()->height() / spacing + 2;
  const int x = 4 - horizontalScrollBar()->value();
  for (int r = 0; r < rows; ++r) {
    const auto i = static_cast<std::size_t>(first + r);
    if (i >= starts_.size()) break;
    const std::string_view line = Line(i);
    painter.drawText(x, r * spacing + metrics.ascent() + 2,
                     QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size())));
  }
}

void ReportView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::SelectAll)) {
    CopyAll();
    return;
  }
  QScrollBar* v = verticalScrollBar();
  switch (event->key()) {
    case Qt::Key_Home:
      v->setValue(v->minimum());
      return;
    case Qt::Key_End:
      v->setValue(v->maximum());
      return;
    default:
      QAbstractScrollArea::keyPressEvent(event);
  }
}

void ReportView::CopyAll() const { QApplication::clipboard()->setText(PlainText()); }

}  // namespace ostrel::ui
