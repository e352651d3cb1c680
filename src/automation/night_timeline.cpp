#include "automation/night_timeline.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <filesystem>

#include "imaging/picture_text.h"
#include "imaging/png_codec.h"

namespace noctarbel {

namespace {

// Palette indices of the picture, drawn into an 8-bit bitmap and coloured at the end.
enum Ink : std::uint8_t { kPaper, kGrid, kText, kDone, kSkipped, kProblem, kStopped, kAxis, kInks };
constexpr std::array<std::array<std::uint8_t, 3>, kInks> kColours = {{
    {250, 250, 247},  // paper
    {222, 222, 222},  // hour lines
    {34, 34, 34},     // text
    {58, 160, 80},    // done
    {170, 170, 170},  // skipped
    {236, 150, 30},   // problem
    {205, 45, 45},    // stopped
    {110, 110, 110},  // axis
}};

constexpr int kMargin = 16;
constexpr int kLabelWidth = 260;
constexpr int kTitleHeight = 28;
constexpr int kAxisHeight = 22;
constexpr int kLane = 20;
constexpr int kBar = 12;
constexpr int kLegendHeight = 30;
constexpr int kTextHeight = 7;

Ink InkOf(RowOutcome outcome) {
  switch (outcome) {
    case RowOutcome::Done:
      return kDone;
    case RowOutcome::Skipped:
      return kSkipped;
    case RowOutcome::Problem:
      return kProblem;
    case RowOutcome::Stopped:
      return kStopped;
  }
  return kDone;
}

void Fill(Bitmap8& b, int x0, int y0, int x1, int y1, Ink ink) {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, b.Width);
  y1 = std::min(y1, b.Height);
  for (int y = y0; y < y1; ++y) {
    std::fill(b.Pixels.begin() + static_cast<std::ptrdiff_t>(y) * b.Stride + x0,
              b.Pixels.begin() + static_cast<std::ptrdiff_t>(y) * b.Stride + std::max(x0, x1), ink);
  }
}

std::string Two(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// Labels longer than the label column are cut.
std::string Fit(std::string text, int pixels, int letterHeight) {
  const int letters = pixels / (6 * std::max(1, letterHeight / 7));
  if (static_cast<int>(text.size()) > letters) text.resize(static_cast<size_t>(std::max(letters, 0)));
  return text;
}

}  // namespace

const char* RowOutcomeName(RowOutcome outcome) {
  switch (outcome) {
    case RowOutcome::Done:
      return "done";
    case RowOutcome::Skipped:
      return "skipped";
    case RowOutcome::Problem:
      return "problem";
    case RowOutcome::Stopped:
      return "stopped";
  }
  return "done";
}

std::optional<RowOutcome> RowOutcomeFromName(const std::string& name) {
  for (RowOutcome outcome : {RowOutcome::Done, RowOutcome::Skipped, RowOutcome::Problem, RowOutcome::Stopped}) {
    if (name == RowOutcomeName(outcome)) return outcome;
  }
  return std::nullopt;
}

Picture RenderNightTimeline(const std::vector<RowSpan>& rows, int width) {
  width = std::max(width, 600);
  const int lanes = std::max<int>(1, static_cast<int>(rows.size()));
  const int height = kMargin + kTitleHeight + kAxisHeight + lanes * kLane + kLegendHeight + kMargin;
  Bitmap8 b;
  b.Width = width;
  b.Height = height;
  b.Stride = width;
  b.Pixels.assign(static_cast<size_t>(width) * height, kPaper);

  // The time axis covers whole hours around the rows' work.
  DateTime first = rows.empty() ? 0 : rows.front().Start;
  DateTime last = first;
  for (const RowSpan& r : rows) {
    first = std::min(first, r.Start);
    last = std::max(last, std::max(r.Start, r.End));
  }
  const double firstHour = std::floor(first * 24.0);
  const double lastHour = std::max(firstHour + 1, std::ceil(last * 24.0));
  const int left = kMargin + kLabelWidth;
  const int right = width - kMargin;
  auto xOf = [&](DateTime t) {
    return left + static_cast<int>(std::lround((t * 24.0 - firstHour) / (lastHour - firstHour) * (right - left)));
  };

  const CivilDateTime day = DecodeDateTime(firstHour / 24.0);
  DrawText(b, kMargin, kMargin, 14,
           "Night of " + std::to_string(day.year) + "-" + Two(day.month) + "-" + Two(day.day) + " (UT)", kText);
  const int axisY = kMargin + kTitleHeight;
  const int lanesTop = axisY + kAxisHeight;
  const int lanesBottom = lanesTop + lanes * kLane;
  const int hours = static_cast<int>(lastHour - firstHour);
  const int labelEvery = hours > 16 ? 2 : 1;
  for (int h = 0; h <= hours; ++h) {
    const int x = xOf((firstHour + h) / 24.0);
    Fill(b, x, lanesTop - 4, x + 1, lanesBottom, h == 0 || h == hours ? kAxis : kGrid);
    if (h % labelEvery == 0) {
      const int hourOfDay = static_cast<int>(std::fmod(firstHour + h, 24.0));
      DrawText(b, x - 6, axisY, kTextHeight, Two(hourOfDay), kText);
    }
  }
  Fill(b, left, lanesBottom, right + 1, lanesBottom + 1, kAxis);

  for (size_t i = 0; i < rows.size(); ++i) {
    const RowSpan& r = rows[i];
    const int top = lanesTop + static_cast<int>(i) * kLane;
    DrawText(b, kMargin, top + (kLane - kTextHeight) / 2, kTextHeight,
             Fit(std::to_string(r.Row) + " " + r.Name, kLabelWidth - 8, kTextHeight), kText);
    const int x0 = xOf(r.Start);
    const int x1 = std::max(xOf(r.End), x0 + 3);  // a moment's row still shows
    Fill(b, x0, top + (kLane - kBar) / 2, x1, top + (kLane + kBar) / 2, InkOf(r.Outcome));
    // A meridian flip: a stroke across the bar where the mount changed sides.
    for (const DateTime flip : r.Flips) {
      const int xf = xOf(flip);
      Fill(b, xf - 1, top + 2, xf + 2, top + kLane - 2, kAxis);
    }
  }

  int x = left;
  const int legendY = lanesBottom + 12;
  for (RowOutcome o : {RowOutcome::Done, RowOutcome::Skipped, RowOutcome::Problem, RowOutcome::Stopped}) {
    Fill(b, x, legendY, x + 14, legendY + 10, InkOf(o));
    DrawText(b, x + 20, legendY + 2, kTextHeight, RowOutcomeName(o), kText);
    x += 110;
  }

  Picture picture;
  picture.Width = width;
  picture.Height = height;
  picture.Channels = 3;
  picture.Pixels.resize(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < b.Pixels.size(); ++i) {
    const auto& c = kColours[b.Pixels[i]];
    std::copy(c.begin(), c.end(), picture.Pixels.begin() + static_cast<std::ptrdiff_t>(i * 3));
  }
  return picture;
}

bool SaveNightTimeline(const std::vector<RowSpan>& rows, const std::string& file, std::string* error) {
  std::string extension = std::filesystem::path(file).extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const Picture picture = RenderNightTimeline(rows);
  std::vector<std::uint8_t> bytes;
  const bool jpeg = extension == ".jpg" || extension == ".jpeg";
  if (!(jpeg ? EncodeJpeg(picture, kDefaultJpegQuality, bytes, error) : EncodePng(picture, bytes, error))) return false;
  return WriteBinaryFile(file, bytes, error);
}

}  // namespace noctarbel
