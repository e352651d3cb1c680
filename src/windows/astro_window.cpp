#include "windows/astro_window.h"

#include <algorithm>

#include "station/plan_columns.h"
#include "windows/station.h"
#include "astro/catalogue.h"
#include "astro/coordinate_text.h"
#include "astro/time.h"
#include "common/number_text.h"

namespace noctarbel {

namespace {

constexpr const char* kObjectNotFound = "Object not found";

void SelectHemisphere(Controls& main, bool south) {
  const auto& items = main.Items("NSbox");
  auto it = std::find(items.begin(), items.end(), south ? "S" : "N");
  if (it != items.end()) main.SetSelection("NSbox", static_cast<int>(it - items.begin()));
}

// A plan row the operator can edit (row 0 holds the titles).
bool IsPlanRow(const StringGrid& grid, int row) { return row >= 1 && row < grid.RowCount(); }

// Writes the six coordinate cells, columns 5 to 10.
void SetCoordinateCells(StringGrid& grid, int row, const std::array<std::string, 6>& cells) {
  grid.Batch([&] {
    for (int i = 0; i < 6; ++i) grid.SetCell(kColRaHour + i, row, cells[static_cast<size_t>(i)]);
  });
}

// The catalogue position of a name, or the message to show when there is none.
struct NamedPosition {
  bool Found = false;
  double Ra = 0;
  double Dec = 0;
  std::string Message;  // a file error, or empty for "not found"
};

NamedPosition LookUpName(const Station& station, const ObjectName& name) {
  CatalogueLookup lookup = LookupCatalogue(CatalogueFolder(station), name.Catalogue, name.Number);
  NamedPosition result;
  result.Found = lookup.Status == LookupStatus::Found;
  result.Ra = lookup.Ra;
  result.Dec = lookup.Dec;
  if (lookup.Status == LookupStatus::FileError) result.Message = lookup.Error;
  return result;
}

}  // namespace

void InstallAstroHandlers(Station& station) {
  station.SetHandler("PilotForm1", "KatalogButton", KatalogButtonClick);
  station.SetHandler("PilotForm1", "ObjektBtn", ObjektBtnClick);
  station.SetHandler("PilotForm1", "PasteposBtn", PasteposBtnClick);
  station.SetHandler("PilotForm1", "NSbox", NSboxChange);
  station.SetHandler("PilotForm1", "DECdegEdit", DECdegEditChange);
}

void KatalogButtonClick(Station& station) {
  Controls& main = station.Main;
  auto name = ParseObjectName(main.Text("CatEdit"));
  if (!name) return;
  NamedPosition position = LookUpName(station, *name);
  if (!position.Message.empty()) station.UiPort.ShowMessage(position.Message);
  if (!position.Found) return;
  const SexagesimalPosition p = DecomposePosition(position.Ra, position.Dec);
  main.SetValue("RAHourEdit", p.RaHours);
  main.SetValue("RAminEdit", p.RaMinutes);
  main.SetValue("RAsecEdit", p.RaSeconds);
  main.SetValue("DECdegEdit", p.DecDegrees);
  main.SetValue("DECminEdit", p.DecMinutes);
  main.SetValue("DECsecEdit", p.DecSeconds);
  SelectHemisphere(main, p.South);
}

void ObjektBtnClick(Station& station) {
  StringGrid& grid = station.Planer1;
  const int row = grid.CurrentRow();
  if (!IsPlanRow(grid, row)) return;
  auto name = ParseObjectName(TrimBlanks(grid.Cell(kColObject, row)));
  NamedPosition position;
  if (name) position = LookUpName(station, *name);
  if (!position.Found) {
    station.UiPort.ShowMessage(position.Message.empty() ? kObjectNotFound : position.Message);
    return;
  }
  const SexagesimalPosition p = DecomposePosition(position.Ra, position.Dec);
  grid.Batch([&] {
    SetCoordinateCells(grid, row,
                       {std::to_string(p.RaHours), std::to_string(p.RaMinutes), std::to_string(p.RaSeconds),
                        DeclinationDegreeCellText(p), std::to_string(p.DecMinutes), std::to_string(p.DecSeconds)});
    grid.SetCell(kColFilename, row, NormalisedObjectName(*name));
  });
}

void PasteposBtnClick(Station& station) {
  StringGrid& grid = station.Planer1;
  const int row = grid.CurrentRow();
  if (!IsPlanRow(grid, row)) return;
  PastedPosition pasted = ParsePastedPosition(station.UiPort.ClipboardText());
  SetCoordinateCells(grid, row, pasted.Cells);
  if (!pasted.Ok) station.UiPort.ShowMessage(std::string(kCoordinatesNotConverted) + pasted.Text);
}

void NSboxChange(Station& station) {
  Controls& main = station.Main;
  const std::string hemisphere = main.SelectedItem("NSbox");
  const int degrees = main.IntValue("DECdegEdit");
  if ((hemisphere == "N" && degrees < 0) || (hemisphere == "S" && degrees > 0)) main.SetValue("DECdegEdit", -degrees);
}

void DECdegEditChange(Station& station) {
  Controls& main = station.Main;
  const int degrees = main.IntValue("DECdegEdit");
  if (degrees != 0) SelectHemisphere(main, degrees < 0);
}

double MainWindowDeclination(const Station& station) {
  const Controls& main = station.Main;
  return DeclinationFromFields(main.IntValue("DECdegEdit"), main.IntValue("DECminEdit"), main.Value("DECsecEdit"),
                               main.SelectedItem("NSbox") == "S");
}

}  // namespace noctarbel
