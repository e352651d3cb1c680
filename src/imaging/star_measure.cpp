#include "imaging/star_measure.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include "common/number_text.h"

namespace noctarbel {

namespace {

std::int64_t FloorDivide(std::int64_t numerator, std::int64_t divisor) {
  std::int64_t q = numerator / divisor;
  if ((numerator % divisor) < 0) --q;
  return q;
}

// Rows of an image as unsigned 16-bit values plus a bias (32768 for signed data, which keeps
// every sum non-negative). Rows that are not already in that form are converted into a small
// ring of buffers as the scan advances; a row is never needed more than five rows back.
class Rows16 {
 public:
  explicit Rows16(const Timgbuffer& image) : image_(image), width_(image.Width()) {
    const PixelType type = image.Type();
    if ((type == PixelType::Bits16 || type == PixelType::Unset) && image.Unsigned) {
      direct_ = image.PixelsAs<std::uint16_t>();
    } else {
      if (type != PixelType::Bits8) Bias = 32768;
      ring_.resize(static_cast<size_t>(kRing) * width_);
    }
  }
  static bool Handles(const Timgbuffer& image) {
    const PixelType type = image.Type();
    return type == PixelType::Bits8 || type == PixelType::Bits16 || type == PixelType::Unset;
  }

  const std::uint16_t* Row(int y) {
    if (direct_ != nullptr) return direct_ + static_cast<size_t>(y) * width_;
    std::uint16_t* slot = ring_.data() + static_cast<size_t>(y % kRing) * width_;
    if (converted_.size() < kRing) converted_.assign(kRing, -1);
    if (converted_[y % kRing] != y) {
      if (image_.Type() == PixelType::Bits8) {
        const std::uint8_t* in = image_.PixelsAs<std::uint8_t>() + static_cast<size_t>(y) * width_;
        for (int x = 0; x < width_; ++x) slot[x] = in[x];
      } else {
        const std::uint16_t* in = image_.PixelsAs<std::uint16_t>() + static_cast<size_t>(y) * width_;
        for (int x = 0; x < width_; ++x) slot[x] = static_cast<std::uint16_t>(in[x] ^ 0x8000u);
      }
      converted_[y % kRing] = y;
    }
    return slot;
  }

  std::int64_t Bias = 0;

 private:
  static constexpr int kRing = 8;
  const Timgbuffer& image_;
  int width_;
  const std::uint16_t* direct_ = nullptr;
  std::vector<std::uint16_t> ring_;
  std::vector<int> converted_;
};

// Rows of any image as 64-bit integers read like GetPixel.
class Rows64 {
 public:
  explicit Rows64(const Timgbuffer& image) : image_(image), width_(image.Width()) {
    ring_.resize(static_cast<size_t>(kRing) * width_);
    converted_.assign(kRing, -1);
  }
  const std::int64_t* Row(int y) {
    std::int64_t* slot = ring_.data() + static_cast<size_t>(y % kRing) * width_;
    if (converted_[y % kRing] != y) {
      for (int x = 0; x < width_; ++x) slot[x] = image_.GetPixel(x + 1, y + 1);
      converted_[y % kRing] = y;
    }
    return slot;
  }
  std::int64_t Bias = 0;

 private:
  static constexpr int kRing = 8;
  const Timgbuffer& image_;
  int width_;
  std::vector<std::int64_t> ring_;
  std::vector<int> converted_;
};

// floor((n + 4) / 9), the rounded 9-pixel mean (n / 9 is never exactly half-way). For the
// 16-bit scan 0 <= n < 2^20, and single precision decides it exactly: (n + 4.5) / 9 lies at
// least 1/18 away from every integer while the float error stays below 1/100. Signed integers
// convert to and from floats in one vector instruction, unsigned ones do not.
inline std::int32_t Mean9Of16(std::int32_t n) {
  return static_cast<std::int32_t>((static_cast<float>(n) + 4.5f) * (1.0f / 9.0f));
}

struct ScanState {
  std::int64_t best = 0;  // in the biased domain: best + bias
  int bestX = -1;         // 0-based
  int bestY = -1;
  std::int64_t total = 0;  // biased sum
  std::int64_t minimum = std::numeric_limits<std::int64_t>::max();
  std::int64_t scanned = 0;
};

// The inner loops of the 16-bit scan, compiled twice (AVX2 and baseline) and chosen at load
// time; both give the same integers.
#define NOCTARBEL_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))

struct RowSums {
  std::int64_t total = 0;
  std::int32_t minimum = std::numeric_limits<std::int32_t>::max();
  std::int32_t maximum = std::numeric_limits<std::int32_t>::min();
};

// Moves the five-row column sums one row down and writes the cross means of row r, with
// their sum, least and largest value.
NOCTARBEL_VECTOR_CLONES
RowSums CrossMeans16(std::int32_t* columns, const std::uint16_t* added, const std::uint16_t* removed,
                     const std::uint16_t* r, int x0, int x1, std::int32_t* means) {
  RowSums sums;
  // Blocks keep the running sum of 32-bit means from overflowing.
  for (int start = x0; start <= x1; start += 16384) {
    const int stop = std::min(x1, start + 16383);
    std::uint32_t blockTotal = 0;
    std::int32_t blockMin = std::numeric_limits<std::int32_t>::max();
    std::int32_t blockMax = std::numeric_limits<std::int32_t>::min();
    for (int x = start; x <= stop; ++x) {
      const std::int32_t column = columns[x] + added[x] - removed[x];
      columns[x] = column;
      const std::int32_t n = column + r[x - 2] + r[x - 1] + r[x + 1] + r[x + 2];
      const std::int32_t m = Mean9Of16(n);
      means[x] = m;
      blockTotal += static_cast<std::uint32_t>(m);
      blockMin = m < blockMin ? m : blockMin;
      blockMax = m > blockMax ? m : blockMax;
    }
    sums.total += blockTotal;
    sums.minimum = std::min(sums.minimum, blockMin);
    sums.maximum = std::max(sums.maximum, blockMax);
  }
  return sums;
}

// Any pixel type, 64-bit sums.
RowSums CrossMeans64(std::int64_t* columns, const std::int64_t* added, const std::int64_t* removed,
                     const std::int64_t* r, int x0, int x1, std::int32_t* means) {
  RowSums sums;
  for (int x = x0; x <= x1; ++x) {
    columns[x] += added[x] - removed[x];
    const auto m =
        static_cast<std::int32_t>(FloorDivide(columns[x] + r[x - 2] + r[x - 1] + r[x + 1] + r[x + 2] + 4, 9));
    means[x] = m;
    sums.total += m;
    sums.minimum = std::min(sums.minimum, m);
    sums.maximum = std::max(sums.maximum, m);
  }
  return sums;
}

// Scans rows 6..H-5 (1-based) for the cross means. Positions are visited row by row here, but
// the candidate rule is the column-major one: a larger mean wins; an equal mean wins only at a
// smaller column (then it is also the earlier position in column order).
template <typename Rows, typename Sum>
void ScanCrossMeans(const Timgbuffer& image, Rows& rows, ScanState& state) {
  const int width = image.Width();
  const int height = image.Height();
  const int x0 = 5, x1 = width - 6;  // 0-based scan columns
  const int y0 = 5, y1 = height - 6;
  const int mx0 = 10, mx1 = width - 12;  // 0-based candidate columns and rows
  const int my0 = 10, my1 = height - 12;
  const std::int64_t bias = rows.Bias;
  using Value = std::remove_cv_t<std::remove_pointer_t<decltype(rows.Row(0))>>;
  std::vector<Sum> columns(static_cast<size_t>(width), 0);
  std::vector<std::int32_t> means(static_cast<size_t>(width), 0);
  const std::vector<Value> zeros(static_cast<size_t>(width), 0);
  for (int j = y0 - 2; j <= y0 + 1; ++j) {
    const auto* r = rows.Row(j);
    for (int x = x0; x <= x1; ++x) columns[x] += r[x];
  }
  state.best = bias;
  for (int y = y0; y <= y1; ++y) {
    const Value* added = rows.Row(y + 2);
    const Value* removed = y > y0 ? rows.Row(y - 3) : zeros.data();
    const Value* r = rows.Row(y);
    RowSums sums;
    if constexpr (std::is_same_v<Sum, std::int32_t>) {
      sums = CrossMeans16(columns.data(), added, removed, r, x0, x1, means.data());
    } else {
      sums = CrossMeans64(columns.data(), added, removed, r, x0, x1, means.data());
    }
    state.total += sums.total;
    state.minimum = std::min<std::int64_t>(state.minimum, sums.minimum);
    state.scanned += x1 - x0 + 1;
    if (y < my0 || y > my1 || mx0 > mx1) continue;
    // The row's largest mean over all scanned columns bounds its candidates' means: a row
    // where none can win is passed over.
    if (sums.maximum < state.best || (sums.maximum == state.best && state.best == bias)) continue;
    for (int x = mx0; x <= mx1; ++x) {
      const std::int64_t m = means[x];
      const bool better = m > state.best || (m == state.best && state.best > bias && x < state.bestX);
      if (!better) continue;
      // A lone bright pixel with dark surroundings is no star: centre < 5 * mean8.
      const std::int64_t centre = static_cast<std::int64_t>(r[x]) - bias;
      const std::int64_t cross = static_cast<std::int64_t>(columns[x]) + r[x - 2] + r[x - 1] + r[x + 1] + r[x + 2] -
                                 static_cast<std::int64_t>(r[x]) - 8 * bias;
      if (centre < 5 * DivideRoundHalfEven(cross, 8)) {
        state.best = m;
        state.bestX = x;
        state.bestY = y;
      }
    }
  }
}

}  // namespace

StarSearchResult FindBrightestStar(const Timgbuffer& image) {
  StarSearchResult result;
  const int width = image.Width();
  const int height = image.Height();
  ScanState state;
  std::int64_t bias = 0;
  if (image.HasPixels() && width >= 11 && height >= 11) {
    if (Rows16::Handles(image)) {
      Rows16 rows(image);
      bias = rows.Bias;
      ScanCrossMeans<Rows16, std::int32_t>(image, rows, state);
    } else {
      Rows64 rows(image);
      ScanCrossMeans<Rows64, std::int64_t>(image, rows, state);
    }
  }
  const std::int64_t total = state.total - bias * state.scanned;
  if (state.scanned > 0) result.Minimum = static_cast<int>(std::min<std::int64_t>(state.minimum - bias, 65535));
  if (state.bestX >= 0) {
    result.X = state.bestX + 1;
    result.Y = state.bestY + 1;
  }
  // The divisor is the full pixel count, not the number of positions scanned.
  const double pixels = static_cast<double>(width) * static_cast<double>(height);
  result.Background = pixels > 0 ? static_cast<int>(RoundHalfEven(static_cast<double>(total) / pixels)) : 0;
  std::int64_t ringSum = 0;
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      if (dx != 0 || dy != 0) ringSum += image.GetPixel(result.X + dx, result.Y + dy);
    }
  }
  const std::int64_t ring = DivideRoundHalfEven(ringSum, 8);
  const int centre = image.GetPixel(result.X, result.Y);
  result.Peak = ring - result.Background > 500 ? centre : result.Background;
  // Without a candidate there is nothing to report, whatever the numbers say.
  result.Found = state.bestX >= 0 && static_cast<std::int64_t>(result.Peak) > std::int64_t{result.Background} + 1000;
  return result;
}

bool StarCentroid(const Timgbuffer& image, int x1, int x2, int y1, int y2, int t, int& column, int& row) {
  __int128 sum = 0;
  __int128 sumX = 0;
  __int128 sumY = 0;
  // Only the part inside the image can contribute (pixels outside read 0, and 0 - t <= 0 for
  // a non-negative threshold); a negative threshold lets them count.
  const int fromX = t >= 0 ? std::max(x1, 1) : x1;
  const int toX = t >= 0 ? std::min(x2, image.Width()) : x2;
  const int fromY = t >= 0 ? std::max(y1, 1) : y1;
  const int toY = t >= 0 ? std::min(y2, image.Height()) : y2;
  for (int y = fromY; y <= toY; ++y) {
    __int128 rowSum = 0;
    __int128 rowSumX = 0;
    for (int x = fromX; x <= toX; ++x) {
      const std::int64_t w = std::max<std::int64_t>(std::int64_t{image.GetPixel(x, y)} - t, 0);
      rowSum += w;
      rowSumX += static_cast<__int128>(x) * w;
    }
    sum += rowSum;
    sumX += rowSumX;
    sumY += static_cast<__int128>(y) * rowSum;
  }
  if (sum <= 0) return false;
  const double s = static_cast<double>(sum);
  column = static_cast<int>(RoundHalfEven(static_cast<double>(sumX) / s));
  row = static_cast<int>(RoundHalfEven(static_cast<double>(sumY) / s));
  return true;
}

namespace {

std::int64_t RingSumExact(const Timgbuffer& image, int cx, int cy, int r, int b) {
  auto add = [&](int x, int y) { return std::max<std::int64_t>(std::int64_t{image.GetPixel(x, y)} - b, 0); };
  if (r < 0) return 0;
  if (r == 0) return add(cx, cy);
  std::int64_t sum = 0;
  for (int x = cx - r; x <= cx + r; ++x) sum += add(x, cy - r) + add(x, cy + r);
  for (int y = cy - r + 1; y <= cy + r - 1; ++y) sum += add(cx - r, y) + add(cx + r, y);
  return sum;
}

}  // namespace

double RingSum(const Timgbuffer& image, int cx, int cy, int r, int b) {
  return static_cast<double>(RingSumExact(image, cx, cy, r, b));
}

double HalfFluxDiameter(const Timgbuffer& image, int cx, int cy, int R) {
  if (R < 1 || R > kMaxHfdRadius) return -1;
  // Twice the mean of the outer ring (its sum over 4R, not 8R pixels) counts as background.
  const int b =
      static_cast<int>(std::clamp<std::int64_t>(DivideRoundHalfEven(RingSumExact(image, cx, cy, R, 0), 4 * std::int64_t{R}),
                                                std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
  std::vector<std::int64_t> cumulative(static_cast<size_t>(R) + 1);
  cumulative[0] = RingSumExact(image, cx, cy, 0, b);
  for (int k = 1; k <= R; ++k) cumulative[k] = cumulative[k - 1] + RingSumExact(image, cx, cy, k, b);
  const std::int64_t total = cumulative[R];
  if (total == 0) return -1;
  // Walk inwards while the enclosed fraction is above one half (compared exactly).
  int k = R;
  bool aboveHalf = true;
  while (k > 0 && aboveHalf) {
    aboveHalf = 2 * cumulative[k] > total;
    --k;
  }
  const std::int64_t step = cumulative[k + 1] - cumulative[k];
  if (step == 0) return -1;
  const double fraction =
      (0.5 * static_cast<double>(total) - static_cast<double>(cumulative[k])) / static_cast<double>(step);
  return 2 * (fraction + k - 1);
}

HfdReading ReadHalfFluxDiameter(const Timgbuffer& image, int cx, int cy, int R) {
  HfdReading reading;
  const double hfd = HalfFluxDiameter(image, cx, cy, R);
  if (hfd > 0) {
    reading.Hfd = hfd;
    return reading;
  }
  int peak = 0;
  for (int y = std::max(1, cy - R); y <= std::min(image.Height(), cy + R); ++y) {
    for (int x = std::max(1, cx - R); x <= std::min(image.Width(), cx + R); ++x) peak = std::max(peak, image.GetPixel(x, y));
  }
  if (peak >= kStarSaturatedAdu) {
    reading.Problem = "saturated";
  } else if (hfd == -1) {
    reading.Problem = "no flux above the background";
  } else {
    reading.Problem = "too compact";
  }
  return reading;
}

}  // namespace noctarbel
