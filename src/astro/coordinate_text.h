#pragma once
// Coordinates as the operator enters them: sexagesimal fields and plan cells, and the
// position texts pasted from planetarium programs and web pages.
//
// A declination between -1 and 0 degrees has a degree part of 0, so its sign cannot live in
// the degree number. It lives in the "-0" text of a plan cell and, in the main window, in
// NSbox: with DECdegEdit at 0, "S" makes the declination negative. Goto reads the spin
// fields with DeclinationFromFields and the plan executor reads the cells with
// DeclinationFromCells, so the same entry reaches the mount with the same sign either way.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace noctarbel {

// A position cut into whole sexagesimal parts, as "Find" and "insert RA/DEC" show it.
struct SexagesimalPosition {
  int RaHours = 0;
  int RaMinutes = 0;
  int RaSeconds = 0;
  int DecDegrees = 0;  // signed; 0 for a declination between -1 and 0
  int DecMinutes = 0;
  int DecSeconds = 0;
  bool South = false;  // declination below 0 (the only sign when DecDegrees is 0)
};

// Each part is truncated after adding 0.001, so values stored as 29.9 minutes (54 seconds)
// do not come out as 53 seconds. The declination is cut by its magnitude, then signed.
SexagesimalPosition DecomposePosition(double raHours, double decDeg);
// The degree cell of a plan row: "-0" for a declination between -1 and 0.
std::string DeclinationDegreeCellText(const SexagesimalPosition& position);

// The main window's spin fields: the degree field's sign counts; when it is 0, the N/S box
// gives the sign.
double DeclinationFromFields(int degrees, int minutes, double seconds, bool southSelected);
// Plan cells: integer degrees and minutes, decimal seconds. Negative when the trimmed degree
// cell starts with "-" (so "-0" with 30 minutes is -0.5) or its value is negative.
std::optional<double> DeclinationFromCells(std::string_view degrees, std::string_view minutes,
                                           std::string_view seconds);
std::optional<double> RightAscensionFromCells(std::string_view hours, std::string_view minutes,
                                              std::string_view seconds);

inline constexpr std::string_view kCoordinatesNotConverted = "Coordinates could not be converted: ";
// Clipboard texts longer than this count only with their first characters.
inline constexpr size_t kMaxPastedCharacters = 127;

struct PastedPosition {
  bool Ok = false;
  // RA hours, minutes, seconds, Dec degrees, arcminutes, arcseconds; all empty when not Ok.
  std::array<std::string, 6> Cells;
  // The text that was read (the first 127 characters, as UTF-8), for the message.
  std::string Text;
};

// Recognises, in this order: 12h34m56.7s +41°16'09.5" ; 12h34m56.7s +41d16m09s ;
// blank-separated "12 34 56.7 +41 16 09.5" ; "12:34:56.78 +41:16:09.0". Any bytes: text that
// is not UTF-8 is read as Latin-1.
PastedPosition ParsePastedPosition(std::string_view clipboardText);

}  // namespace noctarbel
