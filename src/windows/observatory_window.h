#pragma once
// The main window's observatory controls: short adapters over the observatory's operations
// (observatory_operations.h) that read the controls, ask the operator where the sequences
// are interactive, and show roof, rain and sensor states.

namespace noctarbel {

class Station;

void IOConnectButtonClick(Station& station);
void SimulationButtonClick(Station& station);
void DachAufButtonClick(Station& station);
void DachZuButtonClick(Station& station);
// Every 3 s: time fields, roof, rain, the rain emergency when it is due, the sensor, the
// alarm.
void StatusTimerTimer(Station& station);

}  // namespace noctarbel
