#pragma once
// The calibration window CalibrateForm1 ("Calibration"): the master dark, bias and flat file
// names, the table of master flats by flat ID (StringGrid1) and of flat IDs by filter and
// binning (StringGrid2), the dark scaling and hot-pixel values, and the configuration file
// "imgcalib.cfg" in the station folder. OK loads and prepares the masters.
//
// The tables themselves live in the station's calibration (station.Calibration.Tables), which
// reads them when it calibrates an image, as it reads the "Dark subtract", "Flat correction"
// and "Optimize" boxes and the hot pixel max the moment they change.

#include <filesystem>
#include <string>

#include "imaging/calibration_config.h"

namespace noctarbel {

class Controls;
class Station;

inline constexpr const char* kCalibrateForm = "CalibrateForm1";

// What OK ends with: the window stays open (a dark or bias is missing), closes with OK, or
// closes as if cancelled (a flat is missing or unusable).
enum class CalibrateFormClose { StayOpen, Ok, Cancel };

// The window's state for a run: whether it was last closed with OK.
struct CalibrateFormSession {
  bool ClosedWithOk = false;
};

void DeclareCalibrateFormControls(Controls& form);
// Declares the controls, makes the calibration follow the window's boxes, and registers the
// window's handlers and the main window's "Corrections" box.
void InstallCalibrateFormHandlers(Station& station);

// Reads the configuration when it was not read in this run, shows the window modally and
// tells whether it was closed with OK.
bool ShowCalibrateForm(Station& station, CalibrateFormSession& session);
// The main window's "Corrections" box: ticking it shows the window; not closed with OK, the
// box is unticked again.
void CalibrationCheckboxClick(Station& station, CalibrateFormSession& session);

CalibrateFormClose OKbuttonClick(Station& station);
void SaveBtnClick(Station& station);
void ReadConfigBtnClick(Station& station);
void SaveAsBtnClick(Station& station);
void ReadFromBtnClick(Station& station);
void ClearButtonClick(Station& station);
// Writes a chosen master flat's name into StringGrid1 at its current row.
void SetfileBtnClick(Station& station);

// The window's values as a configuration, and a configuration shown in the window.
CalibrationConfig ConfigFromWindow(Station& station);
void ShowConfigInWindow(Station& station, const CalibrationConfig& config);
// Reads a configuration file into the window; false (with "read error") when it cannot be
// read. A missing file is no error when `quietWhenMissing`.
bool ReadCalibrationConfiguration(Station& station, const std::filesystem::path& file, bool quietWhenMissing = false);
bool SaveCalibrationConfiguration(Station& station, const std::filesystem::path& file);
std::filesystem::path CalibrationConfigPath(const Station& station);

}  // namespace noctarbel
