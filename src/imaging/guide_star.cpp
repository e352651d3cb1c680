#include "imaging/guide_star.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/number_text.h"

namespace noctarbel {

namespace {

struct Span {
  int First = 0;
  int Last = 0;
};

struct Candidate {
  int X = 0;
  int Y = 0;
  int Peak = 0;
  int Minimum = 0;
};

// The tiles of one axis of a whole-image search: 2r + 1 pixels from r + 10 on, each
// starting one pixel after the one before; a single tile spans 10 .. size - 10.
std::vector<Span> TileSpans(int size, int r) {
  const int count = r > 0 ? std::max((size - 10 - 2 * r) / (2 * r), 1) : 1;
  if (count == 1) return {Span{10, size - 10}};
  std::vector<Span> spans;
  int first = r + 10;
  for (int i = 0; i < count; ++i) {
    const int last = std::min(size - 1, first + 2 * r);
    spans.push_back(Span{first, last});
    first = last + 1;
  }
  return spans;
}

// A pixel as the 3 x 3 means see it: a pixel whose right (else lower) neighbour is below a
// fifth of it stands alone, as a hot pixel does, and counts as that neighbour.
int Cleaned(const Timgbuffer& image, int x, int y) {
  const int p = image.GetPixel(x, y);
  const int right = image.GetPixel(x + 1, y);
  if (right < 0.2 * p) return right;
  const int below = image.GetPixel(x, y + 1);
  if (below < 0.2 * p) return below;
  return p;
}

// Scans one region; adds its means to `total` and its candidate, when it stands out from the
// region's darkest mean, to `candidates`. The cleaned pixels of the region and its border
// are worked out once, then summed in 3 x 3 blocks.
void ScanRegion(const Timgbuffer& image, Span columns, Span rows, double& total, std::vector<Candidate>& candidates) {
  if (columns.Last < columns.First || rows.Last < rows.First) return;
  const int cw = columns.Last - columns.First + 3;
  const int ch = rows.Last - rows.First + 3;
  std::vector<int> cleaned(static_cast<size_t>(cw) * static_cast<size_t>(ch));
  for (int j = 0; j < ch; ++j) {
    for (int i = 0; i < cw; ++i) {
      cleaned[static_cast<size_t>(j) * cw + i] = Cleaned(image, columns.First - 1 + i, rows.First - 1 + j);
    }
  }
  Candidate best{0, 0, 0, 65535};
  for (int y = rows.First; y <= rows.Last; ++y) {
    const int j = y - rows.First + 1;
    for (int x = columns.First; x <= columns.Last; ++x) {
      const int i = x - columns.First + 1;
      std::int64_t sum = 0;
      for (int dj = -1; dj <= 1; ++dj) {
        const int* row = &cleaned[static_cast<size_t>(j + dj) * cw + i - 1];
        sum += row[0] + row[1] + row[2];
      }
      const int m = static_cast<int>(RoundHalfEven(static_cast<double>(sum) / 9.0));
      total += m;
      if (m > best.Peak) {
        best.X = x;
        best.Y = y;
        best.Peak = m;
      }
      best.Minimum = std::min(best.Minimum, m);
    }
  }
  const double sum = static_cast<double>(best.Peak) + best.Minimum;
  if (sum > 0 && (best.Peak - best.Minimum) / std::sqrt(sum) >= 10) candidates.push_back(best);
}

// Pixels from the candidate to the first one at or below half its peak, at most 20.
int HalfWidth(const Timgbuffer& image, const Candidate& c, int dx, int dy) {
  for (int step = 1; step <= 20; ++step) {
    if (image.GetPixel(c.X + step * dx, c.Y + step * dy) <= c.Peak / 2.0) return step;
  }
  return 20;
}

// The largest pixel in the box of half-size r around c, away from c by more than 1.5 w in
// both directions.
int LargestAway(const Timgbuffer& image, const Candidate& c, int r, int w) {
  int largest = 0;
  for (int y = c.Y - r; y <= c.Y + r; ++y) {
    for (int x = c.X - r; x <= c.X + r; ++x) {
      if (std::abs(x - c.X) > 1.5 * w && std::abs(y - c.Y) > 1.5 * w) largest = std::max(largest, image.GetPixel(x, y));
    }
  }
  return largest;
}

}  // namespace

GuideStarResult FindGuideStar(const Timgbuffer& image, int x0, int y0, int r) {
  GuideStarResult result;
  const int width = image.Width();
  const int height = image.Height();
  if (!image.HasPixels() || width < 1 || height < 1) return result;

  double total = 0;
  std::vector<Candidate> candidates;
  if (x0 == 0 || y0 == 0 || r == 0) {
    const auto columns = TileSpans(width, r);
    for (const Span& rows : TileSpans(height, r)) {
      for (const Span& cols : columns) ScanRegion(image, cols, rows, total, candidates);
    }
  } else {
    ScanRegion(image, Span{std::max(2, x0 - r), std::min(width - 1, x0 + r)},
               Span{std::max(2, y0 - r), std::min(height - 1, y0 + r)}, total, candidates);
  }
  result.Background = static_cast<int>(RoundHalfEven(total / (static_cast<double>(width) * height)));
  if (candidates.empty()) return result;

  Candidate chosen = candidates.front();
  for (const Candidate& c : candidates) {
    if (c.Peak > chosen.Peak) chosen = c;
  }
  const int w = std::max(std::min(HalfWidth(image, chosen, 1, 0), HalfWidth(image, chosen, 0, 1)), 2);
  // A star with a neighbour as bright within its box would pull the centroid: take the
  // first candidate that stands clear of everything around it.
  const int radius = r > 0 ? r : 10;
  for (const Candidate& c : candidates) {
    if (c.Peak <= chosen.Peak / 2) continue;
    if (0.5 * c.Peak > LargestAway(image, c, radius, w)) {
      chosen = c;
      break;
    }
  }

  double sum = 0;
  double sx = 0;
  double sy = 0;
  for (int y = chosen.Y - 4; y <= chosen.Y + 4; ++y) {
    for (int x = chosen.X - 4; x <= chosen.X + 4; ++x) {
      const double p = image.GetPixel(x, y);
      sum += p;
      sx += x * p;
      sy += y * p;
    }
  }
  result.Found = true;
  result.Column = chosen.X;
  result.Row = chosen.Y;
  result.X = sum > 0 ? sx / sum : chosen.X;
  result.Y = sum > 0 ? sy / sum : chosen.Y;
  result.Peak = chosen.Peak;
  result.Minimum = chosen.Minimum;
  return result;
}

double GuideSignal(const GuideStarResult& star) {
  if (star.Peak <= 0) return 0;
  return (star.Peak - star.Background) / std::sqrt(static_cast<double>(star.Peak));
}

}  // namespace noctarbel
