#include "automation/plan_table.h"

#include <string>

#include "app/station.h"

namespace noctarbel {

void RenumberPlanRows(StringGrid& grid) {
  for (int row = 1; row < grid.RowCount(); ++row) grid.SetCell(0, row, std::to_string(row));
}

void AddRowBtnClick(Station& station) { station.Planer1.SetRowCount(station.Planer1.RowCount() + 1); }

void ClearBtnClick(Station& station) {
  StringGrid& grid = station.Planer1;
  grid.Batch([&] {
    for (int row = 1; row < grid.RowCount(); ++row) grid.ClearRow(row);
    grid.SetRowCount(2);
  });
}

void Zeileloeschen1Click(Station& station) {
  StringGrid& grid = station.Planer1;
  int row = grid.CurrentRow();
  if (row < 1 || row >= grid.RowCount()) return;
  grid.Batch([&] {
    grid.ClearRow(row);
    if (grid.RowCount() > 2) {
      grid.RemoveRow(row);
      RenumberPlanRows(grid);
    }
  });
}

void Zeileeinfuegen1Click(Station& station) {
  StringGrid& grid = station.Planer1;
  int row = grid.CurrentRow();
  if (row < 1 || row >= grid.RowCount()) return;
  grid.Batch([&] {
    grid.InsertRow(row);
    RenumberPlanRows(grid);
  });
}

}  // namespace noctarbel
