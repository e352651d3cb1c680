#include "automation/station_setup.h"

#include "app/astro_controls.h"
#include "app/calibrate_form.h"
#include "app/main_window.h"
#include "app/setup_form.h"
#include "app/station.h"
#include "automation/plan_run.h"
#include "automation/plan_table.h"
#include "devices/device_handlers.h"

namespace noctarbel {

void InstallHandlers(Station& station) {
  InstallMainWindowHandlers(station);
  InstallAstroHandlers(station);
  InstallSetupFormButtonHandlers(station);
  InstallPlanTableHandlers(station);
  InstallDeviceHandlers(station);
  InstallPlanRunHandlers(station);
  InstallCalibrateFormHandlers(station);
}

}  // namespace noctarbel
