#pragma once
// Editing the plan table Planer1: rows 1..n below the titles, column 0 numbering them.

#include <filesystem>

namespace noctarbel {

class Station;
class StringGrid;

void RenumberPlanRows(StringGrid& grid);

// Loads into the station's plan table with the overwrite/append questions; while a run is in
// progress it only appends. False when nothing was loaded.
bool LoadPlanTable(Station& station, const std::filesystem::path& path);
bool SavePlanTable(Station& station, const std::filesystem::path& path);

// The "Load table" and "Save table" buttons: file dialog, then load or save.
void LoadButtonClick(Station& station);
void SaveButtonClick(Station& station);
// Registers the plan table's buttons and pop-up menu entries (and Load/Save table).
void InstallPlanTableHandlers(Station& station);

void AddRowBtnClick(Station& station);
void ClearBtnClick(Station& station);
// Pop-up menu "Delete line": the current row.
void Zeileloeschen1Click(Station& station);
// Pop-up menu "Insert line before this line".
void Zeileeinfuegen1Click(Station& station);

}  // namespace noctarbel
