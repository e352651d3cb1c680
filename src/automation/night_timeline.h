#pragma once
// The night's rows on a time line: when each row of a run or a test run did its work (after
// its start-time wait) and how it ended, and a picture of them — one lane per row on a UT
// axis, coloured by outcome — that a person reads faster than the log.

#include <string>
#include <vector>

#include "common/datetime.h"
#include "imaging/jpeg_codec.h"

namespace noctarbel {

enum class RowOutcome {
  Done,
  Skipped,  // below the horizon, or cells that do not convert
  Problem,  // the test run foresaw a problem (not visible at the end, a meridian flip)
  Stopped,  // the run stopped in this row (Stop, rain, a device error)
};
const char* RowOutcomeName(RowOutcome outcome);

struct RowSpan {
  int Row = 0;
  std::string Name;
  DateTime Start = 0;  // UT, after the row's start-time wait
  DateTime End = 0;
  RowOutcome Outcome = RowOutcome::Done;
};

// The picture, `width` pixels wide (at least 600), RGB.
Picture RenderNightTimeline(const std::vector<RowSpan>& rows, int width = 1200);
// As a PNG file, or JPEG when the name ends in ".jpg" or ".jpeg" (replaced through a
// temporary file).
bool SaveNightTimeline(const std::vector<RowSpan>& rows, const std::string& file, std::string* error = nullptr);

}  // namespace noctarbel
