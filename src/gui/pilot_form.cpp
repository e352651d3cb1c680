#include "gui/pilot_form.h"

#include <QCloseEvent>
#include <QFont>
#include <QGroupBox>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>

#include "windows/main_window.h"
#include "station/plan_columns.h"
#include "windows/setup_window.h"
#include "windows/station.h"
#include "automation/plan_file.h"
#include "windows/plan_table_window.h"
#include "gui/control_binding.h"
#include "gui/form_layout.h"
#include "gui/log_memo.h"
#include "gui/picture_view.h"
#include "gui/setup_dialog.h"
#include "gui/string_grid_view.h"

namespace noctarbel::gui {

namespace {

const Section& TelescopeSection() {
  static const Section section = {"TelescopeGroupBox",
                                  {{"BtnConnect", "led1", "TrackCheckBox", "PiersideEdit"},
                                   {"Memo1"},
                                   {"RAEdit1", "DECEdit1"},
                                   {"AltEdit", "AirmassEdit"},
                                   {"CatEdit", "KatalogButton"},
                                   {"RAHourEdit", "RAminEdit", "RAsecEdit", "BtnGoto"},
                                   {"DECdegEdit", "DECminEdit", "DECsecEdit", "NSbox", "AbortSlewBtn"},
                                   {"ParkButton", "ParkButton2", "HomeButton", "HorizonButton"}}};
  return section;
}

const Section& ObservatorySection() {
  static const Section section = {"DomeGroupBox",
                                  {{"IOConnectButton", "LED2", "SimulationButton", "SimulationLabel"},
                                   {"DachAufButton", "DachZuButton"},
                                   {"DachStatusEdit", "RegensensorEdit"},
                                   {"TemperaturEdit1", "FeuchteEdit1"}}};
  return section;
}

const Section& FocusSection() {
  static const Section section = {"FocusBox",
                                  {{"FocusConnectButton", "LED3", "FocusEdit1", "TemperaturEdit"},
                                   {"FocusComboBox", "FocusSetButton", "FocusResetButton"},
                                   {"AutofocusButton", "FocusButton"},
                                   {"FocusmaxConnect", "LED4"}}};
  return section;
}

const std::vector<Line>& CameraControlLines() {
  static const std::vector<Line> lines = {
      {"CCDConnectBtn", "CamDisconnectButton", "CameraInfobutton"},
      {"ExposeSecEdit", "ExposureUpDown", "ExposeButton", "StopButton", "exposeLight"},
      {"ExposeProgressBar"},
      {"BinningEdit1", "ZoomEdit1"},
      {"FilterEdit", "FilternameEdit"},
      {"CoolerTempEdit", "setCoolerButton", "CoolerCheckBox"},
      {"CamTempEdit", "CoolerPowerEdit", "WarmUpBtn"},
      {"RepeatExpCheckBox", "HotpixelCheckbox", "Markercheckbox"},
      {"ImgPathEdit", "FolderselectButton"},
  };
  return lines;
}

const std::vector<Line>& CameraPreviewLines() {
  static const std::vector<Line> lines = {
      {"PaintBox1"},
      {"ImageInfoEdit"},
      {"ImgMaxEdit", "ImgMeanEdit"},
      {"ImgMaxBar"},
      {"Centerbutton", "StackingButton", "ViewerButton", "GuidingtestButton"},
  };
  return lines;
}

// Below the plan table: the table and run buttons, then the run options.
const std::vector<Line>& AutopilotLines() {
  static const std::vector<Line> lines = {
      {"LoadButton", "SaveButton", "AddRowBtn", "ClearBtn", "ObjektBtn", "PasteposBtn", "CheckButton", "ExecuteButton",
       "ExecLight", "PauseButton", "PlayButton", "StopBtn"},
      {"SYrangeEdit", "DachzuCheckBox", "CalibrationCheckbox", "StackingCheckBox", "starguideCheckBox",
       "ViewerControlCheck", "WebmonitorCheck", "CoordinateSystemLabel"},
      {"RehearseButton", "RehearseSpeedBox", "RehearseRainCheck", "RehearseCloudsCheck", "RehearseCameraFaultCheck",
       "RehearsalLabel"},
  };
  return lines;
}

}  // namespace

TPilotForm1::TPilotForm1(Station& station, QWidget* parent) : QMainWindow(parent), station_(station) {
  setObjectName(QStringLiteral("PilotForm1"));
  setWindowTitle(QStringLiteral("Noctarbel"));
  binder_ = new ControlBinder(station_.Main, this);
  FormBuilder builder(*binder_);
  builder_ = &builder;

  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  auto* content = new QWidget(scroll);
  auto* layout = new QVBoxLayout(content);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addWidget(MakeHeader(content));
  layout->addWidget(MakeDeviceGroups(content));
  auto* split = new QSplitter(Qt::Vertical, content);
  split->setChildrenCollapsible(false);
  split->addWidget(MakeAutopilot(split));
  split->addWidget(MakeMemos(split));
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  layout->addWidget(split, 1);
  auto* status = static_cast<QStatusBar*>(binder_->Create("StatusBar1", this));
  // The run's counts, then the exit button at the lower right, beside the executor's current step.
  status->addPermanentWidget(binder_->Create("RunProgress", status));
  status->addPermanentWidget(binder_->Create("ExitButton", status));
  setStatusBar(status);
  builder.SetContainerLayout("", layout, content);
  builder.PlaceRemaining();
  scroll->setWidget(content);
  setCentralWidget(scroll);

  builder_ = nullptr;
  ConnectHandlers();
  const QScreen* screen = QGuiApplication::primaryScreen();
  resize(StartSize(screen ? screen->availableGeometry().size() : QSize(1600, 960), RememberedSize()));
}

QSize TPilotForm1::FirstSize(QSize available) {
  // The window frame and title bar take some of the usable area.
  const QSize usable = available - QSize(16, 48);
  return QSize(std::clamp(usable.width(), 640, 1600), std::clamp(usable.height(), 480, 960));
}

QSize TPilotForm1::StartSize(QSize available, QSize remembered) {
  if (!remembered.isValid()) return FirstSize(available);
  return remembered.boundedTo(available);
}

QString TPilotForm1::WindowSettingsFile() const {
  return QString::fromStdString((station_.Paths.Home / "window.ini").string());
}

QSize TPilotForm1::RememberedSize() const {
  QSettings file(WindowSettingsFile(), QSettings::IniFormat);
  const QSize size = file.value(QStringLiteral("MainWindow/Size")).toSize();
  return size.isValid() && size.width() >= 320 && size.height() >= 240 ? size : QSize();
}

void TPilotForm1::RememberSize() {
  QSettings file(WindowSettingsFile(), QSettings::IniFormat);
  file.setValue(QStringLiteral("MainWindow/Size"), size());
}

TPilotForm1::~TPilotForm1() { station_.Main.Unsubscribe(markListener_); }

QWidget* TPilotForm1::MakeHeader(QWidget* parent) {
  auto* header = new QWidget(parent);
  auto* row = new QHBoxLayout(header);
  row->setContentsMargins(0, 0, 0, 0);
  QWidget* version = binder_->Create("Versionheader", header);
  QFont big = version->font();
  big.setPointSizeF(big.pointSizeF() * 1.4);
  big.setBold(true);
  version->setFont(big);
  row->addWidget(version);
  row->addSpacing(24);
  for (const char* name : {"UTCEdit", "SternzeitEdit", "ProfilenameEdit"}) {
    QWidget* field = binder_->Create(name, header);
    field->setMaximumWidth(180);
    row->addWidget(binder_->Label(name, header));
    row->addWidget(field);
    row->addSpacing(12);
  }
  row->addStretch(1);
  row->addWidget(binder_->Create("SetupButton", header));
  row->addWidget(binder_->Create("ConnectAllBtn", header));
  return header;
}

QWidget* TPilotForm1::MakeDeviceGroups(QWidget* parent) {
  auto* band = new QWidget(parent);
  auto* row = new QHBoxLayout(band);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(builder_->MakeSection(band, TelescopeSection()), 4);
  // The telescope's status memo: a few lines are enough.
  auto* memo = binder_->Widget("Memo1");
  memo->setMinimumHeight(memo->fontMetrics().lineSpacing() * 2 + 10);
  memo->setMaximumHeight(memo->fontMetrics().lineSpacing() * 4 + 10);

  auto* middle = new QVBoxLayout();
  middle->addWidget(builder_->MakeSection(band, ObservatorySection()));
  middle->addWidget(builder_->MakeSection(band, FocusSection()));
  middle->addStretch(1);
  row->addLayout(middle, 4);

  QWidget* camera = binder_->Create("CCDGroupBox", band);
  auto* cameraRow = new QHBoxLayout(camera);
  auto* controls = new QVBoxLayout();
  builder_->AddLines(camera, controls, CameraControlLines());
  controls->addStretch(1);
  previewBox_ = new PreviewBox(station_, camera);
  binder_->Adopt("PaintBox1", previewBox_);
  auto* preview = new QVBoxLayout();
  builder_->AddLines(camera, preview, CameraPreviewLines());
  preview->addStretch(1);
  cameraRow->addLayout(controls, 1);
  cameraRow->addLayout(preview, 0);
  builder_->SetContainerLayout("CCDGroupBox", controls, camera);
  row->addWidget(camera, 6);
  return band;
}

QWidget* TPilotForm1::MakeAutopilot(QWidget* parent) {
  QWidget* box = binder_->Create("AutopilotGroupBox", parent);
  auto* column = new QVBoxLayout(box);
  planGrid_ = new StringGridView(station_.Planer1, box);
  binder_->Adopt("Planer1", planGrid_);
  planGrid_->SetColumnWidths(PlanColumnWidths());
  planGrid_->setContextMenuPolicy(Qt::CustomContextMenu);
  planMenu_ = new QMenu(planGrid_);
  binder_->BindAction("Zeileloeschen1", planMenu_->addAction(QString()));
  binder_->BindAction("Zeileeinfuegen1", planMenu_->addAction(QString()));
  connect(planGrid_, &QWidget::customContextMenuRequested, this, &TPilotForm1::ShowPlanMenu);
  planGrid_->setMinimumHeight(100);
  column->addWidget(planGrid_, 1);
  builder_->AddLines(box, column, AutopilotLines());
  builder_->SetContainerLayout("AutopilotGroupBox", column, box);
  // A rehearsal says so, loud enough to be seen from across the room.
  QWidget* rehearsal = binder_->Widget("RehearsalLabel");
  rehearsal->setStyleSheet(QStringLiteral("color: #ff5050; font-weight: bold;"));
  rehearsal->setMinimumWidth(rehearsal->fontMetrics().horizontalAdvance(QStringLiteral("REHEARSAL as fast as possible: simulators, simulated clock")) + 8);
  return box;
}

QWidget* TPilotForm1::MakeMemos(QWidget* parent) {
  auto* bottom = new QWidget(parent);
  auto* row = new QHBoxLayout(bottom);
  row->setContentsMargins(0, 0, 0, 0);
  logMemo_ = new LogMemoView(station_.Log, bottom);
  binder_->Adopt("LogMemo", logMemo_);
  logMemo_->setMinimumHeight(80);
  row->addWidget(logMemo_, 3);
  QWidget* help = binder_->Create("HelpMemo", bottom);
  help->setMinimumHeight(80);
  row->addWidget(help, 2);
  return bottom;
}

void TPilotForm1::ConnectHandlers() {
  ControlBinder& b = *binder_;
  Station& s = station_;
  // Every other control goes to the handler its subsystem registered with the station.
  b.SetActivator([&s](const std::string& name) { s.Activate("PilotForm1", name); });
  b.OnClick("ExitButton", [this] { ExitButtonClicked(); });
  b.OnClick("SetupButton", [this] { SetupButtonClick(); });
  // Whoever ticks "Extra Viewer", the web monitor box follows it.
  b.OnChange("ViewerControlCheck", [&s] { ViewerControlCheckClick(s); });
  // The running row in its own colour: the table's value while a run goes on.
  markListener_ = s.Main.Subscribe([this](const std::string& name, ControlProperty what) {
    if (name == "Planer1" && what == ControlProperty::Value) {
      planGrid_->GridModel()->SetMarkedRow(static_cast<int>(station_.Main.Value("Planer1")));
    }
  });
  // The crosshair is drawn over the preview, whoever ticks the box.
  b.OnChange("Markercheckbox", [this] { previewBox_->update(); });
}

void TPilotForm1::ShowPlanMenu(const QPoint& position) {
  // The menu acts on the row under the mouse.
  QModelIndex cell = planGrid_->indexAt(position);
  if (cell.isValid()) planGrid_->setCurrentIndex(cell);
  planMenu_->popup(planGrid_->viewport()->mapToGlobal(position));
}

void TPilotForm1::SetupButtonClick() {
  if (!setupForm_) return;
  SetupFormShow(station_);
  setupForm_->exec();
  RefreshMirroredSettings(station_);
}

void TPilotForm1::ExitButtonClicked() {
  logMemo_->CommitEdits();
  if (!ExitButtonClick(station_)) return;
  exitDone_ = true;
  close();
}

void TPilotForm1::closeEvent(QCloseEvent* event) {
  logMemo_->CommitEdits();
  if (exitDone_ || FormCloseQuery(station_)) {
    exitDone_ = true;
    if (isVisible() && !testAttribute(Qt::WA_DontShowOnScreen)) RememberSize();
    event->accept();
    emit Closed();
  } else {
    event->ignore();
  }
}

}  // namespace noctarbel::gui
