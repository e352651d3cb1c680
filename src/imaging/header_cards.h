#pragma once
// The header cards of captured images, written in stages: the camera read-out, the plan
// executor before it saves a plan image, and the stack of a plan row. Callers only supply the
// values; keys, order, number forms and comments are fixed here.

#include <optional>
#include <string>
#include <vector>

#include "imaging/image_buffer.h"

namespace noctarbel {

// What the camera driver reported for one exposure.
struct CaptureCardValues {
  std::string ObservationDate;  // UtcTimestampText taken right after the exposure started
  double Exposure = 0;          // requested exposure, seconds
  std::string Description;      // the driver's description
  std::string FilterName;       // empty without a filter wheel
  int BinX = 1;
  int BinY = 1;
  double PixelSizeX = 0;  // micrometres, unbinned
  double PixelSizeY = 0;
  std::optional<int> Gain;  // only when the gain could be read at connect
  double CcdTemperature = 0;
};

// The settings the capture cards take their values from.
struct CaptureCardSettings {
  double ArcsecX = 0;
  std::string TelescopeDescription;
  std::string Observername;
  double Glaenge = 0;  // degrees, west positive
  double Gbreite = 0;
};

// The calibration steps applied to a plan image, in the order of their HISTORY cards.
struct CalibrationHistory {
  std::optional<std::string> DarkFile;  // dark used for the image's binning
  std::optional<std::string> FlatFile;  // master flat of the image's filter
  bool Rotated = false;                 // turned by 180 degrees
};

// What the plan executor knows about a plan image.
struct PlanCardValues {
  std::string ObjectName;
  double RightAscension = 0;                      // hours
  double Declination = 0;                         // degrees
  double Airmass = 0;                             // at the moment of writing
  std::optional<int> PierSide;                    // only when the telescope reports one
  std::optional<int> FocusPosition;               // only when a focuser is linked
  std::optional<CalibrationHistory> Calibration;  // only when the calibration ran and succeeded
};

inline constexpr const char* kSoftwareName = NOCTARBEL_VERSION_TEXT;

// Stores the buffer fields (exposure, date, instrument, binning, pixel size, pixel scale,
// filter code -1, filter) and writes the standard cards, then XPIXSZ .. SITE-LAT.
// False when the header had no room for every card.
bool WriteCaptureCards(Timgbuffer& image, const CaptureCardValues& values, const CaptureCardSettings& settings);
// OBJECT .. FOCUSPOS and the HISTORY cards of the calibration.
bool WritePlanCards(Timgbuffer& image, const PlanCardValues& values);
// A plan row's stack: BITPIX 32, SUBEXP and its HISTORY card.
bool WriteStackCards(Timgbuffer& stack, double subExposure, int frames);

// The HISTORY card texts of a calibration, in order.
std::vector<std::string> CalibrationHistoryTexts(const CalibrationHistory& history);
// The log line of the same steps: "Bildbearbeitung: dark flat 180° rotation".
std::string CalibrationLogText(const CalibrationHistory& history);

}  // namespace noctarbel
