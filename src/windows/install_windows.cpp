#include "windows/install_windows.h"

#include "windows/astro_window.h"
#include "windows/calibrate_window.h"
#include "windows/main_window.h"
#include "windows/setup_window.h"
#include "windows/station.h"
#include "windows/plan_window.h"
#include "windows/rehearsal.h"
#include "windows/plan_table_window.h"
#include "windows/device_windows.h"

namespace noctarbel {

void InstallHandlers(Station& station) {
  InstallMainWindowHandlers(station);
  InstallAstroHandlers(station);
  InstallSetupFormButtonHandlers(station);
  InstallPlanTableHandlers(station);
  InstallDeviceHandlers(station);
  InstallPlanRunHandlers(station);
  InstallRehearsalHandlers(station);
  InstallCalibrateFormHandlers(station);
}

}  // namespace noctarbel
