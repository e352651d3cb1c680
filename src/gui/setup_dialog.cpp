#include "gui/setup_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>

#include "windows/setup_window.h"
#include "windows/station.h"
#include "gui/control_binding.h"
#include "gui/form_layout.h"
#include "gui/string_grid_view.h"

namespace noctarbel::gui {

namespace {

using Column = std::vector<Section>;

struct PageLayout {
  std::string page;
  std::vector<Column> columns;
};

const std::vector<PageLayout>& Pages() {
  static const std::vector<PageLayout> pages = {
      {"PageLocal",
       {{{"", {{"LaengeEdit"}, {"EastLongitudeLabel"}, {"BreiteEdit"}, {"HorizonFileEdit", "HorizonfileButton"}}},
         {"FitsHeaderGroup", {{"ObserverEdit"}, {"TelescopeNameEdit"}}}}}},
      {"PageTelescope",
       {{{"", {{"TelescopeEdit", "TelscopeSelectButton"}, {"ParkGroup"}, {"AzimuthNorthLabel"}}},
         {"HomeGroup", {{"HomeAzEdit"}, {"HomeAltEdit"}, {"HomePiersideBox"}}}},
        {{"Park1Group", {{"Park1AzimutEdit"}, {"Park1AltEdit"}, {"Park1PiersideBox"}}},
         {"Park2Group", {{"Park2AzimutEdit"}, {"Park2AltEdit"}, {"Park2Piersidebox"}}}},
        {{"GuidingGroup",
          {{"TrackingEdit1"},
           {"PulseguidingEdit"},
           {"RAguideinvertCheck"},
           {"DECguideInvertCheck"},
           {"PiersideInvertCheck"},
           {"OvercorrectionEdit"},
           {"guidetestBtn", "TestmoveEdit"}}},
         {"AutopilotGroup",
          {{"SYrangeEdit0"},
           {"MeridianFlipCheck"},
           {"MeridianFlipMinutesEdit"},
           {"MeridianFlipPauseEdit"},
           {"MeridianFlipCentreCheck"},
           {"MeridianFlipAutofocusCheck"},
           {"SimMountLimitEdit"}}}}}},
      {"PageCamera",
       {{{"",
          {{"ASCOMCameraEdit", "CameraChooserBtn"},
           {"ArcsecXEdit"},
           {"ArcsecYEdit"},
           {"CamReadtimeEdit"},
           {"CamTimeoutEdit"},
           {"CamPauseEdit"},
           {"CoolerTempEdit"},
           {"DSLRAutodarkCheckBox"}}}},
        {{"", {{"RotateGroup"}, {"CamModeGroup"}, {"CamCOMEdit"}, {"CameraRotationEdit"}, {"SyncbinningEdit"}}}},
        {{"",
          {{"HistogramMaxlevelEdit"},
           {"Raw2fitsCheckBox"},
           {"CamFlipCheckBox"},
           {"ImagepathEdit", "imagepathButton"},
           {"WebmonitorEdit"}}}}}},
      {"PageObservatory",
       {{{"", {{"ObservatoryControlCheck"}}},
         {"Roof control", {{"ComportEdit1"}}},
         {"Inner temperature/humidity", {{"comportEdit2"}}},
         {"", {{"RestartLabel"}, {"NoAscomObservatoryLabel"}}}}}},
      {"PageFocus",
       {{{"", {{"FocusEdit", "focusChoose"}, {"Focustable"}}}},
        {{"AutofocusGroup",
          {{"AFExptimeEdit"},
           {"AFsubframeSpinEdit"},
           {"AFbinningSpinEdit"},
           {"AFEdit"},
           {"HFDlowEdit"},
           {"LslopeEdit"},
           {"RslopeEdit"},
           {"LicEdit"},
           {"RicEdit"},
           {"AFrangeEdit"},
           {"CalibrateAutofocus"}}}}}},
      {"PageFilterwheel",
       {{{"",
          {{"FilterwheelEdit", "FilterwheelChooser", "FilterradClearBtn"},
           {"StandardfilterEdit"},
           {"DarkfilterEdit"},
           {"FilternamesGroup"}}}},
        {{"", {{"Filtertable"}, {"SaveFilterTableButton"}}}}}},
      {"PageSpectrum", {{{"", {{"SpectrumRAEdit"}, {"SpectrumFilterEdit"}, {"SpectrumMirrorGroup"}}}}}},
  };
  return pages;
}

bool HoldsGrid(const Controls& setup, const Section& section) {
  for (const Line& line : section.lines) {
    for (const auto& name : line) {
      if (setup.Has(name) && setup.Get(name).kind == ControlKind::Grid) return true;
    }
  }
  return false;
}

// A grid with its caption above it.
QWidget* CaptionedGrid(StringGridView* grid, const std::string& caption, QWidget* parent) {
  auto* box = new QWidget(parent);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new QLabel(QString::fromStdString(caption), box));
  grid->setParent(box);
  layout->addWidget(grid, 1);
  box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  return box;
}

}  // namespace

TSetupForm1::TSetupForm1(Station& station, QWidget* parent) : QDialog(parent), station_(station) {
  setObjectName(QStringLiteral("SetupForm1"));
  setWindowTitle(QStringLiteral("Noctarbel Setup"));
  setModal(true);
  binder_ = new ControlBinder(station_.Setup, this);
  FormBuilder builder(*binder_);
  builder_ = &builder;

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(MakePages(), 1);
  layout->addWidget(MakeButtonRow());
  builder.PlaceRemaining();
  builder_ = nullptr;

  ConnectHandlers();
  resize(980, 600);
}

QTabWidget* TSetupForm1::MakePages() {
  auto* tabs = new QTabWidget(this);
  binder_->Adopt("PageControl1", tabs);

  filterGrid_ = new StringGridView(station_.Filters.Filtertable, this);
  filterGrid_->SetColumnWidths({40, 160, 100});
  focusGrid_ = new StringGridView(station_.Focus.Focustable, this);
  focusGrid_->SetColumnWidths({40, 160, 110});
  for (auto* grid : {filterGrid_, focusGrid_}) grid->setMinimumSize(330, 200);
  binder_->Adopt("Filtertable", CaptionedGrid(filterGrid_, station_.Setup.Caption("Filtertable"), this));
  binder_->Adopt("Focustable", CaptionedGrid(focusGrid_, station_.Setup.Caption("Focustable"), this));
  // The grid widgets themselves carry the control names, their captioned frames none.
  binder_->Widget("Filtertable")->setObjectName({});
  binder_->Widget("Focustable")->setObjectName({});
  filterGrid_->setObjectName(QStringLiteral("Filtertable"));
  focusGrid_->setObjectName(QStringLiteral("Focustable"));

  for (const PageLayout& page : Pages()) {
    auto* scroll = new QScrollArea(tabs);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(scroll);
    auto* row = new QHBoxLayout(content);
    for (const Column& column : page.columns) {
      auto* stack = new QVBoxLayout();
      bool hasGrid = false;
      for (const Section& section : column) {
        bool grid = HoldsGrid(station_.Setup, section);
        stack->addWidget(builder_->MakeSection(content, section), grid ? 1 : 0);
        hasGrid = hasGrid || grid;
      }
      if (!hasGrid) stack->addStretch(1);
      row->addLayout(stack, 1);
      if (&column == &page.columns.front()) builder_->SetContainerLayout(page.page, stack, content);
    }
    scroll->setWidget(content);
    tabs->addTab(scroll, QString());
    binder_->Adopt(page.page, scroll);
  }
  return tabs;
}

QWidget* TSetupForm1::MakeButtonRow() {
  auto* bar = new QWidget(this);
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(0, 0, 0, 0);
  for (const char* name : {"OKButton", "CancelButton"}) row->addWidget(binder_->Create(name, bar));
  row->addSpacing(24);
  row->addWidget(binder_->Create("ProfileNameEdit", bar));
  row->insertWidget(row->count() - 1, binder_->Label("ProfileNameEdit", bar));
  QWidget* profiles = binder_->Create("ProfileComboBox", bar);
  profiles->setMinimumWidth(160);
  row->addWidget(binder_->Label("ProfileComboBox", bar));
  row->addWidget(profiles);
  for (const char* name : {"LoadConfigBtn", "SaveConfigBtn"}) row->addWidget(binder_->Create(name, bar));
  auto* ok = static_cast<QPushButton*>(binder_->Widget("OKButton"));
  ok->setDefault(true);
  return bar;
}

void TSetupForm1::ConnectHandlers() {
  ControlBinder& b = *binder_;
  Station& s = station_;
  b.OnClick("OKButton", [this] { OKButtonClick(); });
  b.OnClick("CancelButton", [this] { reject(); });
  b.SetActivator([&s](const std::string& name) { s.Activate("SetupForm1", name); });
}

void TSetupForm1::OKButtonClick() {
  if (SetupOKButtonClick(station_)) accept();
}

void TSetupForm1::reject() {
  SetupCancelButtonClick(station_);
  QDialog::reject();
}

}  // namespace noctarbel::gui
