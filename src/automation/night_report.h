#pragma once
// The night's report, night.html beside the log: one page that needs nothing else (the
// pictures are data URIs, the charts inline SVG) with the time line, each target's altitude
// through the night against the local horizon and the meridian, a thumbnail of every image
// with its time, filter, HFD and star offset, the HFD through the night, the faults and the
// skipped rows with why, and the log. After a test run the same page is the night's forecast.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "automation/plan_row.h"
#include "automation/run_status.h"
#include "station/run_state.h"

namespace noctarbel {

class StationState;

inline constexpr const char* kNightReportFileName = "night.html";

struct ReportImage {
  ImageNote Note;
  double Exposure = 0;
  std::vector<std::uint8_t> Thumbnail;  // JPEG; empty when the file could not be read
  std::string Problem;                  // why there is no thumbnail
};

struct AltitudePoint {
  DateTime Ut = 0;
  double Altitude = 0;  // the target's, degrees
  double Horizon = 0;   // the local horizon's at the target's azimuth
};

struct ReportTarget {
  int Row = 0;
  std::string Object;
  std::vector<AltitudePoint> Curve;
  std::optional<DateTime> Transit;  // on the meridian within the chart's span
};

struct NightReport {
  bool Forecast = false;
  std::string Folder;
  DateTime From = 0;  // the charts' span, UT
  DateTime To = 0;
  std::vector<RowSpan> Timeline;
  std::vector<ReportTarget> Targets;
  std::vector<ReportImage> Images;
  std::vector<std::string> Log;
};

// The span the charts cover: the rows' and images' times with half an hour either side.
void SetReportSpan(NightReport& report, DateTime fallback);
// The plan's rows that name a position (cells from column 1), their altitude over the span.
void AddReportTargets(StationState& station, const std::vector<RowCells>& rows, NightReport& report);
// An image file: its time, filter and object from the header, its star and a thumbnail.
void AddReportImage(StationState& station, const std::string& file, NightReport& report);
// The log lines that tell of something going wrong.
std::vector<std::string> FaultLines(const std::vector<std::string>& log);

std::string NightReportHtml(const NightReport& report);
bool WriteNightReport(const NightReport& report, const std::filesystem::path& file, std::string* error);

// A night's folder: its log (logfile.txt, from the last start of a run), its journal (the
// rows' spans, the images) and the images' headers; the plan the journal names gives the
// targets when it can still be read. Nothing, with the reason, when the folder holds no night.
std::optional<NightReport> ReadNightFolder(StationState& station, const std::filesystem::path& folder,
                                           std::string* error);

// After a run: night.html in its image folder, from the folder; the station's log lines
// from `firstLine` on when the folder has no log.
bool WriteRunReport(StationState& station, const std::filesystem::path& folder, std::size_t firstLine,
                    std::string* error);

// After a test run: the forecast from the station's time line and plan table, with the log
// lines from `firstLine` on.
NightReport ForecastReport(StationState& station, std::size_t firstLine);

}  // namespace noctarbel
