#pragma once
// A dark look that keeps the operator's eyes adapted to the night sky.

class QApplication;

namespace noctarbel::gui {

void ApplyNightLook(QApplication& app);

}  // namespace noctarbel::gui
