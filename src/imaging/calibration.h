#pragma once
// Calibration of camera images on the fly: a master dark per binning (scaled to the exposure
// time when "Optimize" is on, with the bias of the same binning), a normalized master flat
// chosen by filter number and binning, the hot-pixel filter and the 180 degree turn.
//
// ImageCalibration holds the masters for the program run and the values the calibration
// follows; the calibration window (or the command line) fills them. It knows no window.

#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "imaging/calibration_pixels.h"
#include "imaging/header_cards.h"
#include "imaging/image_buffer.h"

namespace noctarbel {

inline constexpr int kFlatIdCount = 9;        // flat IDs 1..9
inline constexpr int kFilterNumberCount = 9;  // filter numbers 1..9
inline constexpr int kMasterBinnings = 3;     // 1x1, 2x2, 4x4

inline constexpr int kDefaultHotPixelMax = 50000;
inline constexpr int kDefaultBiasConstant = 100;
inline constexpr int kMinHotPixelSigma = 4;
inline constexpr int kMaxHotPixelSigma = 6;

// Darks are scaled only for images longer than this and darks longer than kMinScaledDark.
inline constexpr double kMaxBiasOnlyExposure = 0.1;
inline constexpr double kMinScaledDarkExposure = 0.9;

// Index of a binning among the master binnings (1 -> 0, 2 -> 1, 4 -> 2); -1 for any other.
int MasterBinningIndex(int binning);
// The binning of a master index (0 -> 1, 1 -> 2, 2 -> 4).
int MasterBinning(int index);

// The calibration window's two tables.
struct FlatTables {
  // Master flat file name by flat ID; entry 0 holds flat ID 1.
  std::array<std::string, kFlatIdCount> FlatFiles;
  // By filter number (entry 0: filter 1), the flat ID cells for binning 1, 2 and 4 as typed.
  std::array<std::array<std::string, kMasterBinnings>, kFilterNumberCount> FlatIds;
};

// The values an image is calibrated with.
struct CalibrationOptions {
  bool DarkSubtract = false;                // "Dark subtract"
  bool FlatCorrection = false;              // "Flat correction"
  bool Optimize = true;                     // scale the dark to the image's exposure time
  int HotPixelMax = kDefaultHotPixelMax;    // dark pixels at or above it are not scaled
  int BiasConstant = kDefaultBiasConstant;  // bias level when there is no bias frame
  bool HotPixelCorrection = false;
  int HotPixelSigma = kMinHotPixelSigma;
};

// One image to calibrate and the steps wanted.
struct CalibrationRequest {
  int FilterNumber = 1;  // 1..9
  int Zoom = 1;          // 2 or more: the image is a sub-frame of the sensor
  int SubFrameX = 0;     // the sub-frame's origin in binned pixels, counted from 0
  int SubFrameY = 0;
  bool Dark = true;
  bool Flat = true;
  bool Rotate = false;
};

// The steps done, what the HISTORY cards and the log line record, and why a wanted step was
// not done.
struct CalibrationResult {
  bool Dark = false;
  bool Flat = false;
  bool Rotate = false;
  bool HotPixels = false;
  // A frame too short for a dark had the bias constant subtracted in its place: the dark
  // step was done as the options ask.
  bool BiasConstantForDark = false;
  CalibrationHistory History;
  std::vector<std::string> Skipped;

  // The calibration counts as done when a dark, a flat or the turn was applied.
  bool Any() const { return Dark || Flat || Rotate; }
  // The steps asked for that were not done, and why, on one line ("flat not done: no flat ID
  // for filter 1 at binning 2"); empty when every step asked for was done.
  std::string MissedStepsText(bool darkAsked, bool flatAsked) const;
};

// Why a master was not loaded: the window's message and, for a person, the reason.
struct MasterLoadError {
  std::string Message;  // "dark image (2x2) not found", "flat image cannot be used", ...
  std::string Reason;
};

// A flat's gains: with the flat's mean m and sample deviation s, R = round(m + 1.5 s) and
// L = round(0.2 x its maximum); a pixel p gets R / p when p > L, else R / L (FlatGains). Found
// in one pass over the flat. Nothing (with the reason) when the flat has fewer than two
// pixels, is not an integer image or R or L is not positive.
std::optional<FlatGains> FlatGainsOf(const Timgbuffer& flat, std::string* reason = nullptr);

// Masters by binning index (dark, bias) and flat ID.
struct MasterNeeds {
  std::optional<int> Dark;
  std::optional<int> Bias;
  std::optional<int> Flat;
};

class ImageCalibration {
 public:
  ImageCalibration();
  ~ImageCalibration();
  ImageCalibration(const ImageCalibration&) = delete;
  ImageCalibration& operator=(const ImageCalibration&) = delete;

  CalibrationOptions Options;
  FlatTables Tables;
  // The configuration file was read, or saved, in this run.
  bool ConfigurationRead = false;
  bool ConfigurationSaved = false;

  // Loads a master dark or bias for a binning index from `file`, recorded under `name` (the
  // name as configured, for the HISTORY card). An empty name clears that master. On failure
  // the master held so far stays.
  std::optional<MasterLoadError> LoadDark(int binningIndex, const std::string& name, const std::filesystem::path& file);
  std::optional<MasterLoadError> LoadBias(int binningIndex, const std::string& name, const std::filesystem::path& file);
  // Drops the flat of the flat ID (1..9), then loads it and finds its gains when the name is
  // not empty. The flat is held with its own pixels (marked NormalizedFlat); its gains are
  // worked out from them as they are applied.
  std::optional<MasterLoadError> LoadFlat(int flatId, const std::string& name, const std::filesystem::path& file);

  // The masters a calibration of the image would read, as the options and tables stand: the
  // dark only for a dark subtraction that may use it, the bias only when "Optimize" scales
  // the dark with it, the flat of the filter's flat ID. A one-shot calibration loads no other.
  MasterNeeds MastersFor(const Timgbuffer& image, const CalibrationRequest& request) const;

  // Masters as held (nullptr when none).
  const Timgbuffer* Dark(int binningIndex) const;
  const Timgbuffer* Bias(int binningIndex) const;
  const Timgbuffer* Flat(int flatId) const;
  const std::string& DarkName(int binningIndex) const;

  // The flat ID the tables give for a filter number and binning, none when the cell is empty
  // or holds no whole number (or the filter number or binning has no cell).
  std::optional<int> FlatIdFor(int filterNumber, int binning) const;
  // The master flat file name last used for a filter (empty when none yet).
  const std::string& FlatNameOfFilter(int filterNumber) const;

  // Dark, hot pixels, flat, turn, in this order. Steps never fail as a whole: a master that
  // is missing or of another size than the image is skipped and the step reported as not done.
  CalibrationResult Calibrate(Timgbuffer& image, const CalibrationRequest& request);
  // The same with the steps as in/out flags: on entry wanted, on return done. True when any
  // step was done; `history` (when given) receives what the HISTORY cards record.
  bool CalibrateImage(Timgbuffer& image, int filterNumber, int zoom, int subFrameX, int subFrameY, bool& dark,
                      bool& flat, bool& rotate, CalibrationHistory* history = nullptr);

 private:
  struct Master {
    std::unique_ptr<Timgbuffer> Image;
    std::string Name;
    FlatGains Gains;               // flats only
    std::vector<float> GainTable;  // flats only: GainTable of the flat
  };
  // A dark or bias master of one binning into `slot`; an empty name clears it.
  static std::optional<MasterLoadError> LoadMaster(Master& slot, const char* kind, int binningIndex,
                                                   const std::string& name, const std::filesystem::path& file);

  // What the dark and flat steps will do (nothing when they are not wanted or cannot be
  // done); the bias-only correction of a very short exposure is done at once.
  std::optional<WorkingDark> DarkStep(Timgbuffer& image, const CalibrationRequest& request,
                                      CalibrationResult& result) const;
  std::optional<WorkingDark> PlanDark(const Timgbuffer& image, const CalibrationRequest& request,
                                      CalibrationResult& result) const;
  std::optional<FlatWindow> PlanFlat(const Timgbuffer& image, const CalibrationRequest& request,
                                     CalibrationResult& result);

  std::array<Master, kMasterBinnings> darks_;
  std::array<Master, kMasterBinnings> biases_;
  std::array<Master, kFlatIdCount> flats_;
  std::array<std::string, kFilterNumberCount> flatNameOfFilter_;
};

}  // namespace noctarbel
