#include "gui/calibrate_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "windows/calibrate_window.h"
#include "windows/station.h"
#include "gui/control_binding.h"
#include "gui/form_layout.h"
#include "gui/string_grid_view.h"

namespace noctarbel::gui {

namespace {

const Section& DarkSection() {
  static const Section section = {"Dark",
                                  {{"Darkcheckbox", "darkAdjustCheckBox"},
                                   {"DarkTimeLabel"},
                                   {"DarkframeTimeLabel"},
                                   {"OptimizeLimitsLabel"},
                                   {"darkfilenameEdit", "DarkfileBtn1"},
                                   {"darkfilenameEdit2", "DarkfileBtn2"},
                                   {"darkfilenameEdit4", "DarkfileBtn4"},
                                   {"BiasFilenameEdit1", "BiasfileBtn1"},
                                   {"BiasFilenameEdit2", "BiasfileBtn2"},
                                   {"BiasfilenameEdit4", "BiasfileBtn4"},
                                   {"hotpixelEdit"},
                                   {"BiasConstantEdit"},
                                   {"HotpixelCheckbox", "HotpixelSigmaEdit"}}};
  return section;
}

const Section& FlatSection() {
  static const Section section = {
      "Flat",
      {{"FlatCheckBox"}, {"StringGrid1"}, {"SetfileBtn"}, {"StringGrid2"}, {"FilterHintLabel"}, {"ClearButton"}}};
  return section;
}

const Section& ConfigSection() {
  static const Section section = {
      "", {{"cfgfileEdit", "ReadConfigBtn", "SaveBtn", "SaveAsBtn", "ReadFromBtn"}, {"OKbutton", "CancelButton"}}};
  return section;
}

void SetTitles(StringGrid& grid, const std::vector<const char*>& titles) {
  for (size_t col = 0; col < titles.size(); ++col) grid.SetCell(static_cast<int>(col), 0, titles[col]);
  for (int row = 1; row < grid.RowCount(); ++row) grid.SetCell(0, row, std::to_string(row));
}

}  // namespace

TCalibrateForm1::TCalibrateForm1(Station& station, QWidget* parent) : QDialog(parent), station_(station) {
  setObjectName(QString::fromLatin1(kCalibrateForm));
  setWindowTitle(QStringLiteral("Calibration"));
  setModal(true);
  Controls& store = station_.Form(kCalibrateForm);
  binder_ = new ControlBinder(store, this);
  binder_->SetActivator([this](const std::string& name) { Activate(name); });

  SetTitles(flats_, {"flat ID", "masterflat filename"});
  SetTitles(filters_, {"filter num", "flatID bin1", "flatID bin2", "flatID bin4"});
  MakeGrid(flatView_, flats_, "StringGrid1", {50, 300});
  MakeGrid(filterView_, filters_, "StringGrid2", {70, 80, 80, 80});

  FormBuilder builder(*binder_);
  auto* layout = new QVBoxLayout(this);
  auto* columns = new QHBoxLayout();
  auto* darkColumn = new QVBoxLayout();
  darkColumn->addWidget(builder.MakeSection(this, DarkSection()));
  darkColumn->addStretch(1);
  columns->addLayout(darkColumn, 1);
  columns->addWidget(builder.MakeSection(this, FlatSection()), 1);
  layout->addLayout(columns, 1);
  layout->addWidget(builder.MakeSection(this, ConfigSection()));
  builder.SetContainerLayout("", layout, this);
  builder.PlaceRemaining();
  for (const char* button :
       {"DarkfileBtn1", "DarkfileBtn2", "DarkfileBtn4", "BiasfileBtn1", "BiasfileBtn2", "BiasfileBtn4"}) {
    binder_->Widget(button)->setMaximumWidth(36);
  }
  flatView_->horizontalHeader()->setStretchLastSection(true);

  flatsToken_ = flats_.Subscribe([this](int col, int row) { TakeFlatCell(col, row); });
  filtersToken_ = filters_.Subscribe([this](int col, int row) { TakeFilterCell(col, row); });
  flats_.SetCurrent(1, store.IntValue("StringGrid1"));
  currentToken_ =
      flats_.SubscribeCurrent([this] { station_.Form(kCalibrateForm).SetValue("StringGrid1", flats_.CurrentRow()); });
  ShowTables();
  resize(980, 620);
}

TCalibrateForm1::~TCalibrateForm1() {
  flats_.Unsubscribe(flatsToken_);
  filters_.Unsubscribe(filtersToken_);
  flats_.UnsubscribeCurrent(currentToken_);
  // The views watch the grids, which go before the window's children do.
  delete flatView_;
  delete filterView_;
}

void TCalibrateForm1::MakeGrid(StringGridView*& view, StringGrid& grid, const char* name,
                               const std::vector<int>& widths) {
  view = new StringGridView(grid, this);
  view->SetColumnWidths(widths);
  view->setMinimumHeight(view->verticalHeader()->defaultSectionSize() * 10 + 8);
  binder_->Adopt(name, view);
}

void TCalibrateForm1::Activate(const std::string& control) {
  // The handlers may change the tables (reading a file, clearing, choosing a flat).
  if (station_.Activate(kCalibrateForm, control)) ShowTables();
}

void TCalibrateForm1::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  station_.Activate(kCalibrateForm, "FormShow");
  ShowTables();
}

void TCalibrateForm1::ShowTables() {
  const FlatTables& tables = station_.Calibration.Tables;
  showing_ = true;
  flats_.Batch([&] {
    for (int id = 1; id <= kFlatIdCount; ++id) flats_.SetCell(1, id, tables.FlatFiles[static_cast<size_t>(id - 1)]);
  });
  filters_.Batch([&] {
    for (int filter = 1; filter <= kFilterNumberCount; ++filter) {
      for (int col = 1; col <= kMasterBinnings; ++col) {
        filters_.SetCell(col, filter, tables.FlatIds[static_cast<size_t>(filter - 1)][static_cast<size_t>(col - 1)]);
      }
    }
  });
  showing_ = false;
}

void TCalibrateForm1::TakeFlatCell(int col, int row) {
  if (showing_ || col != 1 || row < 1 || row > kFlatIdCount) return;
  station_.Calibration.Tables.FlatFiles[static_cast<size_t>(row - 1)] = flats_.Cell(col, row);
}

void TCalibrateForm1::TakeFilterCell(int col, int row) {
  if (showing_ || col < 1 || col > kMasterBinnings || row < 1 || row > kFilterNumberCount) return;
  station_.Calibration.Tables.FlatIds[static_cast<size_t>(row - 1)][static_cast<size_t>(col - 1)] =
      filters_.Cell(col, row);
}

}  // namespace noctarbel::gui
