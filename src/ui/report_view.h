#pragma once

#include <QAbstractScrollArea>
#include <string>
#include <vector>

namespace ostrel::ui {

// A read-only monospace view of a text of any size: it keeps the bytes and an index of line
// starts, and paints only the lines in sight, so a report of tens of megabytes appears at once.
// Keys scroll it (arrows, Page Up/Down, Home/End); Ctrl+C and Ctrl+A copy the whole text.
class ReportView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit ReportView(QWidget* parent = nullptr);

  // Replaces the text; CR LF and LF both end a line.
  void SetText(std::string text);
  // The text with its CR LF line ends as LF.
  QString PlainText() const;
  std::size_t LineCount() const { return starts_.size(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::string_view Line(std::size_t i) const;
  void UpdateScrollBars();
  void CopyAll() const;

  std::string text_;
  std::vector<std::size_t> starts_;  // offset of each line in text_
  int longest_line_ = 0;             // characters, for the horizontal range
};

}  // namespace ostrel::ui
