#pragma once
// The main window's observatory controls: short adapters over the observatory's operations
// (observatory_operations.h) that read the controls, ask the operator where the sequences
// are interactive, and show roof, rain and sensor states.

namespace noctarbel {

class Station;
struct ObservatoryTick;

void IOConnectButtonClick(Station& station);
void SimulationButtonClick(Station& station);
void DachAufButtonClick(Station& station);
void DachZuButtonClick(Station& station);
// One tick of the observatory's watch (the core's StatusTimer, every 3 s): roof, rain, the
// rain emergency when it is due, the sensor, the alarm.
void StatusTimerTimer(Station& station);
// What the watch read, in the main window: time fields, roof, rain, sensor.
void ShowObservatoryTick(Station& station, const ObservatoryTick& tick);

}  // namespace noctarbel
