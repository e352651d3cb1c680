#include "imaging/header_cards.h"

#include <vector>

#include "imaging/card_format.h"

namespace noctarbel {

namespace {

// A fixed(w, d) card; a value that is not a number (a failing sensor) leaves the card out.
bool SetFixedCard(Timgbuffer& image, const char* key, double value, int significant, int decimals,
                  const char* comment = "") {
  auto text = FixedCardText(value, significant, decimals);
  if (!text) return true;
  return image.SetKeyword(key, *text, comment);
}

std::string FirstChars(const std::string& text, size_t count) { return text.substr(0, count); }

}  // namespace

bool WriteCaptureCards(Timgbuffer& image, const CaptureCardValues& values, const CaptureCardSettings& settings) {
  image.Exposure = values.Exposure;
  image.ObservationDate = values.ObservationDate;
  image.Instrument = FirstChars(values.Description, 39);
  image.XBinning = static_cast<std::uint16_t>(values.BinX);
  image.YBinning = static_cast<std::uint16_t>(values.BinY);
  image.PixelWidth = static_cast<float>(values.PixelSizeX * values.BinX);
  image.PixelHeight = static_cast<float>(values.PixelSizeY * values.BinY);
  image.PixelScale = settings.ArcsecX * values.BinX;
  image.FilterCode = -1;
  image.Filter = FirstChars(values.FilterName, 39);

  bool ok = image.SetStandardCards();
  ok = SetFixedCard(image, "XPIXSZ", values.PixelSizeX * values.BinX, 5, 3, "Image Pixel Width in microns") && ok;
  ok = SetFixedCard(image, "YPIXSZ", values.PixelSizeY * values.BinY, 5, 3, "Image Pixel Height in microns") && ok;
  ok = image.SetKeyword("XBINNING", std::to_string(values.BinX)) && ok;
  ok = image.SetKeyword("YBINNING", std::to_string(values.BinY)) && ok;
  if (values.Gain) ok = image.SetKeyword("GAIN", std::to_string(*values.Gain)) && ok;
  ok = SetFixedCard(image, "PIXSCALE", settings.ArcsecX * values.BinX, 5, 3, "pixel scale (arcsec/pix)") && ok;
  ok = SetFixedCard(image, "CCD-TEMP", values.CcdTemperature, 5, 1, "Camera temperature (Celsius)") && ok;
  ok = image.SetStringKeyword("SWCREATE", kSoftwareName) && ok;
  ok = image.SetStringKeyword("TELESCOP", settings.TelescopeDescription) && ok;
  ok = image.SetStringKeyword("OBSERVER", settings.Observername) && ok;
  // The setting counts west positive; the card holds east longitude.
  ok = SetFixedCard(image, "SITE-LON", -settings.Glaenge, 10, 5, "east longitude of observing site (deg)") && ok;
  ok = SetFixedCard(image, "SITE-LAT", settings.Gbreite, 10, 5, "latitude of observing site (deg)") && ok;
  return ok;
}

std::vector<std::string> CalibrationHistoryTexts(const CalibrationHistory& history) {
  std::vector<std::string> texts;
  if (history.DarkFile) texts.push_back("Dark subtraction " + *history.DarkFile);
  if (history.FlatFile) texts.push_back("Flatcorr. " + *history.FlatFile);
  // Header cards are 7-bit ASCII, so the degree sign is spelled out.
  if (history.Rotated) texts.push_back("180 deg rotation");
  return texts;
}

std::string CalibrationLogText(const CalibrationHistory& history) {
  std::string text = "Bildbearbeitung: ";
  if (history.DarkFile) text += "dark ";
  if (history.FlatFile) text += "flat ";
  if (history.Rotated) text += "180° rotation";
  return text;
}

bool WritePlanCards(Timgbuffer& image, const PlanCardValues& values) {
  bool ok = image.SetStringKeyword("OBJECT", values.ObjectName);
  ok = image.SetStringKeyword("OBJCTRA", ObjectRaText(values.RightAscension)) && ok;
  ok = image.SetStringKeyword("OBJCTDEC", ObjectDecText(values.Declination)) && ok;
  ok = SetFixedCard(image, "AIRMASS", values.Airmass, 4, 2) && ok;
  if (values.PierSide) ok = image.SetStringKeyword("PIERSIDE", std::to_string(*values.PierSide)) && ok;
  if (values.FocusPosition) {
    ok = image.SetKeyword("FOCUSPOS", std::to_string(*values.FocusPosition), "focus position (steps)") && ok;
  }
  if (values.Calibration) {
    for (const auto& text : CalibrationHistoryTexts(*values.Calibration)) {
      ok = image.SetKeyword("HISTORY", text) && ok;
    }
  }
  return ok;
}

bool WriteStackCards(Timgbuffer& stack, double subExposure, int frames) {
  bool ok = stack.SetKeyword("BITPIX", "32");
  ok = SetFixedCard(stack, "SUBEXP", subExposure, 5, 3, "sub exposure in sec") && ok;
  ok = stack.SetKeyword("HISTORY", "Stack (sum) of " + std::to_string(frames) + " images") && ok;
  return ok;
}

}  // namespace noctarbel
