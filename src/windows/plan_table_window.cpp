#include "windows/plan_table_window.h"

#include <string>

#include "windows/station.h"
#include "automation/plan_file.h"
#include "common/text_file.h"

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

bool LoadPlanTable(Station& station, const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  PlanFileContent content = ReadPlanFile(path);
  if (!content.ok) {
    station.UiPort.ShowMessage("Table not loaded: " + content.error);
    return false;
  }
  StringGrid& grid = station.Planer1;
  bool overwrite = false;
  if (station.Run.PlanRunning) {
    if (!station.UiPort.Ask("Append table? ")) return false;
  } else if (PlanHasRows(grid)) {
    // Only a table with rows has anything to keep.
    overwrite = station.UiPort.Ask("Table overwrite (yes) or append (no)? ");
  } else {
    overwrite = true;
  }
  grid.Batch([&] {
    if (overwrite) {
      for (int row = 1; row < grid.RowCount(); ++row) grid.ClearRow(row);
      grid.SetRowCount(1);
    }
    for (auto& cells : content.rows) {
      int row = grid.RowCount();
      grid.SetRowCount(row + 1);
      grid.SetCell(0, row, std::to_string(row));
      for (int col = 1; col <= kPlanFileColumns; ++col) grid.SetCell(col, row, std::move(cells[col - 1]));
    }
    if (grid.RowCount() < 2) grid.SetRowCount(2);
  });
  return true;
}

bool SavePlanTable(Station& station, const std::filesystem::path& path) {
  std::string error;
  if (!SavePlanFile(station.Planer1, path, &error)) {
    station.UiPort.ShowMessage("Table not saved: " + error);
    return false;
  }
  return true;
}

void LoadButtonClick(Station& station) {
  FileDialogRequest request;
  request.title = "Load table";
  request.filter = kPlanFileFilter;
  request.initialFolder = station.Paths.Home.string();
  if (auto file = station.UiPort.ChooseFileToOpen(request)) LoadPlanTable(station, *file);
}

void SaveButtonClick(Station& station) {
  FileDialogRequest request;
  request.title = "Save table";
  request.filter = kPlanFileFilter;
  request.defaultExtension = "*.csv";
  request.confirmOverwrite = true;
  request.initialFolder = station.Paths.Home.string();
  if (auto file = station.UiPort.ChooseFileToSave(request)) SavePlanTable(station, *file);
}

}  // namespace noctarbel
