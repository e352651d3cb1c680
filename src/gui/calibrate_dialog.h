#pragma once
// The calibration window CalibrateForm1 ("Calibration"): the store's controls laid out in a
// dark and a flat column, and the two tables shown and edited in grids. The tables belong to
// the station's calibration; the grids here show them and hand the operator's edits back.

#include <QDialog>

#include "station/string_grid.h"

namespace noctarbel {
class Station;
}

namespace noctarbel::gui {

class ControlBinder;
class StringGridView;

class TCalibrateForm1 : public QDialog {
  Q_OBJECT

 public:
  TCalibrateForm1(Station& station, QWidget* parent);
  ~TCalibrateForm1() override;

  StringGridView* FlatGrid() const { return flatView_; }
  StringGridView* FilterGrid() const { return filterView_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void MakeGrid(StringGridView*& view, StringGrid& grid, const char* name, const std::vector<int>& widths);
  void Activate(const std::string& control);
  // The station's tables into the grids, and an edited cell back.
  void ShowTables();
  void TakeFlatCell(int col, int row);
  void TakeFilterCell(int col, int row);

  Station& station_;
  ControlBinder* binder_;
  StringGrid flats_{2, 10};
  StringGrid filters_{4, 10};
  StringGridView* flatView_ = nullptr;
  StringGridView* filterView_ = nullptr;
  int flatsToken_ = 0;
  int filtersToken_ = 0;
  int currentToken_ = 0;
  bool showing_ = false;  // tables -> grids in progress: no edits to hand back
};

}  // namespace noctarbel::gui
