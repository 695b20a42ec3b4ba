#include "ui/main_window.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <functional>

#include "physical/physical_model.h"
#include "ui/physical_view.h"
#include "ui/qt_file_chooser.h"
#include "ui/report_view.h"
#include "ui/schematic_widget.h"

namespace ostrel::ui {
namespace {

// A wire-diameter option: besides its click it reports every mouse-button release over it, after
// the click that the release may have completed.
class DiameterOption : public QRadioButton {
 public:
  DiameterOption(const QString& text, std::function<void()> on_release, QWidget* parent)
      : QRadioButton(text, parent), on_release_(std::move(on_release)) {}

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    QRadioButton::mouseReleaseEvent(event);
    on_release_();
  }

 private:
  std::function<void()> on_release_;
};

// Chooses `chosen` among `options` without raising their events; none when no option matches.
template <std::size_t N>
void MirrorChoice(const std::array<QRadioButton*, N>& options, std::size_t first, std::size_t last,
                  int chosen) {
  for (std::size_t i = first; i < last; ++i) {
    QRadioButton* option = options[i];
    const bool checked = static_cast<int>(i) == chosen;
    if (option->isChecked() == checked) continue;
    const QSignalBlocker block(option);
    // An exclusive option cannot be un-chosen directly; only "none chosen" needs this.
    option->setAutoExclusive(checked);
    option->setChecked(checked);
    option->setAutoExclusive(true);
  }
}

void MirrorText(QLineEdit* box, const std::string& text) {
  const QString shown = QString::fromLocal8Bit(text);
  if (box->text() == shown) return;  // keeps the cursor where the user is typing
  const QSignalBlocker block(box);
  box->setText(shown);
}

}  // namespace

MainWindow::MainWindow(std::unique_ptr<FileChooser> chooser, QWidget* parent)
    : QWidget(parent), chooser_(std::move(chooser)), logic_(*this) {
  if (!chooser_) chooser_ = std::make_unique<QtFileChooser>(this);
  setWindowTitle(QStringLiteral("Ostrel"));
  BuildPanel();
  FitToScreen(this, QSize(1100, 900));
}

// The physical view goes first: it waits for its computation, and it uses the file chooser.
MainWindow::~MainWindow() { delete physical_view_; }

QGroupBox* MainWindow::Frame(int index, const QString& caption) {
  auto* frame = new QGroupBox(caption, this);
  frame->setObjectName(QStringLiteral("F%1").arg(index));
  F_[static_cast<std::size_t>(index)] = frame;
  return frame;
}

QLineEdit* MainWindow::MakeBox(const QString& name, Box box) {
  auto* edit = new QLineEdit(this);
  edit->setObjectName(name);
  edit->setMaximumWidth(110);
  // Every edit by the user refreshes; texts set by the window itself do not.
  connect(edit, &QLineEdit::textEdited, this, [this, box](const QString& text) {
    logic_.Box_Change(box, text.toLocal8Bit().toStdString());
  });
  return edit;
}

void MainWindow::BuildPanel() {
  // The panel, schematic and Work Path scroll when the screen is smaller than their least size;
  // the command row stays in sight below them.
  auto* outer = new QVBoxLayout(this);
  auto* scroll = new QScrollArea(this);
  scroll->setObjectName(QStringLiteral("PanelScroll"));
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  auto* content = new QWidget(scroll);
  scroll->setWidget(content);
  outer->addWidget(scroll, 1);
  auto* root = new QVBoxLayout(content);
  root->setContentsMargins(0, 0, 0, 0);
  auto* panel = new QGridLayout;
  root->addLayout(panel);

  // Widgets are created in reading order, which is also the tab order.
  QGroupBox* material = Frame(0, QStringLiteral("&Material "));
  auto* material_layout = new QVBoxLayout(material);
  const char* materials[] = {"Au", "Al", "Cu"};
  for (int i = 0; i < 3; ++i) {
    auto* option = new QRadioButton(QString::fromLatin1(materials[i]), material);
    option->setObjectName(QStringLiteral("M%1").arg(i));
    connect(option, &QRadioButton::clicked, this, [this, i] { logic_.M_Click(i); });
    material_layout->addWidget(option);
    M_[static_cast<std::size_t>(i)] = option;
  }
  material_layout->addStretch();
  panel->addWidget(material, 0, 0);

  QGroupBox* diameter = Frame(1, QStringLiteral("Wire &Diameter Mils "));
  auto* diameter_layout = new QGridLayout(diameter);
  const char* diameters[] = {"0.5", "0.7", "0.8", "1.0", "1.25", "1.5", "Custom"};
  for (int i = 0; i < 7; ++i) {
    auto* option = new DiameterOption(
        QString::fromLatin1(diameters[i]), [this, i] { logic_.WD_MouseUp(i); }, diameter);
    option->setObjectName(QStringLiteral("WD%1").arg(i));
    connect(option, &QRadioButton::clicked, this, [this, i] { logic_.WD_Click(i); });
    diameter_layout->addWidget(option, i % 4, i / 4);
    WD_[static_cast<std::size_t>(i)] = option;
  }
  WDc_ = MakeBox(QStringLiteral("WDc"), Box::kWDc);
  diameter_layout->addWidget(WDc_, 3, 1);
  panel->addWidget(diameter, 0, 1);

  QGroupBox* frequency = Frame(3, QStringLiteral("&Frequency "));
  auto* frequency_layout = new QGridLayout(frequency);
  // Shown in rising order: hz, Khz, Mhz, Ghz.
  const std::pair<int, const char*> units[] = {
      {kHz, "hz"}, {kKhz, "Khz"}, {kMhz, "Mhz"}, {kGhz, "Ghz"}};
  int row = 0;
  for (const auto& [i, caption] : units) {
    auto* option = new QRadioButton(QString::fromLatin1(caption), frequency);
    option->setObjectName(QStringLiteral("FQ%1").arg(i));
    connect(option, &QRadioButton::clicked, this, [this, i = i] { logic_.FQ_Click(i); });
    frequency_layout->addWidget(option, 0, row);
    FQ_[static_cast<std::size_t>(i)] = option;
    ++row;
  }
  FQc_ = MakeBox(QStringLiteral("FQc"), Box::kFQc);
  frequency_layout->addWidget(FQc_, 1, 0, 1, 2);
  frequency_layout->setRowStretch(2, 1);
  panel->addWidget(frequency, 1, 0, 1, 2);

  // The loop options: one array LH over five frames, each frame with its custom box.
  struct LoopFrame {
    int frame;
    const char* caption;
    int first, last;
    const char* box_name;
    Box box;
    int row, column;
  };
  const LoopFrame loops[] = {
      {2, "Base Loop &Height ", kBaseHeightDefault, kBaseExtensionDefault, "LHc0", Box::kLHc0, 0,
       2},
      {6, "Base Loop E&xtension ", kBaseExtensionDefault, kStackExtensionDefault, "LEc0",
       Box::kLEc0, 1, 2},
      {8, "Stac&k Loop Height ", kStackHeightDefault, kStitchExtensionDefault, "LHc1", Box::kLHc1,
       0, 3},
      {9, "Stacked Loop Exte&nsion ", kStackExtensionDefault, kStackHeightDefault, "LEc1",
       Box::kLEc1, 1, 3},
      {7, "St&itch Loop Extension ", kStitchExtensionDefault, kLoopOptionCount, "LEc2", Box::kLEc2,
       0, 4},
  };
  for (const LoopFrame& loop : loops) {
    QGroupBox* frame = Frame(loop.frame, QString::fromLatin1(loop.caption));
    auto* layout = new QVBoxLayout(frame);
    for (int i = loop.first; i < loop.last; ++i) {
      const bool custom = i == loop.last - 1;
      const char* caption = custom                     ? "Custom"
                            : i == kStackExtensionEdge ? "Edge of Base Die"
                                                       : "Default to Die Height";
      auto* option = new QRadioButton(QString::fromLatin1(caption), frame);
      option->setObjectName(QStringLiteral("LH%1").arg(i));
      connect(option, &QRadioButton::clicked, this, [this, i] { logic_.LH_Click(i); });
      layout->addWidget(option);
      LH_[static_cast<std::size_t>(i)] = option;
    }
    QLineEdit* box = MakeBox(QString::fromLatin1(loop.box_name), loop.box);
    layout->addWidget(box);
    layout->addStretch();
    switch (loop.box) {
      case Box::kLHc0:
        LHc_[0] = box;
        break;
      case Box::kLHc1:
        LHc_[1] = box;
        break;
      case Box::kLEc0:
        LEc_[0] = box;
        break;
      case Box::kLEc1:
        LEc_[1] = box;
        break;
      default:
        LEc_[2] = box;
        break;
    }
    panel->addWidget(frame, loop.row, loop.column);
  }

  // The wire-to-wire distance: typing in it starts no refresh; the next refresh takes it.
  auto* wire_to_wire = new QGroupBox(QStringLiteral("Wire to Wire "), this);
  wire_to_wire->setObjectName(QStringLiteral("WireToWire"));
  auto* wtw_layout = new QGridLayout(wire_to_wire);
  auto* distance = new QLabel(QStringLiteral("Dist&ance"), wire_to_wire);
  distance->setObjectName(QStringLiteral("Distance"));
  WtoW_ = new QLineEdit(wire_to_wire);
  WtoW_->setObjectName(QStringLiteral("WtoW"));
  WtoW_->setMaximumWidth(110);
  distance->setBuddy(WtoW_);
  connect(WtoW_, &QLineEdit::textEdited, this,
          [this](const QString& text) { logic_.WtoW_Change(text.toLocal8Bit().toStdString()); });
  wtw_layout->addWidget(distance, 0, 0);
  wtw_layout->addWidget(WtoW_, 0, 1);
  auto* apply = new QPushButton(QStringLiteral("Appl&y"), wire_to_wire);
  auto* ok = new QPushButton(QStringLiteral("&OK"), wire_to_wire);
  wtw_layout->addWidget(apply, 1, 0);
  wtw_layout->addWidget(ok, 1, 1);
  SortLst_ = new QListWidget(wire_to_wire);
  SortLst_->setObjectName(QStringLiteral("SortLst"));
  SortLst_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  SortLst_->setMaximumHeight(70);
  wtw_layout->addWidget(SortLst_, 2, 0, 1, 2);
  panel->addWidget(wire_to_wire, 1, 4);

  QGroupBox* schematic = Frame(4, QStringLiteral("Loop Schematic "));
  auto* schematic_layout = new QVBoxLayout(schematic);
  Pic_ = new SchematicWidget(schematic);
  Pic_->setObjectName(QStringLiteral("Pic"));
  schematic_layout->addWidget(Pic_);
  root->addWidget(schematic, 3);

  QGroupBox* work = Frame(5, QStringLiteral("&Work Path "));
  auto* work_layout = new QVBoxLayout(work);
  L0_ = new QLabel(work);
  L0_->setObjectName(QStringLiteral("L0"));
  L0_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // Reachable from the keyboard to scroll and copy a report; Tab moves on.
  Vu_ = new ReportView(work);
  Vu_->setObjectName(QStringLiteral("Vu"));
  work_layout->addWidget(L0_);
  work_layout->addWidget(Vu_);
  root->addWidget(work, 4);

  auto* commands = new QHBoxLayout;
  const char* captions[] = {"&Load", "&Cancel", "&Process Data", "&Reset", "&Save"};
  for (int i = 0; i < 5; ++i) {
    auto* button = new QPushButton(QString::fromLatin1(captions[i]), this);
    commands->addWidget(button);
    CMD_[static_cast<std::size_t>(i)] = button;
  }
  // Made before Export, shown and reached by Tab after it.
  physical_ = new QPushButton(QStringLiteral("Physical &View..."), this);
  physical_->setObjectName(QStringLiteral("PhysicalView"));
  physical_->setAutoDefault(false);
  connect(physical_, &QPushButton::clicked, this, [this] { OpenPhysicalView(); });
  export_ = new QPushButton(QStringLiteral("&Export"), this);
  export_->setObjectName(QStringLiteral("Export"));
  export_->setAutoDefault(false);
  auto* export_menu = new QMenu(export_);
  for (const ExportKind* kind : WindowExports()) {
    QAction* action = export_menu->addAction(QString::fromUtf8(
        kind->menu_caption.data(), static_cast<qsizetype>(kind->menu_caption.size())));
    connect(action, &QAction::triggered, this, [this, kind] { logic_.Export(*kind); });
  }
  export_->setMenu(export_menu);
  commands->addWidget(export_);
  commands->addWidget(physical_);
  setTabOrder(export_, physical_);
  commands->addStretch();
  outer->addLayout(commands);
  CMD_[5] = apply;
  CMD_[6] = ok;
  for (int i = 0; i < 7; ++i) {
    QPushButton* button = CMD_[static_cast<std::size_t>(i)];
    button->setObjectName(QStringLiteral("CMD%1").arg(i));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, i] { logic_.CMD_Click(i); });
  }

  // The design state, before any refresh.
  ShowPanel(PanelState{});
}

std::optional<std::string> MainWindow::ChooseFile(const FileDialogRequest& request) {
  return chooser_->Choose(request);
}

bool MainWindow::ConfirmCreate(const FileDialogRequest& request, const std::string& path) {
  return chooser_->ConfirmCreate(request, path);
}

void MainWindow::SetCaption(const std::string& caption) {
  setWindowTitle(QString::fromLocal8Bit(caption));
}

void MainWindow::SetWorkPath(const std::string& folder) {
  L0_->setText(QString::fromLocal8Bit(folder));
}

void MainWindow::ShowPanel(const PanelState& p) {
  MirrorChoice(M_, 0, M_.size(), p.M);
  MirrorChoice(WD_, 0, WD_.size(), p.WD);
  MirrorChoice(FQ_, 0, FQ_.size(), p.FQ);
  for (int first = 0; first < kLoopOptionCount;) {
    const int last = LoopGroup(first).second;
    int chosen = -1;
    for (int i = first; i < last; ++i) {
      if (p.LH[static_cast<std::size_t>(i)]) chosen = i;
    }
    MirrorChoice(LH_, static_cast<std::size_t>(first), static_cast<std::size_t>(last), chosen);
    first = last;
  }
  MirrorText(WDc_, p.WDc);
  MirrorText(FQc_, p.FQc);
  MirrorText(LHc_[0], p.LHc[0]);
  MirrorText(LHc_[1], p.LHc[1]);
  for (std::size_t i = 0; i < 3; ++i) MirrorText(LEc_[i], p.LEc[i]);
  MirrorText(WtoW_, p.WtoW);

  // A disabled frame disables what it holds, whatever the control's own state.
  for (std::size_t i = 0; i < F_.size(); ++i) F_[i]->setEnabled(p.FrameEnabled[i]);
  for (QRadioButton* option : M_) option->setEnabled(p.MEnabled);
  for (QRadioButton* option : WD_) option->setEnabled(p.WDEnabled);
  for (QRadioButton* option : FQ_) option->setEnabled(p.FQEnabled);
  for (std::size_t i = 0; i < LH_.size(); ++i) LH_[i]->setEnabled(p.LHEnabled[i]);
  WDc_->setEnabled(p.WDcEnabled);
  FQc_->setEnabled(p.FQcEnabled);
  for (std::size_t i = 0; i < 2; ++i) LHc_[i]->setEnabled(p.LHcEnabled[i]);
  for (std::size_t i = 0; i < 3; ++i) LEc_[i]->setEnabled(p.LEcEnabled[i]);
  for (std::size_t i = 0; i < p.CMDEnabled.size(); ++i) CMD_[i]->setEnabled(p.CMDEnabled[i]);
  export_->setEnabled(p.CMDEnabled[kProcessData]);
}

void MainWindow::ShowSchematic(const LoopSchematic& schematic) { Pic_->SetSchematic(schematic); }

void MainWindow::ShowText(const std::string& text) { Vu_->SetText(text); }

void MainWindow::ShowSortList(const std::vector<std::string>& entries) {
  SortLst_->clear();
  for (const std::string& entry : entries) SortLst_->addItem(QString::fromLocal8Bit(entry));
}

void MainWindow::CloseWindow() { close(); }

void MainWindow::ShowEstimation(const Workspace& ws) {
  estimation_ = std::make_shared<const Estimation>(Estimation{ws.package, ws.Wires, ws.params});
  estimation_shown_ = false;
  // An open view takes the new wires without taking the keyboard from this window.
  if (physical_view_ && physical_view_->isVisible()) {
    physical_view_->SetEstimation(estimation_);
    estimation_shown_ = true;
  }
}

void MainWindow::ShowEstimationFailed(const std::string& reason) {
  if (physical_view_) physical_view_->EstimationFailed(reason);
}

void MainWindow::OpenPhysicalView() {
  if (!physical_view_) {
    physical_view_ = new PhysicalView(*chooser_, &RunPhysicalStudy, this);
  }
  if (!estimation_shown_) {
    physical_view_->SetEstimation(estimation_);
    estimation_shown_ = true;
  }
  physical_view_->show();
  physical_view_->raise();
  physical_view_->activateWindow();
}

}  // namespace ostrel::ui
