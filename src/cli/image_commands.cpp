#include <CLI/CLI.hpp>

#include <cmath>
#include <functional>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli/cli_context.h"
#include "cli/commands.h"
#include "common/number_text.h"
#include "imaging/star_measure.h"
#include "imaging/display.h"
#include "imaging/hot_pixel_filter.h"
#include "imaging/image_buffer.h"
#include "imaging/jpeg_codec.h"

namespace noctarbel::cli {

namespace {

// A result as JSON, or as "key: value" lines for a person (numbers with `formatNumber`).
void PrintResult(const nlohmann::ordered_json& result, bool asJson,
                 const std::function<std::string(double)>& formatNumber) {
  if (asJson) {
    std::cout << result.dump(2) << "\n";
    return;
  }
  for (const auto& [key, value] : result.items()) {
    std::string text = value.is_null()           ? "-"
                       : value.is_boolean()      ? (value.get<bool>() ? "yes" : "no")
                       : value.is_string()       ? value.get<std::string>()
                       : value.is_number_float() ? formatNumber(value.get<double>())
                                                 : value.dump();
    std::cout << key << ": " << text << "\n";
  }
}

struct ImageOptions {
  std::string file;
  std::string out;
  bool json = false;
  std::optional<int> hotPixelFactor;
  int radius = 100;
  bool autoLevels = false;
  std::optional<int> low;
  std::optional<int> high;
  double gamma = 1.0;
};

// Loads a FITS file; on failure says why on stderr and returns false.
bool LoadImage(CliContext& context, const std::string& file, Timgbuffer& image) {
  if (image.LoadFits(file)) return true;
  context.Fail("Cannot read " + file + ": " + image.LastError());
  return false;
}

bool RequirePixels(CliContext& context, const std::string& file, const Timgbuffer& image) {
  if (image.HasPixels()) return true;
  context.Fail(image.Planes >= 2 ? "Colour images are not supported: " + file
                                 : "No image in " + file + " (NAXIS = 0: a header only)");
  return false;
}

// Header cards may hold any byte in a foreign file; the terminal gets printable text only.
std::string PrintableCard(std::string_view card) {
  std::string text(card);
  for (char& c : text) {
    if (c < 0x20 || c > 0x7E) c = '?';
  }
  return text;
}

void RunHeader(CliContext& context, const ImageOptions& options) {
  Timgbuffer image;
  if (!LoadImage(context, options.file, image)) return;
  const int end = image.Header().EndCard();
  for (int n = 1; n <= end; ++n) std::cout << PrintableCard(image.Header().Card(n)) << "\n";
}

int HeaderBitpix(const Timgbuffer& image) {
  int n = image.Header().FindCard("BITPIX");
  if (n == 0) return 0;
  return ParseInt(TrimBlanks(image.Header().Card(n).substr(10, 20))).value_or(0);
}

void RunStats(CliContext& context, const ImageOptions& options) {
  Timgbuffer image;
  if (!LoadImage(context, options.file, image)) return;
  nlohmann::ordered_json stats;
  stats["width"] = image.Width();
  stats["height"] = image.Height();
  stats["bitpix"] = image.HasPixels() ? BitpixOf(image.Type()) : HeaderBitpix(image);
  stats["bzero"] = image.Bzero;
  stats["min"] = image.Minimum;
  stats["max"] = image.Maximum;
  stats["exposure"] = image.Exposure;
  stats["date_obs"] = image.ObservationDate;
  stats["filter"] = image.Filter;
  stats["filter_code"] = image.FilterCode;
  stats["camera_kind"] = image.CameraKind;
  PrintResult(stats, options.json, [](double v) { return FormatShortest(v); });
}

void RunCopy(CliContext& context, const ImageOptions& options) {
  Timgbuffer image;
  if (!LoadImage(context, options.file, image) || !RequirePixels(context, options.file, image)) return;
  const bool saved = image.SaveFits(options.out);
  for (const auto& note : image.LastSaveNotes()) context.Note(options.out + ": " + note);
  if (!saved) context.Fail(image.LastError());
}

void RunMeasure(CliContext& context, const ImageOptions& options) {
  if (options.radius < 1 || options.radius > kMaxHfdRadius) {
    return context.UsageError("--radius must be 1.." + std::to_string(kMaxHfdRadius));
  }
  Timgbuffer image;
  if (!LoadImage(context, options.file, image) || !RequirePixels(context, options.file, image)) return;
  if (options.hotPixelFactor && !HotPixelFilter(image, *options.hotPixelFactor)) {
    return context.Fail("The hot-pixel filter works on 16- and 32-bit images only");
  }
  const StarSearchResult star = FindBrightestStar(image);
  nlohmann::ordered_json result;
  result["found"] = star.Found;
  result["x"] = star.X;
  result["y"] = star.Y;
  result["background"] = star.Background;
  result["peak"] = star.Peak;
  result["minimum"] = star.Minimum;
  result["centroid_x"] = nullptr;
  result["centroid_y"] = nullptr;
  result["hfd"] = nullptr;
  result["hfd_problem"] = star.Found ? nullptr : nlohmann::ordered_json("no star");
  if (star.Found) {
    // The centroid window and the HFD rings reach R pixels around the star.
    image.ComputeMinMax();
    const int r = options.radius;
    int column = star.X;
    int row = star.Y;
    StarCentroid(image, star.X - r + 1, star.X + r, star.Y - r + 1, star.Y + r, image.Minimum, column, row);
    result["centroid_x"] = column;
    result["centroid_y"] = row;
    // The formula's value at 0 or below is no diameter: null, with the reason.
    const HfdReading reading = ReadHalfFluxDiameter(image, column, row, r);
    if (reading.Ok()) {
      result["hfd"] = reading.Hfd;
    } else {
      result["hfd_problem"] = reading.Problem;
    }
  }
  PrintResult(result, options.json, [](double v) { return FormatFixed(v, 2); });
}

void RunRender(CliContext& context, const ImageOptions& options) {
  if (!(options.gamma > 0 && options.gamma <= 10)) return context.UsageError("--gamma must be above 0 and at most 10");
  Timgbuffer image;
  if (!LoadImage(context, options.file, image) || !RequirePixels(context, options.file, image)) return;
  DisplayLevels levels;
  if (options.low && options.high) {
    levels = {*options.low, *options.high};
  } else {
    ViewerLevels automatic = ViewerAutomaticLevels(image, kDefaultHistogramMaxLevel, false);
    levels = {automatic.Low, automatic.High};
  }
  Bitmap8 bitmap;
  // The viewer's gamma value G shows pixels with the exponent 1 / G.
  RenderBitmap(image, levels.Low, levels.High, 1.0 / options.gamma, 256, bitmap);
  std::vector<std::uint8_t> jpeg;
  std::string error;
  if (!EncodeGreyJpeg(bitmap.Pixels.data(), bitmap.Width, bitmap.Height, bitmap.Stride, kDefaultJpegQuality, jpeg,
                      &error) ||
      !WriteBinaryFile(options.out, jpeg, &error)) {
    return context.Fail(error);
  }
  std::cout << options.out << ": " << bitmap.Width << " x " << bitmap.Height << ", levels " << levels.Low << ".."
            << levels.High << "\n";
}

}  // namespace

void RegisterImageCommands(CLI::App& app, CliContext& context) {
  auto options = std::make_shared<ImageOptions>();

  CLI::App* fits = app.add_subcommand("fits", "FITS image files");
  fits->require_subcommand(1);
  CLI::App* header = fits->add_subcommand("header", "Print the header cards as stored, up to END");
  header->add_option("FILE", options->file, "FITS file")->required();
  header->callback([&context, options] { RunHeader(context, *options); });

  CLI::App* stats = fits->add_subcommand("stats", "Size, pixel range and decoded header values");
  stats->add_option("FILE", options->file, "FITS file")->required();
  stats->add_flag("--json", options->json, "One JSON object");
  stats->callback([&context, options] { RunStats(context, *options); });

  CLI::App* copy = fits->add_subcommand("copy", "Load a FITS file and save it again");
  copy->add_option("IN", options->file, "FITS file to read")->required();
  copy->add_option("OUT", options->out, "FITS file to write")->required();
  copy->callback([&context, options] { RunCopy(context, *options); });

  CLI::App* measure = app.add_subcommand("measure", "Find the brightest star and measure it");
  measure->add_option("FILE", options->file, "FITS file")->required();
  measure->add_option("--hotpixel", options->hotPixelFactor, "Run the hot-pixel filter with factor K first")
      ->type_name("K");
  measure->add_option("--radius", options->radius, "Centroid window and HFD radius R around the star (default 100)")
      ->type_name("R");
  measure->add_flag("--json", options->json, "One JSON object");
  measure->callback([&context, options] { RunMeasure(context, *options); });

  CLI::App* render = app.add_subcommand("render", "Render a FITS image as a grey JPEG picture");
  render->add_option("FILE", options->file, "FITS file")->required();
  render->add_option("OUT", options->out, "JPEG file to write")->required();
  CLI::Option* automatic = render->add_flag("--auto", options->autoLevels, "Automatic levels (the default)");
  CLI::Option* low = render->add_option("--lo", options->low, "Black level (pixel value)")->type_name("L");
  CLI::Option* high = render->add_option("--hi", options->high, "White level (pixel value)")->type_name("H");
  low->needs(high);
  high->needs(low);
  automatic->excludes(low)->excludes(high);
  render->add_option("--gamma", options->gamma, "Gamma G: pixels are shown with the exponent 1/G (default 1)")
      ->type_name("G");
  render->callback([&context, options] { RunRender(context, *options); });
}

}  // namespace noctarbel::cli
