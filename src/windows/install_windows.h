#pragma once
// Wires a new station up: every subsystem registers the handlers of its controls and timers.
// The desktop program, the command line and the tests call this once, before start-up.

namespace noctarbel {

class Station;

void InstallHandlers(Station& station);

}  // namespace noctarbel
