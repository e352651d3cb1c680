#pragma once
// The main window's controls with their captions, hints, ranges and start values.

#include <string>
#include <vector>

#include "windows/controls.h"

namespace noctarbel {

inline constexpr const char* kVersionText = "Noctarbel V. 1.212.1";

void DeclareMainWindowControls(Controls& main);
// The text of the read-only help memo, line by line.
std::vector<std::string> HelpMemoLines();

}  // namespace noctarbel
