#pragma once
// The focusing windows and buttons: the autofocus calibration window "AutofocusForm" (the
// V-curve table, and the fitted lines with their picture), the main window's autofocus
// button, its focus loop ("Focus start" / "Focus stop"), the external focus application's
// slot, and the settings dialog's "Calibrate Autofocus". Adapters over AutofocusOperations.

namespace noctarbel {

class Controls;
class Station;

inline constexpr const char* kAutofocusForm = "AutofocusForm";

void DeclareAutofocusFormControls(Controls& form);
void InstallFocusWindows(Station& station);

void AutofocusFormShow(Station& station);
void AutofocusSetButtonClick(Station& station);
void AutofocusStartButtonClick(Station& station);
// "Fit lines": both flanks scanned, a line fitted to each, stored on the operator's yes.
void AutofocusFitButtonClick(Station& station);
void AutofocusButtonClick(Station& station);
void FocusButtonClick(Station& station);
void CalibrateAutofocusClick(Station& station);

}  // namespace noctarbel
