#include "automation/night_report.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "automation/night_timeline.h"
#include "automation/plan_file.h"
#include "automation/run_journal.h"
#include "common/html_text.h"
#include "common/number_text.h"
#include "common/text_file.h"
#include "imaging/display.h"
#include "imaging/picture_text.h"
#include "imaging/viewer.h"
#include "station/event_log.h"
#include "station/plan_columns.h"
#include "station/site_sky.h"
#include "station/station_state.h"

namespace noctarbel {

namespace {

constexpr int kThumbnailWidth = 240;
constexpr double kCurveStepDays = 5.0 / 1440.0;
constexpr double kMarginDays = 0.5 / 24.0;
constexpr const char* kRunStartLine = "---------- Autopilot Start";

// The charts' geometry: an SVG of width x height with a plot area inside margins.
constexpr double kChartWidth = 900;
constexpr double kPlotLeft = 50;
constexpr double kPlotRight = 880;

const char* OutcomeColour(RowOutcome outcome) {
  switch (outcome) {
    case RowOutcome::Done:
      return "#3a9a3a";
    case RowOutcome::Skipped:
      return "#888888";
    case RowOutcome::Problem:
      return "#d0a020";
    case RowOutcome::Stopped:
      return "#c03030";
  }
  return "#3a9a3a";
}

const char* const kTargetColours[] = {"#4e9be6", "#e6894e", "#9be64e", "#e64e9b", "#4ee6d8", "#d8e64e", "#b04ee6"};

std::string Base64(const std::vector<std::uint8_t>& bytes) {
  static const char* const kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::uint32_t a = bytes[i];
    const std::uint32_t b = i + 1 < bytes.size() ? bytes[i + 1] : 0;
    const std::uint32_t c = i + 2 < bytes.size() ? bytes[i + 2] : 0;
    const std::uint32_t triple = (a << 16) | (b << 8) | c;
    out += kDigits[(triple >> 18) & 63];
    out += kDigits[(triple >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(triple >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[triple & 63] : '=';
  }
  return out;
}

std::string Number(double value, int decimals) { return FormatFixed(value, decimals); }

std::string TimeOfDay(DateTime ut) {
  const std::string text = FormatDateTime(ut);
  return text.size() >= 16 ? text.substr(11, 5) : text;
}

// A string card's value: the text between the quotes, trailing blanks dropped.
std::string CardText(const FitsHeader& header, const char* key) {
  const int n = header.FindCard(key);
  if (n <= 0) return {};
  const std::string card(header.Card(n));
  const std::size_t open = card.find('\'');
  if (open == std::string::npos) return std::string(TrimBlanks(card.size() > 10 ? card.substr(10) : ""));
  const std::size_t close = card.find('\'', open + 1);
  return std::string(TrimBlanks(card.substr(open + 1, close == std::string::npos ? card.npos : close - open - 1)));
}

double XOf(const NightReport& report, DateTime ut) {
  const double span = std::max(report.To - report.From, 1e-6);
  return kPlotLeft + (kPlotRight - kPlotLeft) * std::clamp((ut - report.From) / span, 0.0, 1.0);
}

// Hour ticks along the bottom of a chart whose plot ends at `bottom`.
std::string HourAxis(const NightReport& report, double top, double bottom) {
  std::string svg;
  // Hours over a night, quarter hours over a short span.
  const double perDay = report.To - report.From >= 3.0 / 24.0 ? 24.0 : 96.0;
  for (double tick = std::ceil(report.From * perDay); tick / perDay <= report.To; tick += 1) {
    const double hour = tick * 24.0 / perDay;
    const double x = XOf(report, hour / 24.0);
    svg += "<line x1=\"" + Number(x, 1) + "\" y1=\"" + Number(top, 1) + "\" x2=\"" + Number(x, 1) + "\" y2=\"" +
           Number(bottom, 1) + "\" stroke=\"#333\"/>";
    svg += "<text x=\"" + Number(x, 1) + "\" y=\"" + Number(bottom + 14, 1) + "\" text-anchor=\"middle\">" +
           TimeOfDay(hour / 24.0) + "</text>";
  }
  return svg;
}

std::string TimelineSvg(const NightReport& report) {
  const double lane = 18;
  const double height = 30 + lane * static_cast<double>(report.Timeline.size()) + 20;
  std::string svg = "<svg id=\"timeline-chart\" class=\"chart\" viewBox=\"0 0 " + Number(kChartWidth, 0) + " " +
                    Number(height, 0) + "\" xmlns=\"http://www.w3.org/2000/svg\">";
  svg += HourAxis(report, 10, height - 20);
  double y = 14;
  for (const RowSpan& span : report.Timeline) {
    const double x1 = XOf(report, span.Start);
    const double x2 = std::max(XOf(report, span.End), x1 + 2);
    svg += "<rect class=\"row-span\" data-outcome=\"" + std::string(RowOutcomeName(span.Outcome)) + "\" x=\"" +
           Number(x1, 1) + "\" y=\"" + Number(y, 1) + "\" width=\"" + Number(x2 - x1, 1) + "\" height=\"" +
           Number(lane - 4, 1) + "\" fill=\"" + OutcomeColour(span.Outcome) + "\"><title>" +
           HtmlEscaped("row " + std::to_string(span.Row) + " " + span.Name + ": " + RowOutcomeName(span.Outcome) +
                  (span.Note.empty() ? "" : " (" + span.Note + ")")) +
           "</title></rect>";
    svg += "<text x=\"" + Number(std::min(x2 + 4, kPlotRight - 120), 1) + "\" y=\"" + Number(y + lane - 7, 1) + "\">" +
           HtmlEscaped(std::to_string(span.Row) + " " + span.Name) + "</text>";
    y += lane;
  }
  return svg + "</svg>";
}

std::string AltitudeSvg(const NightReport& report) {
  const double top = 10;
  const double bottom = 260;
  auto yOf = [&](double altitude) { return bottom - (bottom - top) * std::clamp(altitude, 0.0, 90.0) / 90.0; };
  std::string svg = "<svg id=\"altitude-chart\" class=\"chart\" viewBox=\"0 0 " + Number(kChartWidth, 0) +
                    " 290\" xmlns=\"http://www.w3.org/2000/svg\">";
  svg += HourAxis(report, top, bottom);
  for (int altitude = 0; altitude <= 90; altitude += 30) {
    svg += "<text x=\"" + Number(kPlotLeft - 6, 1) + "\" y=\"" + Number(yOf(altitude) + 4, 1) +
           "\" text-anchor=\"end\">" + std::to_string(altitude) + "\u00b0</text>";
  }
  std::size_t index = 0;
  for (const ReportTarget& target : report.Targets) {
    const char* colour = kTargetColours[index++ % std::size(kTargetColours)];
    std::string altitude;
    std::string horizon;
    for (const AltitudePoint& p : target.Curve) {
      altitude += Number(XOf(report, p.Ut), 1) + "," + Number(yOf(p.Altitude), 1) + " ";
      horizon += Number(XOf(report, p.Ut), 1) + "," + Number(yOf(p.Horizon), 1) + " ";
    }
    svg += "<polyline class=\"horizon\" points=\"" + horizon + "\" fill=\"none\" stroke=\"" + colour +
           "\" stroke-width=\"1\" stroke-dasharray=\"4 3\" opacity=\"0.6\"/>";
    svg += "<polyline class=\"altitude\" data-object=\"" + HtmlEscaped(target.Object) + "\" points=\"" + altitude +
           "\" fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"2\"><title>" +
           HtmlEscaped("row " + std::to_string(target.Row) + " " + target.Object) + "</title></polyline>";
    if (target.Transit) {
      const double x = XOf(report, *target.Transit);
      svg += "<line class=\"meridian\" x1=\"" + Number(x, 1) + "\" y1=\"" + Number(top, 1) + "\" x2=\"" +
             Number(x, 1) + "\" y2=\"" + Number(bottom, 1) + "\" stroke=\"" + colour +
             "\" stroke-dasharray=\"1 3\"><title>" + HtmlEscaped(target.Object + " on the meridian at " +
                                                             TimeOfDay(*target.Transit) + " UT") +
             "</title></line>";
    }
  }
  return svg + "</svg>";
}

std::string HfdSvg(const NightReport& report) {
  const double top = 10;
  const double bottom = 180;
  double most = 1;
  for (const ReportImage& image : report.Images) {
    if (image.Note.Hfd) most = std::max(most, *image.Note.Hfd);
  }
  most = std::ceil(most * 1.1);
  auto yOf = [&](double hfd) { return bottom - (bottom - top) * std::clamp(hfd / most, 0.0, 1.0); };
  std::string svg = "<svg id=\"hfd-chart\" class=\"chart\" viewBox=\"0 0 " + Number(kChartWidth, 0) +
                    " 210\" xmlns=\"http://www.w3.org/2000/svg\">";
  svg += HourAxis(report, top, bottom);
  svg += "<text x=\"" + Number(kPlotLeft - 6, 1) + "\" y=\"" + Number(top + 4, 1) + "\" text-anchor=\"end\">" +
         Number(most, 0) + "</text>";
  svg += "<text x=\"" + Number(kPlotLeft - 6, 1) + "\" y=\"" + Number(bottom + 4, 1) +
         "\" text-anchor=\"end\">0</text>";
  for (const ReportImage& image : report.Images) {
    if (!image.Note.Hfd) continue;
    svg += "<circle class=\"hfd-point\" cx=\"" + Number(XOf(report, image.Note.Ut), 1) + "\" cy=\"" +
           Number(yOf(*image.Note.Hfd), 1) + "\" r=\"4\" fill=\"#4e9be6\"><title>" +
           HtmlEscaped(TimeOfDay(image.Note.Ut) + " " + image.Note.Object + " " + image.Note.Filter + ": HFD " +
                  Number(*image.Note.Hfd, 2)) +
           "</title></circle>";
  }
  return svg + "</svg>";
}

std::string ImageFigure(const ReportImage& image) {
  const ImageNote& n = image.Note;
  const std::string name = std::filesystem::path(n.File).filename().string();
  std::string html = "<figure class=\"thumb\" data-file=\"" + HtmlEscaped(name) + "\">";
  if (!image.Thumbnail.empty()) {
    html += "<img alt=\"" + HtmlEscaped(name) + "\" src=\"data:image/jpeg;base64," + Base64(image.Thumbnail) + "\">";
  } else {
    html += "<div class=\"missing\">" + HtmlEscaped(image.Problem) + "</div>";
  }
  html += "<figcaption><b>" + HtmlEscaped(name) + "</b><br>" + TimeOfDay(n.Ut) + " UT, filter " +
          HtmlEscaped(n.Filter.empty() ? "-" : n.Filter) + ", " + Number(image.Exposure, 0) + " s<br>HFD " +
          (n.Hfd ? Number(*n.Hfd, 2) + (n.HfdProblem.empty() ? "" : " (" + HtmlEscaped(n.HfdProblem) + ")") : "-") +
          ", offset " + (n.Offset ? Number(n.Offset->X, 1) + "\" / " + Number(n.Offset->Y, 1) + "\"" : "-") +
          "</figcaption></figure>";
  return html;
}

std::string FaultsHtml(const NightReport& report) {
  std::string html = "<ul id=\"faults\">";
  bool any = false;
  for (const RowSpan& span : report.Timeline) {
    if (span.Outcome == RowOutcome::Done) continue;
    any = true;
    html += "<li class=\"row-fault\" data-outcome=\"" + std::string(RowOutcomeName(span.Outcome)) + "\">row " +
            std::to_string(span.Row) + " " + HtmlEscaped(span.Name) + ": " + RowOutcomeName(span.Outcome) +
            (span.Note.empty() ? "" : " - " + HtmlEscaped(span.Note)) + "</li>";
  }
  for (const std::string& line : FaultLines(report.Log)) {
    any = true;
    html += "<li class=\"log-fault\">" + HtmlEscaped(line) + "</li>";
  }
  if (!any) html += "<li>none</li>";
  return html + "</ul>";
}

std::optional<DateTime> ImageTime(const Timgbuffer& image) {
  if (auto ut = ParseIsoDateTime(image.ObservationDate)) return ut;
  std::string text = image.ObservationDate;
  std::replace(text.begin(), text.end(), 'T', ' ');
  if (text.size() > 19) text.resize(19);
  return ParseIsoDateTime(text);
}

std::vector<std::string> ReadLogLines(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  LineReader reader(file);
  if (!reader.IsOpen()) return lines;
  std::string line;
  while (reader.Next(line)) {
    if (line.rfind(kRunStartLine, 0) == 0) lines.clear();  // the last run's lines
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

void SetReportSpan(NightReport& report, DateTime fallback) {
  DateTime from = 0;
  DateTime to = 0;
  auto take = [&](DateTime ut) {
    if (ut <= 0) return;
    from = from == 0 ? ut : std::min(from, ut);
    to = std::max(to, ut);
  };
  for (const RowSpan& span : report.Timeline) {
    take(span.Start);
    take(span.End);
  }
  for (const ReportImage& image : report.Images) take(image.Note.Ut);
  if (from == 0) from = to = fallback;
  report.From = from - kMarginDays;
  report.To = std::max(to + kMarginDays, report.From + 2 * kMarginDays);
}

void AddReportTargets(StationState& station, const std::vector<RowCells>& rows, NightReport& report) {
  std::map<std::pair<long, long>, bool> seen;  // a target named by several rows is drawn once
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const RowCells& cells = rows[i];
    if (cells.size() <= static_cast<std::size_t>(kColObject)) continue;
    const auto position = ParseTargetPosition(cells);
    if (!position) continue;
    const auto key = std::make_pair(std::lround(position->RaHours * 3600), std::lround(position->DecDeg * 3600));
    if (seen[key]) continue;
    seen[key] = true;
    ReportTarget target;
    target.Row = static_cast<int>(i) + 1;
    target.Object = cells[kColObject];
    double best = -90;
    for (DateTime ut = report.From; ut <= report.To + 1e-9; ut += kCurveStepDays) {
      const HorizontalPosition here =
          StationEquatorialToHorizontal(station, position->RaHours * 15.0, position->DecDeg, ut);
      target.Curve.push_back({ut, here.Altitude, HorizonAltitude(station.Horizon, here.Azimuth)});
      if (here.Altitude > best) {
        best = here.Altitude;
        target.Transit = ut;
      }
    }
    // Highest at either end of the span: it does not cross the meridian within it.
    if (target.Transit && (*target.Transit - report.From < kCurveStepDays ||
                           report.To - *target.Transit < kCurveStepDays)) {
      target.Transit.reset();
    }
    report.Targets.push_back(std::move(target));
  }
}

void AddReportImage(StationState& station, const std::string& file, NightReport& report) {
  ReportImage entry;
  entry.Note.File = file;
  Timgbuffer image;
  if (!image.LoadFits(file)) {
    entry.Problem = image.LastError();
    report.Images.push_back(std::move(entry));
    return;
  }
  entry.Note.Ut = ImageTime(image).value_or(0);
  entry.Note.Filter = image.Filter;
  entry.Note.Object = CardText(image.Header(), "OBJECT");
  entry.Exposure = image.Exposure;
  const SettingsRecord& s = station.Settings;
  MeasureImageNote(image, s.ArcsecX, s.ArcsecY, s.CameraRotation, entry.Note);
  ImageViewer viewer;
  viewer.ShowPlanFrame(image, file);
  viewer.Render(ViewerLook{});
  Bitmap8 grey = viewer.Rendered();
  IndicesToGrey(grey, viewer.RenderedPaletteEntries());
  const Bitmap8 small = ReduceToWidth(grey, kThumbnailWidth);
  std::string error;
  if (!EncodeGreyJpeg(small.Pixels.data(), small.Width, small.Height, small.Stride, kDefaultJpegQuality,
                      entry.Thumbnail, &error)) {
    entry.Thumbnail.clear();
    entry.Problem = error;
  }
  report.Images.push_back(std::move(entry));
}

std::vector<std::string> FaultLines(const std::vector<std::string>& log) {
  std::vector<std::string> faults;
  for (const std::string& line : log) {
    const std::string lower = ToLowerAscii(line);
    for (const char* word : {"error", "emergency", "alarm", "cannot", "failed", "not visible", "row skipped"}) {
      if (lower.find(word) != std::string::npos) {
        faults.push_back(line);
        break;
      }
    }
  }
  return faults;
}

std::string NightReportHtml(const NightReport& report) {
  const std::string title = report.Forecast ? "Forecast of the night" : "The night";
  const std::string day = report.From > 0 ? FormatDateTime(report.From + kMarginDays).substr(0, 10) : "";
  std::size_t done = 0;
  for (const RowSpan& span : report.Timeline) done += span.Outcome == RowOutcome::Done ? 1 : 0;
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
      HtmlEscaped(title + " " + day) +
      "</title>\n<style>\n"
      "body{margin:0;padding:12px;font:15px/1.4 system-ui,sans-serif;background:#111;color:#ddd}\n"
      "h1{font-size:20px;margin:0 0 4px}h2{font-size:15px;text-transform:uppercase;color:#999;margin:18px 0 6px}\n"
      ".chart{width:100%;height:auto;background:#181818;font:11px sans-serif;fill:#aaa}\n"
      ".chart text{fill:#aaa}\n#images{display:grid;grid-template-columns:repeat(auto-fill,minmax(200px,1fr));gap:8px}\n"
      "figure{margin:0;background:#1a1a1a;border:1px solid #2c2c2c;padding:6px}figure img{width:100%;display:block}\n"
      "figcaption{font-size:12px;margin-top:4px}pre{white-space:pre-wrap;font:12px/1.3 monospace;"
      "background:#181818;padding:8px}\n.missing{color:#c66;font-size:12px}\n"
      ".legend span{display:inline-block;margin-right:12px}\n</style>\n</head>\n<body>\n";
  html += "<h1>" + HtmlEscaped(title) + (day.empty() ? "" : " of " + day) + "</h1>\n";
  html += "<p id=\"summary\">" + (report.Folder.empty() ? std::string() : HtmlEscaped(report.Folder) + "<br>") +
          std::to_string(report.Timeline.size()) + " rows (" + std::to_string(done) + " done), " +
          std::to_string(report.Images.size()) + " images" +
          (report.From > 0 ? ", " + TimeOfDay(report.From + kMarginDays) + " to " +
                                 TimeOfDay(report.To - kMarginDays) + " UT"
                           : "") +
          "</p>\n";
  html += "<h2>Time line</h2>\n" + TimelineSvg(report) + "\n<p class=\"legend\">";
  for (RowOutcome o : {RowOutcome::Done, RowOutcome::Skipped, RowOutcome::Problem, RowOutcome::Stopped}) {
    html += "<span style=\"color:" + std::string(OutcomeColour(o)) + "\">&#9632; " + RowOutcomeName(o) + "</span>";
  }
  html += "</p>\n<h2>Altitude of the targets</h2>\n" + AltitudeSvg(report) +
          "\n<p class=\"legend\">Solid: the target's altitude; dashed: the local horizon in its direction; "
          "dotted: on the meridian.</p>\n";
  html += "<h2>Images</h2>\n<div id=\"images\">";
  for (const ReportImage& image : report.Images) html += ImageFigure(image);
  if (report.Images.empty()) html += "<p>none</p>";
  html += "</div>\n<h2>HFD through the night</h2>\n" + HfdSvg(report) + "\n";
  html += "<h2>Faults and skipped rows</h2>\n" + FaultsHtml(report) + "\n";
  html += "<h2>Log</h2>\n<pre id=\"log\">";
  for (const std::string& line : report.Log) html += HtmlEscaped(line) + "\n";
  html += "</pre>\n</body>\n</html>\n";
  return html;
}

bool WriteNightReport(const NightReport& report, const std::filesystem::path& file, std::string* error) {
  return WriteFileAtomically(file, NightReportHtml(report), error);
}

std::optional<NightReport> ReadNightFolder(StationState& station, const std::filesystem::path& folder,
                                           std::string* error) {
  std::error_code code;
  if (!std::filesystem::is_directory(folder, code)) {
    if (error) *error = folder.string() + " is not a folder";
    return std::nullopt;
  }
  NightReport report;
  report.Folder = folder.string();
  report.Log = ReadLogLines(folder / kLogFileName);
  const std::optional<JournalNight> night = ReadRunJournal(folder);
  if (!night && report.Log.empty()) {
    if (error) *error = folder.string() + " holds no night (neither " + kLogFileName + " nor " + kRunJournalFileName + ")";
    return std::nullopt;
  }
  std::vector<std::string> files;
  if (night) {
    report.Timeline = night->Spans;
    files = night->Files;
  } else {
    for (const auto& entry : std::filesystem::directory_iterator(folder, code)) {
      const std::string name = entry.path().filename().string();
      if (entry.path().extension() == ".fit" && name.find("_stack") == std::string::npos) {
        files.push_back(entry.path().string());
      }
    }
    std::sort(files.begin(), files.end());
  }
  for (const std::string& file : files) {
    // The journal names files where they were written; a folder moved since has them here.
    const std::filesystem::path here = folder / std::filesystem::path(file).filename();
    AddReportImage(station, std::filesystem::exists(file, code) ? file : here.string(), report);
  }
  SetReportSpan(report, night ? night->StartUt : 0);
  if (night && !night->PlanPath.empty()) {
    const PlanFileContent plan = ReadPlanFile(night->PlanPath);
    std::vector<RowCells> rows;
    for (const PlanRow& cells : plan.rows) {
      RowCells row = {""};
      row.insert(row.end(), cells.begin(), cells.end());
      rows.push_back(std::move(row));
    }
    AddReportTargets(station, rows, report);
  }
  return report;
}

bool WriteRunReport(StationState& station, const std::filesystem::path& folder, std::size_t firstLine,
                    std::string* error) {
  std::optional<NightReport> report = ReadNightFolder(station, folder, error);
  if (!report) {
    report = NightReport{};
    report->Folder = folder.string();
    report->Timeline = station.Run.Timeline;
    SetReportSpan(*report, station.Clock.UtcNow());
  }
  if (report->Timeline.empty() && !station.Run.Timeline.empty()) {
    report->Timeline = station.Run.Timeline;
    SetReportSpan(*report, station.Clock.UtcNow());
  }
  if (report->Log.empty()) {
    const auto& lines = station.Log.Lines();
    for (std::size_t i = firstLine; i < lines.size(); ++i) report->Log.push_back(lines[i]);
  }
  return WriteNightReport(*report, folder / kNightReportFileName, error);
}

NightReport ForecastReport(StationState& station, std::size_t firstLine) {
  NightReport report;
  report.Forecast = true;
  report.Timeline = station.Run.Timeline;
  const auto& lines = station.Log.Lines();
  for (std::size_t i = firstLine; i < lines.size(); ++i) report.Log.push_back(lines[i]);
  SetReportSpan(report, station.Clock.UtcNow());
  std::vector<RowCells> rows;
  for (int row = 1; row < station.Planer1.RowCount(); ++row) rows.push_back(CellsOfRow(station.Planer1, row));
  AddReportTargets(station, rows, report);
  return report;
}

}  // namespace noctarbel
