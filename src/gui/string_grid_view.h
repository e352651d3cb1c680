#pragma once
// A table view of a StringGrid: row 0 of the grid is the header, column 0 (the row numbers)
// is shown but not editable. Cells are read from and written to the grid itself, and the
// grid's current cell follows the operator's selection (the table operations act on it).

#include <QAbstractTableModel>
#include <QTableView>

#include "station/string_grid.h"

namespace noctarbel::gui {

class StringGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  StringGridModel(StringGrid& grid, QObject* parent);
  ~StringGridModel() override;

  StringGrid& Grid() { return grid_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // A row (counted from 1 below the titles) drawn in its own colour, as the running row of a
  // run; 0 for none.
  void SetMarkedRow(int row);
  int MarkedRow() const { return markedRow_; }

 signals:
  // The grid changed shape or many cells at once.
  void GridReset();
  // The grid's current cell moved (the core selected another cell).
  void CurrentMoved();

 private:
  void GridChanged(int col, int row);

  StringGrid& grid_;
  int token_ = 0;
  int currentToken_ = 0;
  int markedRow_ = 0;
};

class StringGridView : public QTableView {
  Q_OBJECT

 public:
  StringGridView(StringGrid& grid, QWidget* parent);

  StringGridModel* GridModel() const { return model_; }
  // Column widths in pixels; a header text that needs more gets more.
  void SetColumnWidths(const std::vector<int>& widths);
  // Moves the view's current cell to the grid's (col, row); row counts from 1 below the titles.
  void ShowCurrentCell();

 private:
  StringGridModel* model_;
};

}  // namespace noctarbel::gui
