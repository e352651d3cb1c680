#pragma once
// The night's rows on a time line (RunState::Timeline: when each row of a run or a test run
// did its work and how it ended) as a picture — one lane per row on a UT axis, coloured by
// outcome — that a person reads faster than the log.

#include <optional>
#include <string>
#include <vector>

#include "station/run_state.h"
#include "imaging/jpeg_codec.h"

namespace noctarbel {

const char* RowOutcomeName(RowOutcome outcome);
// The outcome a name of RowOutcomeName stands for.
std::optional<RowOutcome> RowOutcomeFromName(const std::string& name);

// The window that shows the last run's time line.
inline constexpr const char* kNightTimelineForm = "NightTimeline";

// The picture, `width` pixels wide (at least 600), RGB.
Picture RenderNightTimeline(const std::vector<RowSpan>& rows, int width = 1200);
// As a PNG file, or JPEG when the name ends in ".jpg" or ".jpeg" (replaced through a
// temporary file).
bool SaveNightTimeline(const std::vector<RowSpan>& rows, const std::string& file, std::string* error = nullptr);

}  // namespace noctarbel
