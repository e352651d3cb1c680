#pragma once
// The settings dialog (caption "Noctarbel Setup"): its controls, the settings shown in them,
// validation, the settings that take effect at once, OK/Cancel and named profiles (complete
// copies of the settings file saved as NAME.ssf in the station folder).

#include <optional>
#include <string>
#include <vector>

#include "windows/controls.h"
#include "station/settings.h"

namespace noctarbel {

class Station;

inline constexpr const char* kProfileExtension = ".ssf";

void DeclareSetupFormControls(Controls& setup);
// Makes the settings that take effect at once follow their controls.
void InstallSetupFormHandlers(Station& station);

// Dialog creation: settings file, filter and focus tables, profile list.
void SetupFormCreate(Station& station);
// Each showing: a profile saved earlier no longer counts for OK.
void SetupFormShow(Station& station);
// Reads the settings file into the record and shows every value in its control.
void LoadSettings(Station& station);
// Shows the record's values in the dialog's controls.
void ShowSettingsInForm(Station& station);
// Validation in the dialog's order; the first failure shows its message and returns false.
// Values before the failure are taken over.
bool ValidateSetupForm(Station& station);
// Takes the directly mirrored controls into the record and writes the settings file.
bool SaveSettings(Station& station);

// True when the dialog may close.
bool SetupOKButtonClick(Station& station);
void SetupCancelButtonClick(Station& station);

// Profiles.
std::vector<std::string> ListProfiles(const Station& station);
void FillProfileList(Station& station);
void SaveConfigBtnClick(Station& station);
void LoadConfigBtnClick(Station& station);
// A profile name must be a plain file name in the station folder.
bool IsValidProfileName(const std::string& name);

// Registers the dialog's button handlers (profiles, choosers, file buttons).
void InstallSetupFormButtonHandlers(Station& station);

// Choosers and file buttons.
void TelscopeSelectButtonClick(Station& station);
void CameraChooserBtnClick(Station& station);
void FocusChooseClick(Station& station);
void FilterwheelChooserClick(Station& station);
void FilterradClearBtnClick(Station& station);
void HorizonfileButtonClick(Station& station);
void ImagepathButtonClick(Station& station);
void SaveFilterTableButtonClick(Station& station);

}  // namespace noctarbel
