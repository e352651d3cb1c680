#pragma once
// The meridian flip of a German equatorial mount during a row. A target east of the meridian
// is taken with the tube on the pier's west side; when it passes the meridian the tube would
// track on towards the pier, so the mount is sent to the same target again a set number of
// minutes past the meridian and takes it from the other side. When the flip is due, and how
// the log says so, is decided here for the real run and the test run alike; each of them does
// the flip its own way.

#include <optional>
#include <string>

#include "automation/plan_row.h"
#include "common/datetime.h"
#include "devices/device_states.h"

namespace noctarbel {

class StationState;
struct RowExposure;
struct SettingsRecord;

// The seconds one exposure of a row takes: its sub-exposures, each with the camera's
// read-out (the full-frame read-out time shortened by binning and zoom).
double ExposureSlotSeconds(const SettingsRecord& settings, const RowExposure& exposure);

class MeridianFlipWatch {
 public:
  explicit MeridianFlipWatch(StationState& station);

  // The row exposes at `ofDate` (right ascension and declination of the date) from `now`.
  // `side`: the pier side the mount reports; without one, a target east of the meridian
  // counts as taken from the west side. The watch is armed when flips are on and the tube is
  // on the side a flip leaves.
  void Start(const std::string& name, const TargetPosition& ofDate, DateTime now, std::optional<PierSide> side);
  bool Armed() const { return flipAt_.has_value(); }
  // An exposure of `seconds` starting at `now` would not end before the flip time: the flip
  // comes first.
  bool DueBefore(DateTime now, double seconds) const;
  // When the mount changes sides (UT): the flip time, and after it the pause.
  DateTime FlipTime() const { return flipAt_.value_or(0); }
  DateTime SlewTime() const;
  // The log line at the flip, without the time stamp: "Meridian flip: ...".
  std::string FlipLine() const;
  // The log line when the next image waits for the flip.
  std::string WaitLine(double seconds) const;
  // The flip was made (or given up): the row goes on without another.
  void Done() { flipAt_.reset(); }

 private:
  StationState& station_;
  std::string name_;
  DateTime transit_ = 0;
  std::optional<DateTime> flipAt_;
};

}  // namespace noctarbel
