#pragma once
// The guiding windows and buttons: the guiding test window "GuidingtestForm" (guide rates,
// the test move, the measured camera angle and its saving), the main window's button that
// opens it, the settings dialog's movement check ("Guiding test"), the main window's
// "Center" button and the image viewer's guide marker. Adapters over the guiding and
// centring operations.

#include <optional>

#include "guiding/star_offset.h"

namespace noctarbel {

class Controls;
class OperationContext;
class Station;

inline constexpr const char* kGuidingTestForm = "GuidingtestForm";

void DeclareGuidingTestFormControls(Controls& form);
void InstallGuidingWindows(Station& station);

void GuidingtestFormShow(Station& station);
void GuidingtestStartButtonClick(Station& station);
// The settings dialog's "Guiding test": the movement check.
void GuidetestBtnClick(Station& station);
void CenterbuttonClick(Station& station);

// One exposure exactly as the main window's exposure button takes it; the star offset it
// measured, nothing when it found no star.
std::optional<StarOffset> ExposeLikeTheExposeButton(Station& station, OperationContext& op);

}  // namespace noctarbel
