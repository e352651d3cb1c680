#pragma once
// Editing the plan table Planer1: rows 1..n below the titles, column 0 numbering them.

namespace noctarbel {

class Station;
class StringGrid;

void RenumberPlanRows(StringGrid& grid);
// Registers the plan table's buttons and pop-up menu entries (and Load/Save table).
void InstallPlanTableHandlers(Station& station);

void AddRowBtnClick(Station& station);
void ClearBtnClick(Station& station);
// Pop-up menu "Delete line": the current row.
void Zeileloeschen1Click(Station& station);
// Pop-up menu "Insert line before this line".
void Zeileeinfuegen1Click(Station& station);

}  // namespace noctarbel
