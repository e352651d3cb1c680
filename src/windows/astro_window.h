#pragma once
// The main window's astronomy: "Find", "insert RA/DEC", "Paste" and the N/S sign box.

#include <filesystem>
#include <string>

#include "station/site_sky.h"

namespace noctarbel {

class Station;

// Registers Find, insert RA/DEC, Paste and the declination sign rules with the main window.
void InstallAstroHandlers(Station& station);

void KatalogButtonClick(Station& station);
void ObjektBtnClick(Station& station);
void PasteposBtnClick(Station& station);
void NSboxChange(Station& station);
void DECdegEditChange(Station& station);

// The declination the spin fields and NSbox stand for (what goto sends).
double MainWindowDeclination(const Station& station);

}  // namespace noctarbel
