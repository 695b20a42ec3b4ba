#include "ui/physical_view.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>

#include "app/file_io.h"
#include "base/stage_error.h"
#include "export/physical_export.h"
#include "ui/physical_plot.h"

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

// Rows whose name matches the filter (a part of the name, or a pattern with * and ?) and whose
// kind is the chosen one.
class WireFilter : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

  void SetFilter(const QString& name, const QString& kind) {
    name_ = name.trimmed();
    kind_ = kind;
    pattern_ = QRegularExpression(QRegularExpression::wildcardToRegularExpression(name_),
                                  QRegularExpression::CaseInsensitiveOption);
    invalidateFilter();
  }

 protected:
  bool filterAcceptsRow(int source_row, const QModelIndex&) const override {
    const auto* table = static_cast<const WireTableModel*>(sourceModel())->table();
    if (!table) return false;
    const Wire& wire = table->wires()[static_cast<std::size_t>(source_row)];
    if (!kind_.isEmpty() && QString::fromStdString(KindName(wire)) != kind_) return false;
    if (name_.isEmpty()) return true;
    const QString name = QString::fromStdString(wire.Name);
    if (name_.contains(QLatin1Char('*')) || name_.contains(QLatin1Char('?'))) {
      return pattern_.match(name).hasMatch();
    }
    return name.contains(name_, Qt::CaseInsensitive);
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
  QString name_, kind_;
  QRegularExpression pattern_;
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

}  // namespace

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
  ShowOptions(stored);
  saved_ = Options();  // opening the view writes nothing
  status_->setText(QStringLiteral("Press Process Data in the main window to compute the model."));
}

PhysicalView::~PhysicalView() {
  if (cancel_) cancel_->store(true);
  future_.waitForFinished();
  // The table dies with this class's members, before the widget base closes the window and its
  // views ask the model once more for their rows: the model lets go of it first.
  model_->SetTable(nullptr);
}

void PhysicalView::BuildControls() {
  auto* root = new QVBoxLayout(this);

  // The model's options and the computation.
  auto* options = new QHBoxLayout;
  auto label = [this](const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text, this);
    l->setBuddy(buddy);
    return l;
  };
  sweep_min_mhz_ = SpinBox(this, 1e-3, 1e6, 3, QStringLiteral(" MHz"));
  sweep_max_mhz_ = SpinBox(this, 1e-3, 1e6, 3, QStringLiteral(" MHz"));
  sweep_points_ = new QSpinBox(this);
  sweep_points_->setRange(2, 1000);
  sweep_points_->setKeyboardTracking(false);
  ground_depth_um_ = SpinBox(this, 0, 1e5, 1, QStringLiteral(" µm"));
  eps_r_ = SpinBox(this, 1, 100, 2, QString());
  sweep_min_mhz_->setObjectName(QStringLiteral("SweepMin"));
  sweep_max_mhz_->setObjectName(QStringLiteral("SweepMax"));
  sweep_points_->setObjectName(QStringLiteral("SweepPoints"));
  ground_depth_um_->setObjectName(QStringLiteral("GroundDepth"));
  eps_r_->setObjectName(QStringLiteral("EpsR"));
  options->addWidget(label(QStringLiteral("Fre&quency sweep from"), sweep_min_mhz_));
  options->addWidget(sweep_min_mhz_);
  options->addWidget(label(QStringLiteral("to"), sweep_max_mhz_));
  options->addWidget(sweep_max_mhz_);
  options->addWidget(sweep_points_);
  options->addWidget(label(QStringLiteral("points,"), sweep_points_));
  options->addWidget(label(QStringLiteral("  &ground plane depth"), ground_depth_um_));
  options->addWidget(ground_depth_um_);
  options->addWidget(label(QStringLiteral("  eps_r"), eps_r_));
  options->addWidget(eps_r_);
  for (QAbstractSpinBox* box : std::initializer_list<QAbstractSpinBox*>{
           sweep_min_mhz_, sweep_max_mhz_, sweep_points_, ground_depth_um_, eps_r_}) {
    connect(box, &QAbstractSpinBox::editingFinished, this, [this] { SaveOptions(); });
  }
  compute_button_ = new QPushButton(QStringLiteral("Comp&ute"), this);
  compute_button_->setObjectName(QStringLiteral("Compute"));
  cancel_button_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_button_->setObjectName(QStringLiteral("CancelModel"));
  cancel_button_->setEnabled(false);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 100);
  progress_->setVisible(false);
  connect(compute_button_, &QPushButton::clicked, this, [this] { StartComputation(); });
  connect(cancel_button_, &QPushButton::clicked, this, [this] { CancelComputation(); });
  options->addStretch();
  options->addWidget(compute_button_);
  options->addWidget(cancel_button_);
  options->addWidget(progress_);
  root->addLayout(options);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("Status"));
  root->addWidget(status_);

  // The table with its filters and commands above, the plot and the map side by side below.
  auto* split = new QSplitter(Qt::Vertical, this);
  auto* left = new QWidget(split);
  auto* left_layout = new QVBoxLayout(left);
  left_layout->setContentsMargins(0, 0, 0, 0);
  auto* filters = new QHBoxLayout;
  name_filter_ = new QLineEdit(left);
  name_filter_->setObjectName(QStringLiteral("NameFilter"));
  name_filter_->setPlaceholderText(QStringLiteral("part of a name, or a pattern with * and ?"));
  name_filter_->setClearButtonEnabled(true);
  kind_filter_ = new QComboBox(left);
  kind_filter_->setObjectName(QStringLiteral("KindFilter"));
  kind_filter_->addItem(QStringLiteral("All kinds"), QString());
  for (const char* kind : {"base-die", "stacked-die", "stitch"}) {
    kind_filter_->addItem(QLatin1String(kind), QLatin1String(kind));
  }
  filters->addWidget(label(QStringLiteral("Filter &by name"), name_filter_));
  filters->addWidget(name_filter_, 1);
  filters->addWidget(label(QStringLiteral("kind"), kind_filter_));
  filters->addWidget(kind_filter_);
  left_layout->addLayout(filters);

  model_ = new WireTableModel(this);
  filter_ = new WireFilter(this);
  filter_->setSourceModel(model_);
  filter_->setSortRole(Qt::UserRole);
  filter_->setSortCaseSensitivity(Qt::CaseInsensitive);
  view_ = new QTableView(left);
  view_->setObjectName(QStringLiteral("WireTable"));
  view_->setModel(filter_);
  view_->setSortingEnabled(true);
  view_->sortByColumn(-1, Qt::AscendingOrder);  // report order until a header is clicked
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view_->verticalHeader()->setVisible(false);
  view_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  view_->horizontalHeader()->setResizeContentsPrecision(64);
  view_->setWordWrap(false);
  left_layout->addWidget(view_, 1);
  // The wire pairs that touch or come too close stay in sight, not in a tooltip.
  clearance_ = new QLabel(left);
  clearance_->setObjectName(QStringLiteral("Clearance"));
  clearance_->setWordWrap(true);
  clearance_->setVisible(false);
  left_layout->addWidget(clearance_);
  auto update_filter = [this] {
    filter_->SetFilter(name_filter_->text(), kind_filter_->currentData().toString());
  };
  connect(name_filter_, &QLineEdit::textChanged, this, update_filter);
  connect(kind_filter_, &QComboBox::currentIndexChanged, this, update_filter);
  connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { ShowSelection(); });
  auto* copy_shortcut = new QShortcut(QKeySequence::Copy, view_);
  copy_shortcut->setContext(Qt::WidgetShortcut);
  connect(copy_shortcut, &QShortcut::activated, this, [this] { CopyRows(); });

  auto* commands = new QHBoxLayout;
  const std::pair<const char*, std::function<void()>> buttons[] = {
      {"Copy Rows", [this] { CopyRows(); }},
      {"Export &Table...", [this] { ExportTable(); }},
      {"Export Plot...", [this] { ExportPlot(); }}};
  for (const auto& [caption, action] : buttons) {
    auto* button = new QPushButton(QString::fromLatin1(caption), left);
    connect(button, &QPushButton::clicked, this, action);
    commands->addWidget(button);
  }
  commands->addStretch();
  left_layout->addLayout(commands);

  auto* right = new QSplitter(Qt::Horizontal, split);
  plot_ = new FrequencyPlot(right);
  plot_->setObjectName(QStringLiteral("FrequencyPlot"));
  auto* map_box = new QWidget(right);
  auto* map_layout = new QVBoxLayout(map_box);
  map_layout->setContentsMargins(0, 0, 0, 0);
  auto* side_row = new QHBoxLayout;
  side_ = new QComboBox(map_box);
  side_->setObjectName(QStringLiteral("Side"));
  side_row->addWidget(label(QStringLiteral("Die side"), side_));
  side_row->addWidget(side_, 1);
  map_layout->addLayout(side_row);
  map_ = new CouplingMap(map_box);
  map_->setObjectName(QStringLiteral("CouplingMap"));
  map_layout->addWidget(map_, 1);
  connect(side_, &QComboBox::currentIndexChanged, this, [this](int index) { ShowSide(index); });
  right->setStretchFactor(0, 3);
  right->setStretchFactor(1, 2);
  split->setSizes({460, 520});
  root->addWidget(split, 1);
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
}

QString PhysicalView::Status() const { return status_->text(); }

bool PhysicalView::Busy() const { return controller_.Busy(); }

void PhysicalView::SetEstimation(std::shared_ptr<const Estimation> estimation) {
  estimation_ = std::move(estimation);
  const std::size_t wires = estimation_->wires.size();
  switch (controller_.Estimated(wires)) {
    case StudyController::Next::kStart:
      StartComputation();
      return;
    case StudyController::Next::kAwaitCompute: {
      QString text = QStringLiteral("%1: the model takes about %2 s; press Compute to start it.")
                         .arg(QString::fromStdString(WireCount(wires)))
                         .arg(EstimatedSeconds(wires), 0, 'f', 0);
      if (table_) text += QStringLiteral(" The results shown are from an earlier estimation.");
      status_->setText(text);
      return;
    }
    default:
      return;
  }
}

void PhysicalView::EstimationFailed(const std::string& reason) {
  controller_.EstimationFailed();
  status_->setText(QStringLiteral("Process Data failed: %1. %2")
                       .arg(QString::fromUtf8(reason.c_str()),
                            table_ ? QStringLiteral("The results shown are from an earlier "
                                                    "estimation.")
                                   : QString()));
}

void PhysicalView::StartComputation() {
  if (controller_.ComputeAsked() != StudyController::Next::kStart) return;
  StudyOptions options;
  try {
    options = StudyOf(Options());
    ModelOptions(options, static_cast<double>(estimation_->params.Frequency));
  } catch (const StageError& e) {
    status_->setText(QStringLiteral("Cannot compute: %1.").arg(QString::fromUtf8(e.what())));
    return;
  }
  const StudyController::Ticket ticket = controller_.Started();
  cancel_ = ticket.cancel;
  compute_button_->setEnabled(false);
  cancel_button_->setEnabled(true);
  progress_->setValue(0);
  progress_->setVisible(true);
  status_->setText(QStringLiteral("Computing the physical model of %1...")
                       .arg(QString::fromStdString(WireCount(estimation_->wires.size()))));
  future_ = QtConcurrent::run([this, run = ticket.run, cancel = ticket.cancel,
                               estimation = estimation_, options, study = study_] {
    auto last_percent = std::make_shared<std::atomic<int>>(-1);
    physical::Progress progress;
    progress.cancel = cancel.get();
    progress.report = [this, run, last_percent](std::string_view stage, double fraction) {
      const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100);
      if (last_percent->exchange(percent) == percent) return;
      const QString text = QString::fromUtf8(stage.data(), static_cast<qsizetype>(stage.size()));
      QMetaObject::invokeMethod(
          this,
          [this, run, percent, text] {
            if (!controller_.Current(run)) return;
            progress_->setValue(percent);
            progress_->setFormat(text + QStringLiteral(" %p%"));
          },
          Qt::QueuedConnection);
    };
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
  compute_button_->setEnabled(true);
  cancel_button_->setEnabled(false);
  progress_->setVisible(false);
  switch (controller_.Finished(run)) {
    case StudyController::Next::kStart:
      StartComputation();
      return;
    case StudyController::Next::kDiscard:  // the status tells what comes next
      emit ComputationEnded();
      return;
    default:
      break;
  }
  if (outcome.study) {
    try {
      ShowModel(std::move(outcome.study->model));
    } catch (const StageError& e) {
      outcome.error = e.what();
    }
  }
  if (outcome.cancelled) {
    status_->setText(table_ ? QStringLiteral("Cancelled; the results shown are those of the "
                                             "previous computation.")
                            : QStringLiteral("Cancelled."));
  } else if (!outcome.error.empty()) {
    status_->setText(QStringLiteral("The model could not be computed (%1); the results shown "
                                    "are unchanged.")
                         .arg(QString::fromUtf8(outcome.error.c_str())));
  }
  emit ComputationEnded();
}

void PhysicalView::ShowModel(physical::Model model) {
  if (!estimation_) throw StageError("there is no estimation to show a model of");
  // The wires selected before stay selected when they are still there.
  QStringList selected;
  if (table_) {
    for (std::size_t row : ShownRows(true)) {
      selected << QString::fromStdString(table_->wires()[row].Name);
    }
  }
  auto table = std::make_unique<PhysicalTable>(std::move(model), estimation_);
  model_->SetTable(nullptr);
  table_ = std::move(table);
  model_->SetTable(table_.get());
  view_->resizeColumnsToContents();

  table_sides_ = DieSides(estimation_->package, estimation_->wires);
  {
    const QSignalBlocker block(side_);
    side_->clear();
    for (const DieSide& side : table_sides_) side_->addItem(QString::fromStdString(side.label));
  }
  ShowSide(side_->currentIndex());

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
  QString text = QStringLiteral(
                     "%1; %2 frequencies from %3 to %4; ground plane %5 µm "
                     "below the substrate surface.")
                     .arg(QString::fromStdString(WireCount(m.conductors.size())))
                     .arg(m.results.size())
                     .arg(QString::fromStdString(FrequencyLabel(m.results.front().frequency_hz)),
                          QString::fromStdString(FrequencyLabel(m.results.back().frequency_hz)))
                     .arg(m.options.ground_depth_m * 1e6, 0, 'g', 4);
  QString notes;
  for (const std::string& note : m.notes) notes += QString::fromStdString(note) + '\n';
  if (!m.notes.empty()) text += QStringLiteral(" %1 note(s): hover here.").arg(m.notes.size());
  status_->setText(text);
  status_->setToolTip(notes.trimmed());
  QStringList pairs;
  for (const std::string& line : ClearanceNotes(m)) pairs << QString::fromStdString(line);
  clearance_->setText(pairs.join('\n'));
  clearance_->setVisible(!pairs.isEmpty());
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

void PhysicalView::ShowSelection() {
  if (!table_) return;
  std::vector<PlotWire> wires;
  const std::vector<std::size_t> rows = ShownRows(true);
  for (std::size_t row : rows) {
    if (static_cast<int>(wires.size()) == kMaxPlotWires) break;
    const Wire& w = table_->wires()[row];
    wires.push_back({QString::fromStdString(w.Name), table_->Sweep(row),
                     static_cast<double>(w.Resistance), static_cast<double>(w.InductanceAC),
                     static_cast<double>(w.InductanceSelf), static_cast<double>(w.InductanceDC)});
  }
  plot_->SetWires(std::move(wires), table_->SettingsFrequencyHz());
  if (rows.empty()) {
    map_->SetSelected(-1);
    return;
  }
  // The map turns to the side of the first selected wire and outlines it.
  for (std::size_t s = 0; s < table_sides_.size(); ++s) {
    const auto& side_wires = table_sides_[s].wires;
    const auto at = std::find(side_wires.begin(), side_wires.end(), rows.front());
    if (at == side_wires.end()) continue;
    if (side_->currentIndex() != static_cast<int>(s)) side_->setCurrentIndex(static_cast<int>(s));
    map_->SetSelected(static_cast<int>(at - side_wires.begin()));
    return;
  }
  map_->SetSelected(-1);
}

void PhysicalView::ShowSide(int index) {
  if (!table_ || index < 0 || index >= static_cast<int>(table_sides_.size())) {
    map_->SetSide(QString(), {}, {});
    return;
  }
  const DieSide& side = table_sides_[static_cast<std::size_t>(index)];
  QStringList names;
  for (std::size_t wire : side.wires) names << QString::fromStdString(table_->wires()[wire].Name);
  map_->SetSide(QString::fromStdString(side.label), names,
                SideCoupling(table_->model().loop_inductance_h, side.wires));
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
  } catch (const StageError& e) {
    status_->setText(QStringLiteral("Not written: %1").arg(QString::fromUtf8(e.what())));
  }
}

void PhysicalView::ExportPlot() {
  if (!table_) return;
  const std::optional<std::string> path = ChooseExportPath(
      "Export Frequency Plot", "PNG Images|*.png|SVG Pictures|*.svg|All Files|*.*", "png");
  if (!path) return;
  if (!plot_->SaveTo(QString::fromStdString(*path), QSize(900, 640))) {
    status_->setText(QStringLiteral("Not written: %1").arg(QString::fromStdString(*path)));
  }
}

}  // namespace ostrel::ui
