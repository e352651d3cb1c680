#include "devices/sim/star_field_renderer.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "common/angles.h"
#include "devices/sim/sim_random.h"

namespace noctarbel {

namespace {

constexpr double kRadToArcsec = 206264.80624709636;
// A Gaussian's half-flux diameter is this many sigmas.
constexpr double kHfdPerSigma = 2.3548200450309493;
constexpr int kMaxTrailSteps = 64;

// Standard normal deviates, drawn once: a table lookup per pixel keeps a full frame fast.
const std::array<float, 1 << 16>& NormalTable() {
  static const std::array<float, 1 << 16> table = [] {
    std::array<float, 1 << 16> t{};
    sim::Random rng(0x6e6f697365ull);
    for (size_t i = 0; i < t.size(); i += 2) {
      const double u1 = std::max(rng.Uniform(), 1e-300);
      const double u2 = rng.Uniform();
      const double r = std::sqrt(-2.0 * std::log(u1));
      t[i] = static_cast<float>(r * std::cos(2 * std::numbers::pi * u2));
      t[i + 1] = static_cast<float>(r * std::sin(2 * std::numbers::pi * u2));
    }
    return t;
  }();
  return table;
}

// Pixel fractions of a unit Gaussian centred at c (pixel k spans [k, k + 1)).
void GaussianWeights(double centre, double sigma, int first, int last, std::vector<double>& weights) {
  weights.resize(static_cast<size_t>(last - first + 1));
  const double scale = 1.0 / (sigma * std::sqrt(2.0));
  double lower = std::erf((first - centre) * scale);
  for (int k = first; k <= last; ++k) {
    const double upper = std::erf((k + 1 - centre) * scale);
    weights[static_cast<size_t>(k - first)] = 0.5 * (upper - lower);
    lower = upper;
  }
}

struct Canvas {
  int Width = 0;
  int Height = 0;
  std::vector<float> Electrons;
};

void AddStar(Canvas& canvas, double x, double y, double sigmaX, double sigmaY, double electrons,
             std::vector<double>& wx, std::vector<double>& wy) {
  const int rx = static_cast<int>(std::ceil(4.0 * sigmaX)) + 1;
  const int ry = static_cast<int>(std::ceil(4.0 * sigmaY)) + 1;
  const int x0 = std::max(0, static_cast<int>(std::floor(x)) - rx);
  const int x1 = std::min(canvas.Width - 1, static_cast<int>(std::floor(x)) + rx);
  const int y0 = std::max(0, static_cast<int>(std::floor(y)) - ry);
  const int y1 = std::min(canvas.Height - 1, static_cast<int>(std::floor(y)) + ry);
  if (x0 > x1 || y0 > y1) return;
  GaussianWeights(x, sigmaX, x0, x1, wx);
  GaussianWeights(y, sigmaY, y0, y1, wy);
  for (int row = y0; row <= y1; ++row) {
    const double rowFlux = electrons * wy[static_cast<size_t>(row - y0)];
    float* line = canvas.Electrons.data() + static_cast<size_t>(row) * canvas.Width;
    for (int col = x0; col <= x1; ++col) line[col] += static_cast<float>(rowFlux * wx[static_cast<size_t>(col - x0)]);
  }
}

void AddStars(Canvas& canvas, const FrameRequest& r, const SkyModel& sky) {
  const double sigma = std::max(0.3, r.HfdPixels / kHfdPerSigma);
  const double sigmaX = std::max(0.3, sigma / r.BinX);
  const double sigmaY = std::max(0.3, sigma / r.BinY);
  // Every star that may touch the sub-frame: the farthest corner from the optical axis.
  const double cx = r.SensorWidth / 2.0 - 0.5;
  const double cy = r.SensorHeight / 2.0 - 0.5;
  double reachPx = 0;
  for (int corner = 0; corner < 4; ++corner) {
    const double ux = (corner & 1 ? r.StartX + r.NumX : r.StartX) * static_cast<double>(r.BinX);
    const double uy = (corner & 2 ? r.StartY + r.NumY : r.StartY) * static_cast<double>(r.BinY);
    reachPx = std::max(reachPx, std::hypot(ux - cx, uy - cy));
  }
  const double radiusDeg = (reachPx + 6.0 * sigma + 2.0) * r.ArcsecPerPixel / 3600.0;
  const double moveDeg = AngularDistanceDeg(r.Start.RaHours, r.Start.DecDeg, r.End.RaHours, r.End.DecDeg);
  std::vector<SimStar> stars;
  sky.StarsNear(r.Start.RaHours, r.Start.DecDeg, radiusDeg + moveDeg, stars);

  const double movePx = moveDeg * 3600.0 / r.ArcsecPerPixel;
  const int steps = std::clamp(static_cast<int>(std::ceil(movePx)), 1, kMaxTrailSteps);
  const bool flips = r.Start.PierSide != r.End.PierSide;
  const double perSecond = r.FluxAtMagnitudeZero * r.Throughput;
  std::vector<double> wx;
  std::vector<double> wy;
  for (const SimStar& star : stars) {
    const double electrons = perSecond * std::pow(10.0, -0.4 * star.Magnitude) * r.ExposureSeconds;
    if (electrons < 0.5) continue;
    for (int s = 0; s < steps; ++s) {
      const double f = steps == 1 ? 0.0 : static_cast<double>(s) / (steps - 1);
      SimPointing axis;
      axis.RaHours = r.Start.RaHours + WrapHours12(r.End.RaHours - r.Start.RaHours) * f;
      axis.DecDeg = r.Start.DecDeg + (r.End.DecDeg - r.Start.DecDeg) * f;
      axis.PierSide = flips && f >= 0.5 ? r.End.PierSide : r.Start.PierSide;
      SensorPoint p = ProjectToSensor(star.RaHours, star.DecDeg, axis, r.SensorWidth, r.SensorHeight, r.ArcsecPerPixel,
                                      r.RotationDeg);
      if (!p.InFront) continue;
      AddStar(canvas, p.X / r.BinX - r.StartX, p.Y / r.BinY - r.StartY, sigmaX, sigmaY, electrons / steps, wx, wy);
    }
  }
}

void AddHotPixels(Canvas& canvas, const FrameRequest& r) {
  if (!r.HotPixels) return;
  for (const HotPixel& hot : *r.HotPixels) {
    const int x = hot.X / r.BinX - r.StartX;
    const int y = hot.Y / r.BinY - r.StartY;
    if (x < 0 || y < 0 || x >= canvas.Width || y >= canvas.Height) continue;
    canvas.Electrons[static_cast<size_t>(y) * canvas.Width + x] +=
        static_cast<float>(hot.ElectronsPerSecond * r.HotPixelScale * r.ExposureSeconds);
  }
}

}  // namespace

SensorPoint ProjectToSensor(double raHours, double decDeg, const SimPointing& axis, int sensorWidth, int sensorHeight,
                            double arcsecPerPixel, double rotationDeg) {
  // Gnomonic projection: xi towards east (rising right ascension), eta towards north.
  const double dra = (raHours - axis.RaHours) * 15.0 * kDegToRad;
  const double d = decDeg * kDegToRad;
  const double d0 = axis.DecDeg * kDegToRad;
  const double cosc = std::sin(d0) * std::sin(d) + std::cos(d0) * std::cos(d) * std::cos(dra);
  SensorPoint point;
  if (cosc <= 1e-6) {
    point.InFront = false;
    return point;
  }
  const double xi = std::cos(d) * std::sin(dra) / cosc * kRadToArcsec;
  const double eta = (std::cos(d0) * std::sin(d) - std::sin(d0) * std::cos(d) * std::cos(dra)) / cosc * kRadToArcsec;
  // Sky offsets to sensor offsets for a camera turned by the rotation angle; the image shows
  // east to the left and north up, turned half round on the west side of the pier.
  const double c = std::cos(rotationDeg * kDegToRad);
  const double s = std::sin(rotationDeg * kDegToRad);
  double ex = c * xi - s * eta;
  double ey = s * xi + c * eta;
  if (axis.PierSide == PierSide::West) {
    ex = -ex;
    ey = -ey;
  }
  point.X = sensorWidth / 2.0 - 0.5 - ex / arcsecPerPixel;
  point.Y = sensorHeight / 2.0 - 0.5 - ey / arcsecPerPixel;
  return point;
}

std::vector<HotPixel> MakeHotPixels(int sensorWidth, int sensorHeight, double fraction, std::uint64_t seed) {
  std::vector<HotPixel> hot;
  const double total = static_cast<double>(sensorWidth) * sensorHeight * std::max(0.0, fraction);
  const int count = static_cast<int>(std::lround(total));
  sim::Random rng(seed ^ 0x686f74ull);
  hot.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    HotPixel p;
    p.X = static_cast<int>(rng.Uniform() * sensorWidth);
    p.Y = static_cast<int>(rng.Uniform() * sensorHeight);
    p.ElectronsPerSecond = std::pow(10.0, rng.Uniform(1.0, 2.7));  // 10 to 500 electrons per second
    hot.push_back(p);
  }
  return hot;
}

ImageArrayData RenderFrame(const FrameRequest& r, const SkyModel& sky) {
  Canvas canvas;
  canvas.Width = std::max(0, r.NumX);
  canvas.Height = std::max(0, r.NumY);
  const size_t pixels = static_cast<size_t>(canvas.Width) * canvas.Height;
  const double binArea = static_cast<double>(r.BinX) * r.BinY;
  const double seconds = std::max(0.0, r.ExposureSeconds);
  double background = r.DarkElectronsPerSecond * binArea * seconds;
  if (r.Light) background += r.SkyElectronsPerSecond * r.Throughput * binArea * seconds;
  canvas.Electrons.assign(pixels, static_cast<float>(background));
  if (r.Light && seconds > 0) AddStars(canvas, r, sky);
  AddHotPixels(canvas, r);

  ImageArrayData image;
  image.Width = canvas.Width;
  image.Height = canvas.Height;
  // Counts of a 16-bit converter travel as 16-bit values, as a real camera's do.
  const bool sixteenBit = r.MaxAdu <= 65535;
  if (sixteenBit) {
    image.Pixels16.resize(pixels);
  } else {
    image.Pixels.resize(pixels);
  }
  const auto& normal = NormalTable();
  std::uint64_t state = r.NoiseSeed;
  const double readVariance = r.ReadNoiseElectrons * r.ReadNoiseElectrons;
  const double perAdu = 1.0 / std::max(1e-6, r.ElectronsPerAdu);
  const double maxAdu = r.MaxAdu;
  for (size_t i = 0; i < pixels; ++i) {
    const double e = canvas.Electrons[i];
    const std::uint64_t random = sim::SplitMix64(state);
    const double noisy = e + std::sqrt(std::max(0.0, e) + readVariance) * normal[random & 0xffff];
    const double adu = std::clamp(r.BiasAdu + noisy * perAdu, 0.0, maxAdu);
    if (sixteenBit) {
      image.Pixels16[i] = static_cast<std::uint16_t>(adu + 0.5);
    } else {
      image.Pixels[i] = static_cast<std::int32_t>(adu + 0.5);
    }
  }
  return image;
}

}  // namespace noctarbel
