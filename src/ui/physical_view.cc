#include "ui/physical_view.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>

#include "app/file_io.h"
#include "app/nets.h"
#include "base/stage_error.h"
#include "export/physical_export.h"
#include "ui/physical_plot.h"
#include "ui/plan_view.h"

namespace ostrel::ui {

// The wire table for Qt's views: display text, and the number (or text) each column sorts by.
class WireTableModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;

  void SetTable(const PhysicalTable* table) {
    beginResetModel();
    table_ = table;
    endResetModel();
  }
  const PhysicalTable* table() const { return table_; }
  Column ColumnAt(int section) const {
    return table_->Columns()[static_cast<std::size_t>(section)];
  }

  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() || !table_ ? 0 : static_cast<int>(table_->RowCount());
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() || !table_ ? 0 : static_cast<int>(table_->Columns().size());
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!table_ || !index.isValid()) return {};
    const auto row = static_cast<std::size_t>(index.row());
    const Column column = ColumnAt(index.column());
    switch (role) {
      case Qt::DisplayRole:
        return QString::fromStdString(table_->Text(row, column));
      case Qt::ToolTipRole:  // a name too long for its column is still read in full
        if (column == Column::kName || column == Column::kNeighbour) {
          return QString::fromStdString(table_->Text(row, column));
        }
        return {};
      case Qt::UserRole: {
        const double value = table_->Value(row, column);
        if (std::isnan(value)) return QString::fromStdString(table_->Text(row, column));
        return value;
      }
      case Qt::TextAlignmentRole:
        return std::isnan(table_->Value(row, column)) ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                                      : QVariant(Qt::AlignRight | Qt::AlignVCenter);
      default:
        return {};
    }
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (!table_ || orientation != Qt::Horizontal || role != Qt::DisplayRole) {
      return QAbstractTableModel::headerData(section, orientation, role);
    }
    // The frequency or the unit on a second line keeps the columns narrow.
    QString header = QString::fromStdString(table_->Header(ColumnAt(section)));
    const QString at = QStringLiteral(" @ ");
    return header.contains(at) ? header.replace(at, QStringLiteral("\n@ "))
                               : header.replace(QStringLiteral(" ("), QStringLiteral("\n("));
  }

 private:
  const PhysicalTable* table_ = nullptr;
};

// Rows that meet every one of the view's filters (RowShown): name, kind, role and net.
class WireFilter : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

  void SetFilters(std::vector<RowFilter> filters) {
    filters_ = std::move(filters);
    invalidateFilter();
  }
  bool Keeps(std::size_t row) const {
    const auto* table = static_cast<const WireTableModel*>(sourceModel())->table();
    return table && row < table->RowCount() && RowShown(*table, row, filters_);
  }

 protected:
  bool filterAcceptsRow(int source_row, const QModelIndex&) const override {
    return Keeps(static_cast<std::size_t>(source_row));
  }

  // Names (and other text) in natural order, figures as numbers.
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override {
    const QVariant a = left.data(sortRole()), b = right.data(sortRole());
    if (a.typeId() == QMetaType::QString && b.typeId() == QMetaType::QString) {
      return NaturalLess(a.toString().toStdString(), b.toString().toStdString());
    }
    return QSortFilterProxyModel::lessThan(left, right);
  }

 private:
  std::vector<RowFilter> filters_;
};

namespace {

constexpr int kMaxPlotWires = 8;

QString SettingsKey(const char* name) {
  return QStringLiteral("physical_view/") + QLatin1String(name);
}

QSettings UserSettings() { return QSettings(QStringLiteral("Ostrel"), QStringLiteral("ostrel")); }

QDoubleSpinBox* SpinBox(QWidget* parent, double lo, double hi, int decimals,
                        const QString& suffix) {
  auto* box = new QDoubleSpinBox(parent);
  box->setRange(lo, hi);
  box->setDecimals(decimals);
  box->setSuffix(suffix);
  box->setKeyboardTracking(false);
  return box;
}

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.c_str()); }

// A table of figures one line a row, read only; Tab leaves it.
QTableWidget* FiguresTable(QWidget* parent, const char* name) {
  auto* table = new QTableWidget(parent);
  table->setObjectName(QLatin1String(name));
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setTabKeyNavigation(false);
  table->verticalHeader()->setVisible(false);
  table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setWordWrap(false);
  return table;
}

// A pane of `parent` with a wrapped note above a table of figures (`table`, named `name`).
QWidget* NotedFiguresPane(QWidget* parent, const QString& note, const char* name,
                          QTableWidget*& table) {
  auto* pane = new QWidget(parent);
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(4, 4, 4, 4);
  auto* label = new QLabel(note, pane);
  label->setWordWrap(true);
  layout->addWidget(label);
  table = FiguresTable(pane, name);
  layout->addWidget(table, 1);
  return pane;
}

// `text` into `table`: units on a second header line, columns from `first_figure` on
// right-aligned, a column without any figure hidden.
void FillFigures(QTableWidget* table, const NetImpedanceText& text, std::size_t first_figure) {
  const QSignalBlocker block(table);
  table->clear();
  table->setColumnCount(static_cast<int>(text.header.size()));
  table->setRowCount(static_cast<int>(text.rows.size()));
  for (std::size_t c = 0; c < text.header.size(); ++c) {
    table->setHorizontalHeaderItem(
        static_cast<int>(c),
        new QTableWidgetItem(
            FromUtf8(text.header[c]).replace(QStringLiteral(" ("), QStringLiteral("\n("))));
  }
  for (std::size_t r = 0; r < text.rows.size(); ++r) {
    for (std::size_t c = 0; c < text.rows[r].size(); ++c) {
      auto* item = new QTableWidgetItem(FromUtf8(text.rows[r][c]));
      if (c >= first_figure) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      table->setItem(static_cast<int>(r), static_cast<int>(c), item);
    }
  }
  for (std::size_t c = 0; c < text.header.size(); ++c) {
    const bool any = std::any_of(text.rows.begin(), text.rows.end(),
                                 [c](const auto& row) { return !row[c].empty(); });
    table->setColumnHidden(static_cast<int>(c), !any);
  }
  table->resizeColumnsToContents();
}

}  // namespace

void FitToScreen(QWidget* window, QSize preferred) {
  const QScreen* screen = window->screen() ? window->screen() : QApplication::primaryScreen();
  if (!screen) {
    window->resize(preferred);
    return;
  }
  const QRect free = screen->availableGeometry();
  // A window manager's frame takes about this much beside the window's own area.
  const QSize frame(16, 40);
  const QSize size = preferred.boundedTo(free.size() - frame).expandedTo(QSize(200, 150));
  window->resize(size);
  QPoint at = window->pos();
  at.setX(std::clamp(at.x(), free.left(),
                     std::max(free.left(), free.right() - size.width() - frame.width())));
  at.setY(std::clamp(at.y(), free.top(),
                     std::max(free.top(), free.bottom() - size.height() - frame.height())));
  window->move(at);
}

PhysicalView::PhysicalView(FileChooser& chooser, StudyFunction study, QWidget* parent)
    : QWidget(parent, Qt::Window), chooser_(chooser), study_(std::move(study)) {
  setWindowTitle(QStringLiteral("Ostrel - Physical Model"));
  BuildControls();
  const ViewOptions defaults;
  QSettings settings = UserSettings();
  ViewOptions stored;
  stored.sweep_min_hz =
      settings.value(SettingsKey("sweep_min_hz"), defaults.sweep_min_hz).toDouble();
  stored.sweep_max_hz =
      settings.value(SettingsKey("sweep_max_hz"), defaults.sweep_max_hz).toDouble();
  stored.sweep_points = settings.value(SettingsKey("sweep_points"), defaults.sweep_points).toInt();
  stored.ground_depth_um =
      settings.value(SettingsKey("ground_depth_um"), defaults.ground_depth_um).toDouble();
  stored.eps_r = settings.value(SettingsKey("eps_r"), defaults.eps_r).toDouble();
  stored.pairs = settings.value(SettingsKey("pairs"), QString()).toString().toStdString();
  ShowOptions(stored);
  saved_ = Options();  // opening the view writes nothing
  state_.OptionsChanged(saved_);
  status_->setText(QStringLiteral("Press Process Data in the main window to compute the model."));
  FitToScreen(this, QSize(1500, 980));
  ShowState();
}

PhysicalView::~PhysicalView() {
  if (cancel_) cancel_->store(true);
  future_.waitForFinished();
  // The table dies with this class's members, before the widget base closes the window and its
  // views ask the model once more for their rows: the model lets go of it first.
  model_->SetTable(nullptr);
}

void PhysicalView::BuildControls() {
  // Everything scrolls when the screen is smaller than the view's least size, so that no
  // control is out of reach and no label is cut.
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* scroll = new QScrollArea(this);
  scroll->setObjectName(QStringLiteral("ViewScroll"));
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  auto* content = new QWidget(scroll);
  scroll->setWidget(content);
  outer->addWidget(scroll);
  auto* root = new QVBoxLayout(content);

  // The model's options and the computation, on two rows.
  auto* options = new QGridLayout;
  auto label = [content](const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text, content);
    l->setBuddy(buddy);
    return l;
  };
  sweep_min_mhz_ = SpinBox(content, 1e-3, 1e6, 3, QStringLiteral(" MHz"));
  sweep_max_mhz_ = SpinBox(content, 1e-3, 1e6, 3, QStringLiteral(" MHz"));
  sweep_points_ = new QSpinBox(content);
  sweep_points_->setRange(2, 1000);
  sweep_points_->setKeyboardTracking(false);
  ground_depth_um_ = SpinBox(content, 0, 1e5, 1, QStringLiteral(" µm"));
  eps_r_ = SpinBox(content, 1, 100, 2, QString());
  sweep_min_mhz_->setObjectName(QStringLiteral("SweepMin"));
  sweep_max_mhz_->setObjectName(QStringLiteral("SweepMax"));
  sweep_points_->setObjectName(QStringLiteral("SweepPoints"));
  ground_depth_um_->setObjectName(QStringLiteral("GroundDepth"));
  eps_r_->setObjectName(QStringLiteral("EpsR"));
  auto* sweep_row = new QHBoxLayout;
  sweep_row->addWidget(label(QStringLiteral("Fre&quency sweep from"), sweep_min_mhz_));
  sweep_row->addWidget(sweep_min_mhz_);
  sweep_row->addWidget(label(QStringLiteral("to"), sweep_max_mhz_));
  sweep_row->addWidget(sweep_max_mhz_);
  sweep_row->addWidget(sweep_points_);
  sweep_row->addWidget(label(QStringLiteral("points"), sweep_points_));
  // Every letter of "Pairs" is an access key of one window or the other: Ctrl+Shift+P instead.
  pairs_ = new QLineEdit(content);
  pairs_->setObjectName(QStringLiteral("Pairs"));
  pairs_->setPlaceholderText(QStringLiteral("P/N pairs, e.g. *_P/*_N,T2/T3"));
  pairs_->setToolTip(
      QStringLiteral("Differential pairs: comma-separated P/N pairs of wire-name patterns with * "
                     "and ?, as ostrel-cli's --pairs (Ctrl+Shift+P)"));
  pairs_->setClearButtonEnabled(true);
  pairs_->setMinimumWidth(120);
  pairs_fault_ = new QLabel(content);
  pairs_fault_->setObjectName(QStringLiteral("PairsFault"));
  pairs_fault_->setWordWrap(true);
  pairs_fault_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  pairs_fault_->setStyleSheet(QStringLiteral("QLabel { color: #a3000b; }"));
  pairs_fault_->setVisible(false);
  sweep_row->addSpacing(12);
  sweep_row->addWidget(label(QStringLiteral("Pairs"), pairs_));
  sweep_row->addWidget(pairs_, 1);
  sweep_row->addWidget(pairs_fault_, 2);
  sweep_row->addStretch();
  connect(pairs_, &QLineEdit::textChanged, this, [this] {
    state_.OptionsChanged(Options());
    CheckPairs();
    ShowState();
  });
  connect(pairs_, &QLineEdit::editingFinished, this, [this] { SaveOptions(); });
  auto* model_row = new QHBoxLayout;
  model_row->addWidget(label(QStringLiteral("&Ground plane depth"), ground_depth_um_));
  model_row->addWidget(ground_depth_um_);
  model_row->addWidget(label(QStringLiteral("eps_r"), eps_r_));
  model_row->addWidget(eps_r_);
  for (QAbstractSpinBox* box : std::initializer_list<QAbstractSpinBox*>{
           sweep_min_mhz_, sweep_max_mhz_, sweep_points_, ground_depth_um_, eps_r_}) {
    connect(box, &QAbstractSpinBox::editingFinished, this, [this] { SaveOptions(); });
  }
  for (QDoubleSpinBox* box : {sweep_min_mhz_, sweep_max_mhz_, ground_depth_um_, eps_r_}) {
    connect(box, &QDoubleSpinBox::valueChanged, this, [this] {
      state_.OptionsChanged(Options());
      ShowState();
    });
  }
  connect(sweep_points_, &QSpinBox::valueChanged, this, [this] {
    state_.OptionsChanged(Options());
    ShowState();
  });
  compute_button_ = new QPushButton(QStringLiteral("Comp&ute"), content);
  compute_button_->setObjectName(QStringLiteral("Compute"));
  cancel_button_ = new QPushButton(QStringLiteral("Cancel"), content);
  cancel_button_->setObjectName(QStringLiteral("CancelModel"));
  cancel_button_->setEnabled(false);
  progress_ = new QProgressBar(content);
  progress_->setRange(0, 100);
  progress_->setVisible(false);
  progress_->setMinimumWidth(220);
  connect(compute_button_, &QPushButton::clicked, this, [this] { StartComputation(); });
  connect(cancel_button_, &QPushButton::clicked, this, [this] { CancelComputation(); });
  model_row->addSpacing(12);
  model_row->addWidget(compute_button_);
  model_row->addWidget(cancel_button_);
  model_row->addWidget(progress_);
  model_row->addStretch();
  options->addLayout(sweep_row, 0, 0);
  options->addLayout(model_row, 1, 0);
  root->addLayout(options);

  banner_ = new QLabel(content);
  banner_->setObjectName(QStringLiteral("Banner"));
  banner_->setWordWrap(true);
  banner_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  banner_->setStyleSheet(QStringLiteral(
      "QLabel { background: #fff3cd; color: #3d2c00; border: 1px solid #d9b54a; padding: 4px; }"));
  banner_->setVisible(false);
  root->addWidget(banner_);
  status_ = new QLabel(content);
  status_->setObjectName(QStringLiteral("Status"));
  status_->setWordWrap(true);
  root->addWidget(status_);
  // What the model left out or repaired and the wire pairs too close, in sight above the table.
  notes_ = new QListWidget(content);
  notes_->setObjectName(QStringLiteral("Notes"));
  notes_->setWordWrap(true);
  notes_->setFocusPolicy(Qt::StrongFocus);
  notes_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  // Three lines; more scroll.
  notes_->setFixedHeight(3 * (notes_->fontMetrics().height() + 4) + 2 * notes_->frameWidth() + 4);
  notes_->setVisible(false);
  root->addWidget(notes_);

  // The table with its filters, notes and commands above; the plot beside the map and plan.
  auto* split = new QSplitter(Qt::Vertical, content);
  split->setObjectName(QStringLiteral("ViewSplit"));
  split->setChildrenCollapsible(false);
  BuildTablePane(split);
  auto* lower = new QSplitter(Qt::Horizontal, split);
  lower->setChildrenCollapsible(false);
  plot_ = new FrequencyPlot(lower);
  plot_->setObjectName(QStringLiteral("FrequencyPlot"));
  connect(plot_, &FrequencyPlot::WireClicked, this,
          [this](int wire) { SelectWires({static_cast<std::size_t>(wire)}); });
  panes_ = new QTabWidget(lower);
  panes_->setObjectName(QStringLiteral("Panes"));
  auto* map_box = new QWidget(panes_);
  auto* map_layout = new QVBoxLayout(map_box);
  map_layout->setContentsMargins(4, 4, 4, 4);
  auto* side_row = new QHBoxLayout;
  side_ = new QComboBox(map_box);
  side_->setObjectName(QStringLiteral("Side"));
  side_scale_ = new QCheckBox(QStringLiteral("Scale of this side only"), map_box);
  side_scale_->setObjectName(QStringLiteral("SideScale"));
  side_row->addWidget(label(QStringLiteral("Die side"), side_));
  side_row->addWidget(side_, 1);
  side_row->addWidget(side_scale_);
  map_layout->addLayout(side_row);
  map_ = new CouplingMap(map_box);
  map_->setObjectName(QStringLiteral("CouplingMap"));
  map_layout->addWidget(map_, 1);
  connect(side_, &QComboBox::currentIndexChanged, this, [this](int index) { ShowSide(index); });
  connect(side_scale_, &QCheckBox::toggled, this, [this] { ShowSide(side_->currentIndex()); });
  connect(map_, &CouplingMap::CellClicked, this,
          [this](int row, int column) { MapCellClicked(row, column); });
  panes_->addTab(map_box, QStringLiteral("Coupling map"));
  panes_->addTab(BuildPlanPane(panes_), QStringLiteral("Plan"));
  nets_pane_ = NotedFiguresPane(
      panes_,
      QStringLiteral("Each ground and supply net's wires in parallel (pad ends joined, finger "
                     "ends joined); a supply net's loop returns through all ground wires."),
      "NetTable", net_table_);
  panes_->addTab(nets_pane_, QStringLiteral("Nets"));
  panes_->setTabVisible(panes_->indexOf(nets_pane_), false);
  pairs_pane_ = NotedFiguresPane(
      panes_,
      QStringLiteral("Each pair driven odd (against each other) and even (together) over the "
                     "plane, L at the first frequency; a row selects both wires."),
      "PairTable", pair_table_);
  connect(pair_table_, &QTableWidget::itemSelectionChanged, this, [this] {
    if (!table_) return;
    std::vector<std::size_t> wires;
    for (const QModelIndex& index : pair_table_->selectionModel()->selectedRows()) {
      const auto pair = static_cast<std::size_t>(index.row());
      if (pair >= table_->model().pairs.size()) continue;
      wires.push_back(table_->model().pairs[pair].wires.positive);
      wires.push_back(table_->model().pairs[pair].wires.negative);
    }
    if (!wires.empty()) SelectWires(wires);
  });
  panes_->addTab(pairs_pane_, QStringLiteral("Pairs"));
  panes_->setTabVisible(panes_->indexOf(pairs_pane_), false);
  lower->setStretchFactor(0, 3);
  lower->setStretchFactor(1, 2);
  split->setStretchFactor(0, 2);
  split->setStretchFactor(1, 3);
  split->setSizes({400, 600});
  root->addWidget(split, 1);

  // Panes by number, whichever has the keyboard.
  const std::pair<QKeySequence, std::function<void()>> panes[] = {
      {QKeySequence(Qt::CTRL | Qt::Key_1), [this] { view_->setFocus(Qt::ShortcutFocusReason); }},
      {QKeySequence(Qt::CTRL | Qt::Key_2), [this] { plot_->setFocus(Qt::ShortcutFocusReason); }},
      {QKeySequence(Qt::CTRL | Qt::Key_3),
       [this] {
         panes_->setCurrentIndex(0);
         map_->setFocus(Qt::ShortcutFocusReason);
       }},
      {QKeySequence(Qt::CTRL | Qt::Key_4),
       [this] {
         panes_->setCurrentIndex(1);
         plan_->setFocus(Qt::ShortcutFocusReason);
       }},
      {QKeySequence(Qt::CTRL | Qt::Key_5),
       [this] {
         if (notes_->isVisible()) notes_->setFocus(Qt::ShortcutFocusReason);
       }},
      {QKeySequence(Qt::CTRL | Qt::Key_6),
       [this] {
         if (!panes_->isTabVisible(panes_->indexOf(nets_pane_))) return;
         panes_->setCurrentWidget(nets_pane_);
         net_table_->setFocus(Qt::ShortcutFocusReason);
       }},
      {QKeySequence(Qt::CTRL | Qt::Key_7),
       [this] {
         if (!panes_->isTabVisible(panes_->indexOf(pairs_pane_))) return;
         panes_->setCurrentWidget(pairs_pane_);
         pair_table_->setFocus(Qt::ShortcutFocusReason);
       }},
      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N),
       [this] { net_filter_->setFocus(Qt::ShortcutFocusReason); }},
      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P),
       [this] { pairs_->setFocus(Qt::ShortcutFocusReason); }},
      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
       [this] { sort_column_->setFocus(Qt::ShortcutFocusReason); }},
  };
  for (const auto& [keys, action] : panes) {
    auto* shortcut = new QShortcut(keys, this);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, action);
  }
}

QWidget* PhysicalView::BuildTablePane(QWidget* parent) {
  auto* pane = new QWidget(parent);
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(0, 0, 0, 0);
  auto label = [pane](const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text, pane);
    l->setBuddy(buddy);
    return l;
  };
  auto* filters = new QHBoxLayout;
  name_filter_ = new QLineEdit(pane);
  name_filter_->setObjectName(QStringLiteral("NameFilter"));
  name_filter_->setPlaceholderText(QStringLiteral("part of a name, or a pattern with * and ?"));
  name_filter_->setClearButtonEnabled(true);
  name_filter_->setMinimumWidth(120);
  kind_filter_ = new QComboBox(pane);
  kind_filter_->setObjectName(QStringLiteral("KindFilter"));
  kind_filter_->addItem(QStringLiteral("All kinds"), QString());
  for (const char* kind : {"base-die", "stacked-die", "stitch"}) {
    kind_filter_->addItem(QLatin1String(kind), QLatin1String(kind));
  }
  role_filter_ = new QComboBox(pane);
  role_filter_->setObjectName(QStringLiteral("RoleFilter"));
  role_filter_->addItem(QStringLiteral("All roles"), QString());
  for (const NetRole role : {NetRole::kSignal, NetRole::kGround, NetRole::kPower}) {
    role_filter_->addItem(QLatin1String(RoleName(role)), QLatin1String(RoleName(role)));
  }
  net_filter_ = new QComboBox(pane);
  net_filter_->setObjectName(QStringLiteral("NetFilter"));
  net_filter_->setEditable(true);
  net_filter_->setInsertPolicy(QComboBox::NoInsert);
  net_filter_->lineEdit()->setPlaceholderText(QStringLiteral("all nets"));
  net_filter_->lineEdit()->setClearButtonEnabled(true);
  net_filter_->setToolTip(
      QStringLiteral("A net, or comma-separated patterns with * and ? matching net names in "
                     "their own case (as ostrel-cli's --nets net:NAME)"));
  net_filter_->setMinimumWidth(130);
  pair_filter_ = new QComboBox(pane);
  pair_filter_->setObjectName(QStringLiteral("PairFilter"));
  // Narrow in the row of filters; its list shows the pairs' names whole.
  pair_filter_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  pair_filter_->setMinimumContentsLength(7);
  pair_filter_->setToolTip(QStringLiteral("The wires of every pair, or of one pair"));
  pair_filter_->addItems({QStringLiteral("All pairs"), QStringLiteral("in a pair")});
  pair_filter_->setVisible(false);  // until a model has pairs
  sort_column_ = new QComboBox(pane);
  sort_column_->setObjectName(QStringLiteral("SortColumn"));
  sort_column_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  sort_order_ = new QComboBox(pane);
  sort_order_->setObjectName(QStringLiteral("SortOrder"));
  sort_order_->addItem(QStringLiteral("ascending"), int(Qt::AscendingOrder));
  sort_order_->addItem(QStringLiteral("descending"), int(Qt::DescendingOrder));
  filters->addWidget(label(QStringLiteral("Filter &by name"), name_filter_));
  filters->addWidget(name_filter_, 1);
  filters->addWidget(kind_filter_);
  filters->addWidget(role_filter_);
  // Every letter of "Net" is an access key of one window or the other: Ctrl+Shift+N instead.
  filters->addWidget(label(QStringLiteral("Net"), net_filter_));
  filters->addWidget(net_filter_);
  filters->addWidget(pair_filter_);
  filters->addSpacing(12);
  filters->addWidget(label(QStringLiteral("Sort by"), sort_column_));
  filters->addWidget(sort_column_);
  filters->addWidget(sort_order_);
  layout->addLayout(filters);

  model_ = new WireTableModel(this);
  filter_ = new WireFilter(this);
  filter_->setSourceModel(model_);
  filter_->setSortRole(Qt::UserRole);
  filter_->setSortCaseSensitivity(Qt::CaseInsensitive);
  view_ = new QTableView(pane);
  view_->setObjectName(QStringLiteral("WireTable"));
  view_->setModel(filter_);
  view_->setSortingEnabled(true);
  view_->sortByColumn(-1, Qt::AscendingOrder);  // report order until a header is clicked
  view_->horizontalHeader()->setResizeContentsPrecision(64);
  view_->setWordWrap(false);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view_->setAlternatingRowColors(true);
  // Tab moves on to the next control; the arrow keys move within the table.
  view_->setTabKeyNavigation(false);
  view_->verticalHeader()->setVisible(false);
  view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 6);
  view_->setMinimumHeight(6 * (view_->fontMetrics().height() + 6));
  layout->addWidget(view_, 1);

  connect(name_filter_, &QLineEdit::textChanged, this, [this] { FilterRows(); });
  connect(kind_filter_, &QComboBox::currentIndexChanged, this, [this] { FilterRows(); });
  connect(role_filter_, &QComboBox::currentIndexChanged, this, [this] { FilterRows(); });
  connect(net_filter_, &QComboBox::currentTextChanged, this, [this] { FilterRows(); });
  connect(pair_filter_, &QComboBox::currentIndexChanged, this, [this] { FilterRows(); });
  connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { ShowSelection(); });
  connect(view_->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
          [this](int column, Qt::SortOrder order) {
            const QSignalBlocker block_column(sort_column_), block_order(sort_order_);
            sort_column_->setCurrentIndex(column + 1);  // after "report order"
            sort_order_->setCurrentIndex(order == Qt::AscendingOrder ? 0 : 1);
          });
  connect(sort_column_, &QComboBox::activated, this, [this] { SortFromBoxes(); });
  connect(sort_order_, &QComboBox::activated, this, [this] { SortFromBoxes(); });
  auto* copy_shortcut = new QShortcut(QKeySequence::Copy, view_);
  copy_shortcut->setContext(Qt::WidgetShortcut);
  connect(copy_shortcut, &QShortcut::activated, this, [this] { CopyRows(); });

  auto* commands = new QHBoxLayout;
  const std::pair<const char*, std::function<void()>> buttons[] = {
      {"Copy Rows", [this] { CopyRows(); }},
      {"Export &Table...", [this] { ExportTable(); }},
      {"Export Plot...", [this] { ExportPlot(); }}};
  for (const auto& [caption, action] : buttons) {
    auto* button = new QPushButton(QString::fromLatin1(caption), pane);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, action);
    commands->addWidget(button);
    export_buttons_.push_back(button);
  }
  commands->addStretch();
  layout->addLayout(commands);
  return pane;
}

QWidget* PhysicalView::BuildPlanPane(QWidget* parent) {
  auto* pane = new QWidget(parent);
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(4, 4, 4, 4);
  auto* row = new QHBoxLayout;
  plan_quantity_ = new QComboBox(pane);
  plan_quantity_->setObjectName(QStringLiteral("PlanQuantity"));
  const char* names[] = {"loop L", "R at the first frequency", "k to the strongest neighbour",
                         "clearance to the nearest wire", "role (ground, power, signal)"};
  static_assert(std::size(names) == std::size(kPlanQuantities));
  for (std::size_t i = 0; i < std::size(kPlanQuantities); ++i) {
    plan_quantity_->addItem(QString::fromLatin1(names[i]), static_cast<int>(i));
  }
  auto* colour = new QLabel(QStringLiteral("Colour by"), pane);
  colour->setBuddy(plan_quantity_);
  auto* fit = new QPushButton(QStringLiteral("Fit"), pane);
  fit->setAutoDefault(false);
  fit->setToolTip(QStringLiteral("The whole package (0 in the plan)"));
  auto* save = new QPushButton(QStringLiteral("Export Plan..."), pane);
  save->setAutoDefault(false);
  export_buttons_.push_back(save);
  row->addWidget(colour);
  row->addWidget(plan_quantity_, 1);
  row->addWidget(fit);
  row->addWidget(save);
  layout->addLayout(row);
  plan_ = new PlanView(pane);
  plan_->setObjectName(QStringLiteral("Plan"));
  layout->addWidget(plan_, 1);
  connect(plan_quantity_, &QComboBox::currentIndexChanged, this, [this] { ShowPlan(); });
  connect(fit, &QPushButton::clicked, plan_, &PlanView::Fit);
  connect(save, &QPushButton::clicked, this, [this] { ExportPlan(); });
  connect(plan_, &PlanView::WireClicked, this,
          [this](int wire, bool extend) { SelectWires({static_cast<std::size_t>(wire)}, extend); });
  return pane;
}

void PhysicalView::keyPressEvent(QKeyEvent* event) {
  // Esc and Ctrl+W close the view, as they close a dialog or a document window; the controls
  // that use them (an open list) take them first.
  const bool close_key = (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) ||
                         (event->key() == Qt::Key_W && event->modifiers() == Qt::ControlModifier);
  if (close_key) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

ViewOptions PhysicalView::Options() const {
  ViewOptions o;
  o.sweep_min_hz = sweep_min_mhz_->value() * 1e6;
  o.sweep_max_hz = sweep_max_mhz_->value() * 1e6;
  o.sweep_points = sweep_points_->value();
  o.ground_depth_um = ground_depth_um_->value();
  o.eps_r = eps_r_->value();
  o.pairs = pairs_->text().trimmed().toStdString();
  return o;
}

void PhysicalView::SetOptions(const ViewOptions& o) {
  ShowOptions(o);
  SaveOptions();
}

void PhysicalView::ShowOptions(const ViewOptions& o) {
  sweep_min_mhz_->setValue(o.sweep_min_hz / 1e6);
  sweep_max_mhz_->setValue(o.sweep_max_hz / 1e6);
  sweep_points_->setValue(o.sweep_points);
  ground_depth_um_->setValue(o.ground_depth_um);
  eps_r_->setValue(o.eps_r);
  pairs_->setText(FromUtf8(o.pairs));
}

void PhysicalView::SaveOptions() {
  const ViewOptions o = Options();
  if (o == saved_) return;  // a box left without a change
  saved_ = o;
  QSettings settings = UserSettings();
  settings.setValue(SettingsKey("sweep_min_hz"), o.sweep_min_hz);
  settings.setValue(SettingsKey("sweep_max_hz"), o.sweep_max_hz);
  settings.setValue(SettingsKey("sweep_points"), o.sweep_points);
  settings.setValue(SettingsKey("ground_depth_um"), o.ground_depth_um);
  settings.setValue(SettingsKey("eps_r"), o.eps_r);
  settings.setValue(SettingsKey("pairs"), FromUtf8(o.pairs));
}

QString PhysicalView::Status() const { return status_->text(); }

QStringList PhysicalView::Banners() const {
  QStringList lines;
  for (const Banner& banner : state_.Banners()) lines << FromUtf8(banner.text);
  return lines;
}

bool PhysicalView::Busy() const { return controller_.Busy(); }

void PhysicalView::ShowState() {
  const QStringList lines = Banners();
  banner_->setText(lines.join('\n'));
  banner_->setVisible(!lines.isEmpty());
  const std::string compute_blocked = state_.ComputeBlocked();
  compute_button_->setEnabled(compute_blocked.empty() && !controller_.Busy());
  compute_button_->setToolTip(compute_blocked.empty()
                                  ? QStringLiteral("Compute the model of the wires shown")
                                  : FromUtf8(compute_blocked));
  const std::string export_blocked = state_.ExportBlocked();
  for (QPushButton* button : export_buttons_) {
    button->setEnabled(export_blocked.empty());
    button->setToolTip(FromUtf8(export_blocked));
  }
}

void PhysicalView::SetEstimation(std::shared_ptr<const Estimation> estimation) {
  estimation_ = std::move(estimation);
  state_.Estimated(*estimation_);
  CheckPairs();
  const std::size_t wires = estimation_->wires.size();
  if (wires == 0) {
    // Nothing to compute: a computation of earlier wires is dropped.
    controller_.EstimationFailed();
    status_->setText(QStringLiteral("The package has no wires: there is nothing to compute."));
    ShowState();
    return;
  }
  switch (controller_.Estimated(wires)) {
    case StudyController::Next::kStart:
      StartComputation();
      break;
    case StudyController::Next::kAwaitCompute:
      status_->setText(QStringLiteral("%1: the model takes about %2 s; press Compute to start it.")
                           .arg(QString::fromStdString(WireCount(wires)))
                           .arg(EstimatedSeconds(wires), 0, 'f', 0));
      break;
    default:
      break;
  }
  ShowState();
}

void PhysicalView::EstimationFailed(const std::string& reason) {
  controller_.EstimationFailed();
  state_.EstimationFailed(reason);
  ShowState();
}

void PhysicalView::StartComputation() {
  if (const std::string blocked = state_.ComputeBlocked(); !blocked.empty()) {
    if (estimation_) status_->setText(FromUtf8(blocked));
    return;
  }
  if (controller_.ComputeAsked() != StudyController::Next::kStart) return;
  StudyOptions options;
  try {
    options = StudyOf(Options());
    // The ground and supply nets' impedances, as ostrel-cli's study gives them.
    options.shared_nets = SharedNets(PackageNets(estimation_->package, estimation_->wires));
    // The differential pairs, as ostrel-cli's --pairs names them.
    if (const std::string pairs = Options().pairs; !pairs.empty()) {
      options.pairs = WirePairsOf(pairs, estimation_->wires);
    }
    ModelOptions(options, static_cast<double>(estimation_->params.Frequency));
  } catch (const StageError& e) {
    status_->setText(QStringLiteral("Cannot compute: %1.").arg(QString::fromUtf8(e.what())));
    return;
  }
  const StudyController::Ticket ticket = controller_.Started();
  state_.ComputeStarted();
  cancel_ = ticket.cancel;
  cancel_button_->setEnabled(true);
  progress_->setValue(0);
  progress_->setFormat(QStringLiteral("%p%"));
  progress_->setVisible(true);
  status_->setText(QStringLiteral("Computing the physical model of %1...")
                       .arg(QString::fromStdString(WireCount(estimation_->wires.size()))));
  ShowState();
  future_ = QtConcurrent::run([this, run = ticket.run, cancel = ticket.cancel,
                               estimation = estimation_, options, study = study_] {
    auto last_percent = std::make_shared<std::atomic<int>>(-1);
    physical::Progress stages;
    stages.cancel = cancel.get();
    stages.report = [this, run, last_percent](std::string_view stage, double fraction) {
      const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100);
      if (last_percent->exchange(percent) == percent) return;
      const QString text = QString::fromUtf8(stage.data(), static_cast<qsizetype>(stage.size()));
      QMetaObject::invokeMethod(
          this,
          [this, run, percent, text] {
            if (!controller_.Current(run)) return;
            progress_->setFormat(text + QStringLiteral(": %p% of the model"));
            progress_->setValue(percent);
          },
          Qt::QueuedConnection);
    };
    // One bar over all stages, rising only.
    const physical::Progress progress = OverallProgress(stages, options);
    auto outcome = std::make_shared<Outcome>();
    try {
      outcome->study = study(estimation->wires, estimation->params, options, progress);
    } catch (const std::exception& e) {  // StageError, or memory running out
      outcome->error = e.what();
    }
    if (cancel->load()) {
      outcome->cancelled = true;
      outcome->study.reset();
    }
    QMetaObject::invokeMethod(
        this, [this, run, outcome] { Finished(run, std::move(*outcome)); }, Qt::QueuedConnection);
  });
}

void PhysicalView::CancelComputation() { controller_.CancelAsked(); }

void PhysicalView::Finished(std::uint64_t run, Outcome outcome) {
  cancel_button_->setEnabled(false);
  progress_->setVisible(false);
  switch (controller_.Finished(run)) {
    case StudyController::Next::kStart:
      state_.ComputeEnded();
      StartComputation();
      if (!controller_.Busy()) {  // refused (pairs that no longer resolve, say)
        ShowState();
        emit ComputationEnded();
      }
      return;
    case StudyController::Next::kDiscard:  // the status tells what comes next
      state_.ComputeEnded();
      ShowState();
      emit ComputationEnded();
      return;
    default:
      break;
  }
  if (outcome.study) {
    try {
      ShowStudy(std::move(*outcome.study));
    } catch (const StageError& e) {
      outcome.error = e.what();
    }
  }
  if (outcome.cancelled) {
    state_.ComputeEnded();
    status_->setText(table_ ? QStringLiteral("Cancelled; the results shown are those of the "
                                             "previous computation.")
                            : QStringLiteral("Cancelled."));
  } else if (!outcome.error.empty()) {
    state_.ComputeFailed(outcome.error);
    status_->setText(table_ ? QStringLiteral("The results shown are those of the previous "
                                             "computation.")
                            : QStringLiteral("No model computed."));
  }
  ShowState();
  emit ComputationEnded();
}

void PhysicalView::ShowModel(physical::Model model) {
  PhysicalStudy study;
  study.model = std::move(model);
  ShowStudy(std::move(study));
}

void PhysicalView::ShowStudy(PhysicalStudy study) {
  if (!estimation_) throw StageError("there is no estimation to show a model of");
  // The wires selected before stay selected when they are still there.
  QStringList selected;
  if (table_) {
    for (std::size_t row : ShownRows(true)) {
      selected << QString::fromStdString(table_->wires()[row].Name);
    }
  }
  auto table = std::make_unique<PhysicalTable>(std::move(study.model), estimation_);
  table->SetNearestClearance(study.nearest_clearance_m);
  state_.Computed();
  model_->SetTable(nullptr);
  table_ = std::move(table);
  model_->SetTable(table_.get());
  view_->resizeColumnsToContents();
  {
    const QSignalBlocker block(sort_column_);
    const int current = sort_column_->currentIndex();
    sort_column_->clear();
    sort_column_->addItem(QStringLiteral("report order"));
    for (Column column : table_->Columns()) {
      sort_column_->addItem(QString::fromStdString(table_->Header(column)));
    }
    sort_column_->setCurrentIndex(std::clamp(current, 0, sort_column_->count() - 1));
  }

  table_sides_ = DieSides(estimation_->package, estimation_->wires);
  coupling_max_ = 0;
  for (const DieSide& side : table_sides_) {
    coupling_max_ =
        std::max(coupling_max_,
                 LargestCoupling(SideCoupling(table_->model().loop_inductance_h, side.wires)));
  }
  {
    const QSignalBlocker block(side_);
    side_->clear();
    for (const DieSide& side : table_sides_) side_->addItem(QString::fromStdString(side.label));
  }
  ShowSide(side_->currentIndex());
  ShowPlan();
  ShowPairs();
  ShowNets();

  QItemSelection selection;
  for (int r = 0; r < filter_->rowCount(); ++r) {
    const QModelIndex index = filter_->index(r, 0);
    if (selected.contains(index.data().toString())) selection.select(index, index);
  }
  if (selection.isEmpty() && filter_->rowCount() > 0) {
    selection.select(filter_->index(0, 0), filter_->index(0, 0));
  }
  view_->selectionModel()->select(selection,
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  ShowSelection();

  const physical::Model& m = table_->model();
  status_->setText(QStringLiteral("%1; %2 frequencies from %3 to %4; ground plane %5 µm "
                                  "below the substrate surface; eps_r %6.")
                       .arg(QString::fromStdString(WireCount(m.conductors.size())))
                       .arg(m.results.size())
                       .arg(QString::fromStdString(FrequencyLabel(m.results.front().frequency_hz)),
                            QString::fromStdString(FrequencyLabel(m.results.back().frequency_hz)))
                       .arg(m.options.ground_depth_m * 1e6, 0, 'g', 4)
                       .arg(m.options.eps_r, 0, 'g', 4));
  // What the model left out or repaired, then the wire pairs too close.
  notes_->clear();
  for (const std::string& note : m.notes) notes_->addItem(FromUtf8(note));
  for (const std::string& line : ClearanceNotes(m)) notes_->addItem(FromUtf8(line));
  notes_->setVisible(notes_->count() > 0);
  notes_->setToolTip(QStringLiteral("%1 note(s) on the model").arg(notes_->count()));
  ShowState();
}

std::vector<std::size_t> PhysicalView::ShownRows(bool selected_only) const {
  std::vector<std::size_t> rows;
  if (!table_) return rows;
  if (selected_only) {
    QModelIndexList indexes = view_->selectionModel()->selectedRows();
    std::sort(indexes.begin(), indexes.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& index : indexes) {
      rows.push_back(static_cast<std::size_t>(filter_->mapToSource(index).row()));
    }
    return rows;
  }
  for (int r = 0; r < filter_->rowCount(); ++r) {
    rows.push_back(static_cast<std::size_t>(filter_->mapToSource(filter_->index(r, 0)).row()));
  }
  return rows;
}

std::vector<std::size_t> PhysicalView::SelectedWires() const { return ShownRows(true); }

void PhysicalView::SelectWires(const std::vector<std::size_t>& wires, bool extend) {
  if (!table_) return;
  // A wire the filters hide cannot be selected in the table: the filters go.
  for (std::size_t wire : wires) {
    if (wire >= table_->RowCount()) return;
    if (!filter_->Keeps(wire)) {
      ClearFilters();
      break;
    }
  }
  QItemSelection selection;
  for (std::size_t wire : wires) {
    const QModelIndex index = filter_->mapFromSource(model_->index(static_cast<int>(wire), 0));
    if (index.isValid()) selection.select(index, index);
  }
  const auto flags = (extend ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect) |
                     QItemSelectionModel::Rows;
  view_->selectionModel()->select(selection, flags);
  if (!wires.empty()) {
    const QModelIndex first =
        filter_->mapFromSource(model_->index(static_cast<int>(wires.front()), 0));
    view_->selectionModel()->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
    view_->scrollTo(first);
  }
}

void PhysicalView::MapCellClicked(int row, int column) {
  const int side = side_->currentIndex();
  if (!table_ || side < 0 || side >= static_cast<int>(table_sides_.size())) return;
  const auto& wires = table_sides_[static_cast<std::size_t>(side)].wires;
  if (row >= static_cast<int>(wires.size()) || column >= static_cast<int>(wires.size())) return;
  const std::size_t a = wires[static_cast<std::size_t>(row)];
  const std::size_t b = wires[static_cast<std::size_t>(column)];
  SelectWires(a == b ? std::vector<std::size_t>{a} : std::vector<std::size_t>{a, b});
}

void PhysicalView::ShowSelection() {
  if (!table_) return;
  std::vector<PlotWire> wires;
  // In the table's order, as shown.
  std::vector<std::size_t> rows;
  {
    QModelIndexList indexes = view_->selectionModel()->selectedRows();
    std::sort(indexes.begin(), indexes.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& index : indexes) {
      rows.push_back(static_cast<std::size_t>(filter_->mapToSource(index).row()));
    }
  }
  for (std::size_t row : rows) {
    if (static_cast<int>(wires.size()) == kMaxPlotWires) break;
    const Wire& w = table_->wires()[row];
    wires.push_back({QString::fromStdString(w.Name), table_->Sweep(row),
                     static_cast<double>(w.Resistance), static_cast<double>(w.InductanceAC),
                     static_cast<double>(w.InductanceSelf), static_cast<double>(w.InductanceDC),
                     static_cast<int>(row)});
  }
  plot_->SetWires(std::move(wires), table_->SettingsFrequencyHz(), rows.size());
  plan_->SetSelected(rows);
  // The map turns to the side of the first selected wire.
  for (std::size_t side = 0; !rows.empty() && side < table_sides_.size(); ++side) {
    const auto& side_wires = table_sides_[side].wires;
    if (std::find(side_wires.begin(), side_wires.end(), rows.front()) == side_wires.end()) {
      continue;
    }
    if (side_->currentIndex() != static_cast<int>(side)) {
      side_->setCurrentIndex(static_cast<int>(side));
    }
    break;
  }
  OutlineOnMap(rows);
}

void PhysicalView::OutlineOnMap(const std::vector<std::size_t>& rows) {
  // The selected wires of the side shown are outlined; a pair of them is framed.
  const int side = side_->currentIndex();
  if (!table_ || side < 0 || side >= static_cast<int>(table_sides_.size())) {
    map_->SetSelected({});
    return;
  }
  const auto& side_wires = table_sides_[static_cast<std::size_t>(side)].wires;
  std::vector<int> positions;
  for (std::size_t row : rows) {
    const auto at = std::find(side_wires.begin(), side_wires.end(), row);
    if (at != side_wires.end()) positions.push_back(static_cast<int>(at - side_wires.begin()));
  }
  std::pair<int, int> pair{-1, -1};
  if (rows.size() == 2 && positions.size() == 2) pair = {positions[0], positions[1]};
  map_->SetSelected(std::move(positions), pair);
}

void PhysicalView::ShowSide(int index) {
  if (!table_ || index < 0 || index >= static_cast<int>(table_sides_.size())) {
    map_->SetSide(QString(), {}, {});
    return;
  }
  const DieSide& side = table_sides_[static_cast<std::size_t>(index)];
  QStringList names;
  for (std::size_t wire : side.wires) names << QString::fromStdString(table_->wires()[wire].Name);
  const physical::SymmetricMatrix& loop = table_->model().loop_inductance_h;
  std::vector<double> l_nh;
  for (std::size_t a : side.wires) {
    for (std::size_t b : side.wires) l_nh.push_back(loop.At(a, b) * 1e9);
  }
  map_->SetSide(QString::fromStdString(side.label), names, SideCoupling(loop, side.wires),
                std::move(l_nh));
  map_->SetScaleMax(side_scale_->isChecked() ? 0.0 : coupling_max_);
  OutlineOnMap(SelectedWires());  // a side chosen by hand stays, whatever is selected
}

void PhysicalView::ShowPlan() {
  if (!table_) return;
  const auto quantity =
      kPlanQuantities[static_cast<std::size_t>(std::max(0, plan_quantity_->currentIndex()))];
  plan_->SetScene(PlanOf(*table_, quantity));
}

void PhysicalView::ShowNets() {
  {
    // The nets of the wires shown, the pattern typed kept.
    const QSignalBlocker block(net_filter_);
    const QString text = net_filter_->currentText();
    net_filter_->clear();
    for (const Net& net : table_->Nets()) net_filter_->addItem(QString::fromStdString(net.name));
    net_filter_->setEditText(text);
  }
  FilterRows();
  const NetImpedanceText nets = NetImpedanceTable(table_->model());
  // A column without figures (the loop of a supply net, when there is none) is hidden.
  FillFigures(net_table_, nets, 2);
  panes_->setTabVisible(panes_->indexOf(nets_pane_), !nets.rows.empty());
}

void PhysicalView::ShowPairs() {
  {
    // The pairs of the model shown; the one chosen kept when it is still there.
    const QSignalBlocker block(pair_filter_);
    const QString chosen = pair_filter_->currentText();
    while (pair_filter_->count() > 2) pair_filter_->removeItem(2);
    for (std::size_t p = 0; p < table_->model().pairs.size(); ++p) {
      pair_filter_->addItem(FromUtf8(table_->PairName(p)));
    }
    const bool any = !table_->model().pairs.empty();
    pair_filter_->setCurrentIndex(any ? std::max(0, pair_filter_->findText(chosen)) : 0);
    pair_filter_->setVisible(any);
  }
  const NetImpedanceText pairs = PairFiguresTable(table_->model());
  FillFigures(pair_table_, pairs, 1);
  panes_->setTabVisible(panes_->indexOf(pairs_pane_), !pairs.rows.empty());
}

void PhysicalView::CheckPairs() {
  std::string fault;
  const std::string pairs = Options().pairs;
  if (estimation_ && !pairs.empty()) {
    try {
      WirePairsOf(pairs, estimation_->wires);
    } catch (const StageError& e) {
      fault = e.what();
    }
  }
  state_.PairsChecked(fault);
  pairs_fault_->setText(FromUtf8(fault));
  pairs_fault_->setVisible(!fault.empty());
}

void PhysicalView::FilterRows() {
  std::vector<RowFilter> filters(5);
  filters[0].column = Column::kName;
  filters[0].match = RowFilter::Match::kNamePart;
  filters[0].text = name_filter_->text().trimmed().toStdString();
  filters[1].column = Column::kKind;
  filters[1].text = kind_filter_->currentData().toString().toStdString();
  filters[2].column = Column::kRole;
  filters[2].text = role_filter_->currentData().toString().toStdString();
  filters[3].column = Column::kNet;
  filters[3].match = RowFilter::Match::kPatterns;
  filters[3].text = net_filter_->currentText().trimmed().toStdString();
  // Any text at all: a wire in a pair; a pair's own rows begin with its name and a blank.
  filters[4].column = Column::kPair;
  const int pair = pair_filter_->currentIndex();
  filters[4].match = pair == 1 ? RowFilter::Match::kPatterns : RowFilter::Match::kPrefix;
  filters[4].text = pair == 1  ? std::string("?*")
                    : pair > 1 ? pair_filter_->currentText().toUtf8().toStdString() + " "
                               : std::string();
  filter_->SetFilters(std::move(filters));
  if (!table_) return;
  std::vector<bool> shown(table_->RowCount());
  for (std::size_t w = 0; w < shown.size(); ++w) shown[w] = filter_->Keeps(w);
  plan_->SetShown(std::move(shown));
  ShowSelection();  // the rows the filters took went out of the selection
}

void PhysicalView::ClearFilters() {
  const QSignalBlocker block_name(name_filter_), block_kind(kind_filter_), block_role(role_filter_),
      block_net(net_filter_), block_pair(pair_filter_);
  name_filter_->clear();
  pair_filter_->setCurrentIndex(0);
  kind_filter_->setCurrentIndex(0);
  role_filter_->setCurrentIndex(0);
  net_filter_->setEditText(QString());
  FilterRows();
}

void PhysicalView::SortFromBoxes() {
  if (sort_column_->currentIndex() < 0) return;
  view_->sortByColumn(sort_column_->currentIndex() - 1,
                      static_cast<Qt::SortOrder>(sort_order_->currentData().toInt()));
}

void PhysicalView::CopyRows() const {
  if (!table_) return;
  std::vector<std::size_t> rows = ShownRows(true);
  if (rows.empty()) rows = ShownRows(false);
  QApplication::clipboard()->setText(QString::fromStdString(table_->Tsv(rows)));
}

// The save dialog of an export of the view.
std::optional<std::string> PhysicalView::ChooseExportPath(const char* title, const char* filter,
                                                          const char* extension) {
  FileDialogRequest request;
  request.mode = FileDialogRequest::Mode::kSave;
  request.title = title;
  request.filter = filter;
  request.default_extension = extension;
  request.overwrite_prompt = true;
  return chooser_.Choose(request);
}

void PhysicalView::ExportTable() {
  if (!table_) return;
  const std::optional<std::string> path =
      ChooseExportPath("Export Wire Table", "CSV Files|*.csv|All Files|*.*", "csv");
  if (!path) return;
  try {
    WriteFileAtomically(*path, table_->Csv(ShownRows(false)));
    state_.Exported();
  } catch (const StageError& e) {
    state_.ExportFailed(e.what());
  }
  ShowState();
}

void PhysicalView::ExportPlot() {
  ExportPicture("Export Frequency Plot",
                [&](const QString& path) { return plot_->SaveTo(path, QSize(900, 640)); });
}

void PhysicalView::ExportPlan() {
  ExportPicture("Export Plan",
                [&](const QString& path) { return plan_->SaveTo(path, QSize(900, 760)); });
}

// A picture's export: a PNG or SVG path chosen, `save` to it, the outcome in the state shown.
void PhysicalView::ExportPicture(const char* title,
                                 const std::function<bool(const QString&)>& save) {
  if (!table_) return;
  const std::optional<std::string> path =
      ChooseExportPath(title, "PNG Images|*.png|SVG Pictures|*.svg|All Files|*.*", "png");
  if (!path) return;
  if (save(QString::fromStdString(*path))) {
    state_.Exported();
  } else {
    state_.ExportFailed("cannot write " + *path);
  }
  ShowState();
}

}  // namespace ostrel::ui
