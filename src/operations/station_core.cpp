#include "operations/station_core.h"

namespace noctarbel {

StationCore::StationCore(Runtime& clock, StationPaths paths)
    : StationState(clock, std::move(paths)),
      Mount(*this, Observatory),
      Observatory(*this, Mount),
      Focuser(*this),
      FilterWheel(*this),
      Camera(*this, FilterWheel),
      Autofocus(*this, Camera, Focuser),
      Centring(*this, Camera, Mount),
      Guiding(*this, Mount, Centring) {}

StationCore::~StationCore() = default;

}  // namespace noctarbel
