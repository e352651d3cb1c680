#include "windows/plan_table_window.h"

#include <string>

#include "windows/station.h"
#include "automation/plan_file.h"

namespace noctarbel {

void RenumberPlanRows(StringGrid& grid) {
  for (int row = 1; row < grid.RowCount(); ++row) grid.SetCell(0, row, std::to_string(row));
}

void InstallPlanTableHandlers(Station& station) {
  auto on = [&station](const char* control, void (*handler)(Station&)) {
    station.SetHandler("PilotForm1", control, handler);
  };
  on("AddRowBtn", AddRowBtnClick);
  on("ClearBtn", ClearBtnClick);
  on("Zeileloeschen1", Zeileloeschen1Click);
  on("Zeileeinfuegen1", Zeileeinfuegen1Click);
  on("LoadButton", LoadButtonClick);
  on("SaveButton", SaveButtonClick);
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
