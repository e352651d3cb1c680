#include "imaging/calibration.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/number_text.h"
#include "imaging/calibration_pixels.h"
#include "imaging/hot_pixel_filter.h"

namespace noctarbel {

namespace {

// Rows worked on together when the dark and the flat follow each other without the hot-pixel
// filter between: the image rows are still in the cache when the flat comes.
constexpr int kRowBlock = 8;

const std::string kNoName;

bool HasIntegerPixels(const Timgbuffer& image) {
  switch (image.Type()) {
    case PixelType::Unset:
    case PixelType::Bits8:
    case PixelType::Bits16:
    case PixelType::Bits32:
      return image.HasPixels();
    default:
      return false;
  }
}

std::string SizeText(const Timgbuffer& image) {
  return std::to_string(image.Width()) + " x " + std::to_string(image.Height());
}

std::string BinningText(int index) {
  const std::string b = std::to_string(MasterBinning(index));
  return b + "x" + b;
}

// A sub-frame of the sensor: a zoom of 2 or more, or any zoom whose frame does not begin at
// the sensor's first pixel (a zoom of 1.2 is rounded to 1 but is still a cut-out).
bool IsSubFrame(const CalibrationRequest& request) {
  return request.Zoom >= 2 || request.SubFrameX != 0 || request.SubFrameY != 0;
}

// Where the image's first pixel lies in a master, when the master covers the image: the
// whole master of the image's size for a full frame, a cut at the sub-frame origin for a
// sub-frame. Never cropped or stretched otherwise.
std::optional<std::pair<int, int>> MasterOrigin(const Timgbuffer& master, const Timgbuffer& image,
                                                const CalibrationRequest& request) {
  if (!IsSubFrame(request)) {
    if (master.Width() != image.Width() || master.Height() != image.Height()) return std::nullopt;
    return std::pair{0, 0};
  }
  const std::int64_t right = std::int64_t{request.SubFrameX} + image.Width();
  const std::int64_t bottom = std::int64_t{request.SubFrameY} + image.Height();
  if (request.SubFrameX < 0 || request.SubFrameY < 0 || right > master.Width() || bottom > master.Height()) {
    return std::nullopt;
  }
  return std::pair{request.SubFrameX, request.SubFrameY};
}

std::string NotCovered(const std::string& what, const Timgbuffer& master, const Timgbuffer& image,
                       const CalibrationRequest& request) {
  std::string text = what + " is " + SizeText(master) + ", the image " + SizeText(image);
  if (IsSubFrame(request)) {
    text += " at " + std::to_string(request.SubFrameX) + "," + std::to_string(request.SubFrameY);
  }
  return text;
}

// A loaded master: false with a reason when the file cannot serve as one.
bool LoadMasterImage(Timgbuffer& image, const std::filesystem::path& file, std::string& reason) {
  if (!image.LoadFits(file.string())) {
    reason = file.string() + ": " + image.LastError();
    return false;
  }
  if (!HasIntegerPixels(image)) {
    reason = file.string() + ": colour images cannot be used";
    return false;
  }
  return true;
}

}  // namespace

int MasterBinningIndex(int binning) {
  switch (binning) {
    case 1:
      return 0;
    case 2:
      return 1;
    case 4:
      return 2;
    default:
      return -1;
  }
}

int MasterBinning(int index) { return 1 << index; }

namespace {

// Sums of a flat's pixels (read as ReadRowAsInt32 reads them) and their squares, and the
// largest pixel, in one pass.
struct FlatSums {
  __int128 sum = 0;
  __int128 squares = 0;
  std::int64_t maximum = std::numeric_limits<std::int64_t>::min();
};

// 16-bit words, in blocks whose sums stay within 64 bits; compiled for AVX2 and the x86-64
// baseline, chosen at load time.
template <typename T>
inline __attribute__((always_inline)) void AddWordSums(const T* p, size_t n, FlatSums& sums) {
  for (size_t start = 0; start < n; start += 65536) {
    const size_t stop = std::min(n, start + 65536);
    std::int64_t sum = 0;
    std::int64_t squares = 0;
    std::int32_t maximum = std::numeric_limits<std::int32_t>::min();
    for (size_t i = start; i < stop; ++i) {
      const std::int32_t v = p[i];
      const auto magnitude = static_cast<std::uint32_t>(v);
      sum += v;
      squares += magnitude * magnitude;  // v^2 < 2^32, also for negative v
      maximum = v > maximum ? v : maximum;
    }
    sums.sum += sum;
    sums.squares += squares;
    sums.maximum = std::max<std::int64_t>(sums.maximum, maximum);
  }
}

__attribute__((target_clones("avx2", "default"))) void AddUnsignedWordSums(const std::uint16_t* p, size_t n,
                                                                           FlatSums& sums) {
  AddWordSums(p, n, sums);
}

__attribute__((target_clones("avx2", "default"))) void AddSignedWordSums(const std::int16_t* p, size_t n,
                                                                         FlatSums& sums) {
  AddWordSums(p, n, sums);
}

FlatSums SumFlat(const Timgbuffer& flat) {
  FlatSums sums;
  const size_t n = static_cast<size_t>(flat.PixelCount());
  switch (flat.Type()) {
    case PixelType::Bits8:
      for (size_t i = 0; i < n; ++i) {
        const std::int64_t v = flat.PixelsAs<std::uint8_t>()[i];
        sums.sum += v;
        sums.squares += v * v;
        sums.maximum = std::max(sums.maximum, v);
      }
      break;
    case PixelType::Bits32:
      for (size_t i = 0; i < n; ++i) {
        const std::int64_t v = flat.PixelsAs<std::int32_t>()[i];
        sums.sum += v;
        sums.squares += static_cast<__int128>(v) * v;
        sums.maximum = std::max(sums.maximum, v);
      }
      break;
    default:
      if (flat.Unsigned) {
        AddUnsignedWordSums(flat.PixelsAs<std::uint16_t>(), n, sums);
      } else {
        AddSignedWordSums(flat.PixelsAs<std::int16_t>(), n, sums);
      }
      break;
  }
  return sums;
}

// The reference level as it has always been found: the mean, then the sum of squared
// deviations from it, both summed pixel by pixel in double precision (two passes).
std::int64_t ReferenceByTwoPasses(const Timgbuffer& flat) {
  const int width = flat.Width();
  const int height = flat.Height();
  const double n = static_cast<double>(flat.PixelCount());
  std::vector<std::int32_t> row(static_cast<size_t>(width));
  double sum = 0;
  for (int y = 0; y < height; ++y) {
    ReadRowAsInt32(flat, y, 0, width, row.data());
    for (std::int32_t p : row) sum += p;
  }
  const double mean = sum / n;
  double squares = 0;
  for (int y = 0; y < height; ++y) {
    ReadRowAsInt32(flat, y, 0, width, row.data());
    for (std::int32_t p : row) squares += (p - mean) * (p - mean);
  }
  const double deviation = std::sqrt(squares / (n - 1));
  return RoundHalfEven(mean + 1.5 * deviation);
}

// The same reference level from the one pass's exact sums, when that is certain to be it.
// The two passes sum in double precision: for 8- and 16-bit flats the sum of the pixels is
// exact (below 2^53), so the mean m is the same; the sum of squares then differs from the
// exact sum E of (p - m)^2 by at most (n + 3) u E (u = 2^-53: each term's rounding and the
// running sum's), and the division, root, product and sum by one rounding each. The value
// before rounding is bounded with twice these errors; when no half-integer lies within the
// bounds, it rounds to the same whole number. Otherwise (a flat whose level is a hair from a
// half-integer, or a 32-bit flat) nothing is returned.
std::optional<std::int64_t> ReferenceFromSums(const Timgbuffer& flat, const FlatSums& sums) {
  if (flat.Type() == PixelType::Bits32) return std::nullopt;
  using Wide = long double;
  const std::int64_t count = flat.PixelCount();
  const double mean = static_cast<double>(sums.sum) / static_cast<double>(count);
  // E = sum((p - K) - f)^2 with K the whole number nearest the mean and f = mean - K (exact).
  const auto k = static_cast<std::int64_t>(std::llround(mean));
  const double f = mean - static_cast<double>(k);
  const __int128 n = count;
  const __int128 shifted = sums.sum - n * k;
  const __int128 shiftedSquares = sums.squares - 2 * k * sums.sum + n * k * k;
  const Wide exact = static_cast<Wide>(shiftedSquares) - 2 * static_cast<Wide>(f) * static_cast<Wide>(shifted) +
                     static_cast<Wide>(count) * static_cast<Wide>(f) * static_cast<Wide>(f);
  constexpr Wide kUnit = 0x1p-53L;
  const Wide spread = 2 * (static_cast<Wide>(count) + 3) * kUnit;
  const Wide slack = 1e-6L;
  const Wide low = std::max<Wide>(0, exact * (1 - spread) - slack);
  const Wide high = exact * (1 + spread) + slack;
  auto level = [&](Wide squares, int direction) {
    const Wide step = 1 + direction * 4 * kUnit;
    const Wide variance = squares / static_cast<Wide>(count - 1) * step;
    const Wide deviation = std::sqrt(std::max<Wide>(variance, 0)) * step;
    const Wide value = static_cast<Wide>(mean) + Wide{1.5} * deviation * step;
    return value + direction * 4 * kUnit * std::fabs(value);
  };
  const Wide lowest = level(low, -1);
  const Wide highest = level(high, 1);
  const Wide nearest = std::floor(lowest + Wide{0.5});
  if (!(lowest > nearest - Wide{0.5} && highest < nearest + Wide{0.5})) return std::nullopt;
  return static_cast<std::int64_t>(nearest);
}

}  // namespace

std::optional<FlatGains> FlatGainsOf(const Timgbuffer& flat, std::string* reason) {
  auto fail = [reason](const std::string& why) -> std::optional<FlatGains> {
    if (reason) *reason = why;
    return std::nullopt;
  };
  if (!HasIntegerPixels(flat)) return fail("the flat has no integer pixels");
  if (flat.PixelCount() < 2) return fail("the flat has fewer than two pixels");
  const FlatSums sums = SumFlat(flat);
  FlatGains gains;
  const std::optional<std::int64_t> reference = ReferenceFromSums(flat, sums);
  gains.Reference = reference ? *reference : ReferenceByTwoPasses(flat);
  gains.Low = RoundHalfEven(0.2 * static_cast<double>(sums.maximum));
  if (gains.Reference <= 0 || gains.Low <= 0) {
    return fail("the flat is too dark (reference " + std::to_string(gains.Reference) + ")");
  }
  return gains;
}

ImageCalibration::ImageCalibration() = default;
ImageCalibration::~ImageCalibration() = default;

std::optional<MasterLoadError> ImageCalibration::LoadMaster(Master& slot, const char* kind, int binningIndex,
                                                            const std::string& name,
                                                            const std::filesystem::path& file) {
  if (name.empty()) {
    // A cleared name means no master: the one held before must not go on being subtracted.
    slot = {};
    return std::nullopt;
  }
  auto image = std::make_unique<Timgbuffer>();
  std::string reason;
  if (!LoadMasterImage(*image, file, reason)) {
    return MasterLoadError{std::string(kind) + " image (" + BinningText(binningIndex) + ") not found", reason};
  }
  slot = {std::move(image), name, {}, {}};
  return std::nullopt;
}

std::optional<MasterLoadError> ImageCalibration::LoadDark(int binningIndex, const std::string& name,
                                                          const std::filesystem::path& file) {
  return LoadMaster(darks_.at(static_cast<size_t>(binningIndex)), "dark", binningIndex, name, file);
}

std::optional<MasterLoadError> ImageCalibration::LoadBias(int binningIndex, const std::string& name,
                                                          const std::filesystem::path& file) {
  return LoadMaster(biases_.at(static_cast<size_t>(binningIndex)), "bias", binningIndex, name, file);
}

std::optional<MasterLoadError> ImageCalibration::LoadFlat(int flatId, const std::string& name,
                                                          const std::filesystem::path& file) {
  Master& slot = flats_.at(static_cast<size_t>(flatId - 1));
  slot = {};
  if (name.empty()) return std::nullopt;
  auto image = std::make_unique<Timgbuffer>();
  std::string reason;
  if (!LoadMasterImage(*image, file, reason)) return MasterLoadError{"flat image not found", reason};
  const std::optional<FlatGains> gains = FlatGainsOf(*image, &reason);
  if (!gains) return MasterLoadError{"flat image cannot be used", file.string() + ": " + reason};
  image->NormalizedFlat = true;
  std::vector<float> table = GainTable(*image, *gains);
  slot = {std::move(image), name, *gains, std::move(table)};
  return std::nullopt;
}

MasterNeeds ImageCalibration::MastersFor(const Timgbuffer& image, const CalibrationRequest& request) const {
  MasterNeeds needs;
  const int index = MasterBinningIndex(image.XBinning);
  // With "Optimize" an exposure of at most 0.1 s loses only the bias constant.
  const bool darkUsed = !Options.Optimize || image.Exposure > kMaxBiasOnlyExposure;
  if (Options.DarkSubtract && request.Dark && index >= 0 && darkUsed) {
    needs.Dark = index;
    if (Options.Optimize) needs.Bias = index;
  }
  const auto id = FlatIdFor(request.FilterNumber, image.XBinning);
  if (Options.FlatCorrection && request.Flat && id && *id >= 1 && *id <= kFlatIdCount) needs.Flat = *id;
  return needs;
}

const Timgbuffer* ImageCalibration::Dark(int binningIndex) const {
  return darks_.at(static_cast<size_t>(binningIndex)).Image.get();
}

const Timgbuffer* ImageCalibration::Bias(int binningIndex) const {
  return biases_.at(static_cast<size_t>(binningIndex)).Image.get();
}

const Timgbuffer* ImageCalibration::Flat(int flatId) const {
  if (flatId < 1 || flatId > kFlatIdCount) return nullptr;
  return flats_[static_cast<size_t>(flatId - 1)].Image.get();
}

const std::string& ImageCalibration::DarkName(int binningIndex) const {
  return darks_.at(static_cast<size_t>(binningIndex)).Name;
}

std::optional<int> ImageCalibration::FlatIdFor(int filterNumber, int binning) const {
  const int column = MasterBinningIndex(binning);
  if (filterNumber < 1 || filterNumber > kFilterNumberCount || column < 0) return std::nullopt;
  const std::string& cell = Tables.FlatIds[static_cast<size_t>(filterNumber - 1)][static_cast<size_t>(column)];
  return ParseInt(TrimBlanks(cell));
}

const std::string& ImageCalibration::FlatNameOfFilter(int filterNumber) const {
  if (filterNumber < 1 || filterNumber > kFilterNumberCount) return kNoName;
  return flatNameOfFilter_[static_cast<size_t>(filterNumber - 1)];
}

std::optional<WorkingDark> ImageCalibration::PlanDark(const Timgbuffer& image, const CalibrationRequest& request,
                                                      CalibrationResult& result) const {
  const int index = MasterBinningIndex(image.XBinning);
  const Timgbuffer* dark = index >= 0 ? Dark(index) : nullptr;
  if (!dark) {
    result.Skipped.push_back("no dark for binning " + std::to_string(image.XBinning));
    return std::nullopt;
  }
  const auto origin = MasterOrigin(*dark, image, request);
  if (!origin) {
    result.Skipped.push_back(NotCovered("the dark " + BinningText(index), *dark, image, request));
    return std::nullopt;
  }
  result.History.DarkFile = DarkName(index);
  WorkingDark working;
  working.Dark = dark;
  std::tie(working.X0, working.Y0) = *origin;
  if (Options.Optimize) {
    const double ratio = image.Exposure / dark->Exposure;
    if (!std::isfinite(ratio)) {
      result.Skipped.push_back("the exposure times cannot be compared");
      return std::nullopt;
    }
    working.Scaled = ratio != 1.0;
    working.Ratio = ratio;
    working.HotPixelMax = Options.HotPixelMax;
    const Timgbuffer* bias = Bias(index);
    // A bias that does not cover the image is left out like a missing one: the bias
    // constant stands in for it.
    if (bias && MasterOrigin(*bias, image, request) == origin) {
      working.Bias = bias;
    } else {
      if (bias) result.Skipped.push_back(NotCovered("the bias " + BinningText(index), *bias, image, request));
      working.BiasOffset = static_cast<int>(
          std::clamp<std::int64_t>(RoundHalfEven((1.0 - ratio) * Options.BiasConstant), -65535, 65535));
    }
  }
  return working;
}

std::optional<FlatWindow> ImageCalibration::PlanFlat(const Timgbuffer& image, const CalibrationRequest& request,
                                                     CalibrationResult& result) {
  const auto id = FlatIdFor(request.FilterNumber, image.XBinning);
  if (id && *id >= 1 && *id <= kFlatIdCount) {
    const Master& master = flats_[static_cast<size_t>(*id - 1)];
    flatNameOfFilter_[static_cast<size_t>(request.FilterNumber - 1)] =
        master.Image ? master.Name : Tables.FlatFiles[static_cast<size_t>(*id - 1)];
  }
  if (!Options.FlatCorrection || !request.Flat) return std::nullopt;
  if (!id || *id == 0) {
    result.Skipped.push_back("no flat ID for filter " + std::to_string(request.FilterNumber) + " at binning " +
                             std::to_string(image.XBinning));
    return std::nullopt;
  }
  const Timgbuffer* flat = Flat(*id);
  if (!flat || !flat->NormalizedFlat) {
    result.Skipped.push_back("no master flat with flat ID " + std::to_string(*id));
    return std::nullopt;
  }
  const auto origin = MasterOrigin(*flat, image, request);
  if (!origin) {
    result.Skipped.push_back(NotCovered("the flat " + std::to_string(*id), *flat, image, request));
    return std::nullopt;
  }
  result.History.FlatFile = FlatNameOfFilter(request.FilterNumber);
  const Master& master = flats_[static_cast<size_t>(*id - 1)];
  return FlatWindow{flat, master.Gains, &master.GainTable, origin->first, origin->second};
}

std::optional<WorkingDark> ImageCalibration::DarkStep(Timgbuffer& image, const CalibrationRequest& request,
                                                      CalibrationResult& result) const {
  if (!Options.DarkSubtract || !request.Dark) return std::nullopt;
  const bool shortImage = image.Exposure <= kMaxBiasOnlyExposure;
  const int index = MasterBinningIndex(image.XBinning);
  const Timgbuffer* dark = index >= 0 ? Dark(index) : nullptr;
  if (!Options.Optimize || (!shortImage && dark && dark->Exposure > kMinScaledDarkExposure)) {
    auto working = PlanDark(image, request, result);
    result.Dark = working.has_value();
    return working;
  }
  if (shortImage) {
    // Too short for a dark to tell anything: only the bias level comes off.
    image.AddOffset(-Options.BiasConstant);
    result.BiasConstantForDark = true;
    result.Skipped.push_back("exposure of at most 0.1 s: the bias constant is subtracted instead of a dark");
  } else {
    result.Skipped.push_back(dark ? "the dark's exposure is at most 0.9 s" : "no dark for this binning");
  }
  return std::nullopt;
}

std::string CalibrationResult::MissedStepsText(bool darkAsked, bool flatAsked) const {
  const bool darkMissed = darkAsked && !Dark && !BiasConstantForDark;
  const bool flatMissed = flatAsked && !Flat;
  if (!darkMissed && !flatMissed) return {};
  std::string text = darkMissed && flatMissed ? "dark and flat" : darkMissed ? "dark" : "flat";
  text += " not done";
  for (size_t i = 0; i < Skipped.size(); ++i) text += (i == 0 ? ": " : "; ") + Skipped[i];
  return text;
}

CalibrationResult ImageCalibration::Calibrate(Timgbuffer& image, const CalibrationRequest& request) {
  CalibrationResult result;
  if (!HasIntegerPixels(image)) {
    result.Skipped.push_back("the image has no integer pixels");
    return result;
  }
  // A second subtraction or application does nothing but still counts as done.
  std::optional<WorkingDark> dark = DarkStep(image, request, result);
  if (image.DarkSubtracted) dark.reset();
  if (result.Dark) image.DarkSubtracted = true;

  std::optional<FlatWindow> flat;
  auto planFlat = [&] {
    flat = PlanFlat(image, request, result);
    result.Flat = flat.has_value();
    if (image.FlatApplied) flat.reset();
    if (result.Flat) image.FlatApplied = true;
  };
  const int height = image.Height();
  if (Options.HotPixelCorrection) {
    if (dark) SubtractDarkRows(image, *dark, 0, height);
    result.HotPixels = HotPixelFilter(image, Options.HotPixelSigma);
    planFlat();
    if (flat) ApplyFlatRows(image, *flat, 0, height);
  } else {
    planFlat();
    // Dark and flat one block of rows after the other, while the rows are in the cache.
    for (int y = 0; y < height && (dark || flat); y += kRowBlock) {
      const int end = std::min(y + kRowBlock, height);
      if (dark) SubtractDarkRows(image, *dark, y, end);
      if (flat) ApplyFlatRows(image, *flat, y, end);
    }
  }
  if (request.Rotate) {
    image.Rotate180();
    result.Rotate = true;
    result.History.Rotated = true;
  }
  if (!result.Dark) result.History.DarkFile.reset();
  if (!result.Flat) result.History.FlatFile.reset();
  if (dark || flat) image.ComputeMax();
  return result;
}

bool ImageCalibration::CalibrateImage(Timgbuffer& image, int filterNumber, int zoom, int subFrameX, int subFrameY,
                                      bool& dark, bool& flat, bool& rotate, CalibrationHistory* history) {
  CalibrationRequest request;
  request.FilterNumber = filterNumber;
  request.Zoom = zoom;
  request.SubFrameX = subFrameX;
  request.SubFrameY = subFrameY;
  request.Dark = dark;
  request.Flat = flat;
  request.Rotate = rotate;
  const CalibrationResult result = Calibrate(image, request);
  dark = result.Dark;
  flat = result.Flat;
  rotate = result.Rotate;
  if (history) *history = result.History;
  return result.Any();
}

}  // namespace noctarbel
