#include "station/settings.h"
#include "station/setting_rules.h"

#include <gtest/gtest.h>

#include <tuple>

#include "common/text_file.h"
#include "tests/test_support.h"

namespace noctarbel {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(SettingsFile, MissingFileGivesEveryDefault) {
  TempDir dir;
  const SettingsRecord s = LoadSettingsFile(dir / "noctarbel.ini");
  for (const auto& key : SettingKeys()) EXPECT_EQ(FormatSettingValue(s, key), FormatSettingValue({}, key)) << key.key;
  // The documented defaults themselves.
  EXPECT_DOUBLE_EQ(s.Glaenge, -8.24889);
  EXPECT_DOUBLE_EQ(s.Gbreite, 49.91806);
  EXPECT_EQ(s.Horizontdatei, "horizon.txt");
  EXPECT_EQ(s.ParkMethod, 1);
  EXPECT_EQ(s.TrackingRange, 50);
  EXPECT_EQ(s.CameraTimeout, 30);
  EXPECT_EQ(s.CameraCoolerTemp, -5);
  EXPECT_DOUBLE_EQ(s.HistogramMaxLevel, 0.99);
  EXPECT_FLOAT_EQ(s.AFHFDlow, 10.0f);
  EXPECT_EQ(s.AFrange, 500);
  EXPECT_EQ(s.ProfileName, "default");
  EXPECT_EQ(s.SerialPortPattern, "/dev/ttyUSB{n-1}");
}

TEST(SettingsFile, LoaderMatchesSectionsAndKeysWithoutCase) {
  TempDir dir;
  WriteFile(dir / "noctarbel.ini",
            "[teleskop]\r\nPark1Az=12.5\r\npark1alt = 7.25 \r\nHomeAz=oops\r\n"
            "[KAMERA]\r\ncamcomport=7\r\nCameraMode=2\r\nCameraTimeout=12.5\r\n"
            "[Autofocus]\r\nAFposition=1234\r\nAFexptime=0.25\r\n"
            "[COM]\r\nEnableObservatoryControl=5\r\n[FITS]\r\nObservername=  Anna Berg \r\n");
  SettingsRecord s = LoadSettingsFile(dir / "noctarbel.ini");
  EXPECT_DOUBLE_EQ(s.Park1Az, 12.5);
  EXPECT_DOUBLE_EQ(s.Park1Alt, 7.25);
  EXPECT_DOUBLE_EQ(s.HomeAz, 0) << "an unparsable value gives the default";
  EXPECT_EQ(s.CamCOMport, 7);
  EXPECT_EQ(s.CameraMode, 0) << "the camera mode is never read";
  EXPECT_EQ(s.CameraTimeout, 30) << "an integer key does not take a fraction";
  EXPECT_EQ(s.AFposition, 1234);
  EXPECT_FLOAT_EQ(s.AFexptime, 0.25f);
  EXPECT_TRUE(s.EnableObservatoryControl) << "any non-zero value is true";
  EXPECT_EQ(s.Observername, "Anna Berg");
}

TEST(SettingsFile, AByteOrderMarkOrOldLineEndsHideNoSection) {
  TempDir dir;
  const std::string lines[] = {"[COM]", "EnableObservatoryControl=1", "Comport1=4", "[GEO]", "Glaenge=11.5"};
  for (const std::string& start : {std::string("\xEF\xBB\xBF"), std::string()}) {
    for (const char* end : {"\r\n", "\r", "\n"}) {
      std::string text = start;
      for (const auto& line : lines) text += line + end;
      WriteFile(dir / "noctarbel.ini", text);
      SettingsRecord s = LoadSettingsFile(dir / "noctarbel.ini");
      EXPECT_TRUE(s.EnableObservatoryControl) << start.size() << " " << end;
      EXPECT_EQ(s.Comport1, 4);
      EXPECT_DOUBLE_EQ(s.Glaenge, 11.5);
      // Saving keeps the operator's values and writes each section once.
      ASSERT_TRUE(SaveSettingsFile(dir / "noctarbel.ini", s));
      const std::string saved = ReadFile(dir / "noctarbel.ini");
      EXPECT_EQ(saved.rfind("[COM]\r\nEnableObservatoryControl=1\r\nComport1=4\r\n", 0), 0u) << saved.substr(0, 60);
      EXPECT_EQ(saved.find("[COM]", 1), std::string::npos);
      EXPECT_NE(saved.find("\r\nGlaenge=11.5\r\n"), std::string::npos);
    }
  }
}

TEST(SettingsFile, SaverWritesFileOrderAndItsNumberForms) {
  TempDir dir;
  SettingsRecord s;
  s.AFLslope = 0.1f;
  s.AFposition = 1234;
  s.InvertRAguiding = true;
  s.Glaenge = -8.24889;
  ASSERT_TRUE(SaveSettingsFile(dir / "noctarbel.ini", s));
  std::string text = ReadFile(dir / "noctarbel.ini");
  EXPECT_EQ(text.substr(0, 47), "[COM]\r\nEnableObservatoryControl=0\r\nComport1=1\r\n");
  EXPECT_NE(text.find("\r\nAFLslope=0.100000001490116\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nAFposition=1234\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nAFexptime=1\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nInvertRAguiding=1\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nGlaenge=-8.24889\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nCameraMode=0\r\n"), std::string::npos);
  // Every key once, in table order.
  size_t last = 0;
  for (const auto& key : SettingKeys()) {
    size_t at = text.find("\n" + std::string(key.key) + "=");
    ASSERT_NE(at, std::string::npos) << key.key;
    EXPECT_GT(at, last) << key.key;
    last = at;
  }
  EXPECT_NE(text.find("[Profile]\r\nProfileName=default\r\n[Linux]\r\nSerialPortPattern=/dev/ttyUSB{n-1}\r\n"
                      "ShutdownCommand=systemctl poweroff\r\nIndiServers=localhost:7624\r\nAlpacaHosts=\r\n"),
            std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(SettingsFile, RoundTripKeepsEveryValue) {
  TempDir dir;
  SettingsRecord s;
  s.Glaenge = 11.123456789012;
  s.Gbreite = -33.5;
  s.TelescopeObject = "sim:telescope";
  s.Park2Alt = 45.125;
  s.AFRic = -48.0f;
  s.AFLslope = -0.05f;
  s.HistogramMaxLevel = 0.995;
  s.RootImagePath = "/data/images/";
  s.ProfileName = "winter";
  ASSERT_TRUE(SaveSettingsFile(dir / "s.ini", s));
  SettingsRecord back = LoadSettingsFile(dir / "s.ini");
  for (const auto& key : SettingKeys()) {
    EXPECT_EQ(FormatSettingValue(back, key), FormatSettingValue(s, key)) << key.key;
  }
}

TEST(SettingsFile, OtherProgramsEntriesSurviveASave) {
  TempDir dir;
  WriteFile(dir / "noctarbel.ini", "; notes\r\n[GEO]\r\nglaenge=10\r\nMyOwnKey=keep me\r\n[Weather]\r\nStation=42\r\n");
  SettingsRecord s = LoadSettingsFile(dir / "noctarbel.ini");
  ASSERT_TRUE(SaveSettingsFile(dir / "noctarbel.ini", s));
  std::string text = ReadFile(dir / "noctarbel.ini");
  EXPECT_NE(text.find("MyOwnKey=keep me\r\n"), std::string::npos);
  EXPECT_NE(text.find("[Weather]\r\nStation=42\r\n"), std::string::npos);
  EXPECT_NE(text.find("; notes"), std::string::npos);
  EXPECT_EQ(text.find("glaenge=10"), std::string::npos) << "our own key is written once, in its own spelling";
  EXPECT_NE(text.find("Glaenge=10\r\n"), std::string::npos);
}

TEST(SettingsFile, AStringWithALineBreakCannotBreakTheFile) {
  TempDir dir;
  SettingsRecord s;
  s.Observername = "Anna\r\n[COM]\r\nComport1=9";
  ASSERT_TRUE(SaveSettingsFile(dir / "noctarbel.ini", s));
  SettingsRecord back = LoadSettingsFile(dir / "noctarbel.ini");
  EXPECT_EQ(back.Comport1, 1);
  EXPECT_EQ(back.Observername, "Anna[COM]Comport1=9");
}

TEST(SettingsFile, UnwritableFolderIsReportedNotCrashed) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(SaveSettingsFile(dir / "missing" / "noctarbel.ini", SettingsRecord{}, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
TEST(SettingChecked, UsesTheDialogsMessagesAndRanges) {
  SettingsRecord s;
  EXPECT_FALSE(SetSettingChecked(s, "Gbreite", "-33.5"));
  EXPECT_FALSE(SetSettingChecked(s, "park1az", "12.5"));
  EXPECT_FALSE(SetSettingChecked(s, "AFexptime", "0.1"));
  EXPECT_FALSE(SetSettingChecked(s, "CameraMode", "0"));
  EXPECT_FALSE(SetSettingChecked(s, "AFLslope", "-0.05"));
  EXPECT_DOUBLE_EQ(s.Park1Az, 12.5);
  // Refused with the dialog's message, also what the dialog would change or never reads back;
  // the record keeps its values.
  const std::tuple<const char*, const char*, const char*> refused[] = {
      {"Glaenge", "east", "Longitude not correct"},
      {"Glaenge", "400", "Longitude not correct"},
      {"Gbreite", "95", "Latitude not correct"},
      {"Park1Az", "720", "Park pos. 1 Azimuth not correct"},
      {"TrackingRange", "5", "TrackingRange must be an integer from 10 to 100"},
      {"ParkMethod", "2", "ParkMethod must be an integer from 0 to 1"},
      {"InvertRAguiding", "yes", "InvertRAguiding must be 0 or 1"},
      {"Nonsense", "1", "Unknown setting Nonsense"},
      {"Observername", "a\nb", "Observername must not hold control characters"},
      {"CameraMode", "2", "CameraMode cannot be changed: it is always 0"},
      {"AFexptime", "0.25", "AFexptime cannot hold \"0.25\": the settings dialog keeps it as \"0.2\""},
      {"Observername", "Anna ", "Observername cannot hold \"Anna \": the settings dialog keeps it as \"Anna\""},
  };
  for (const auto& [key, text, message] : refused) EXPECT_EQ(SetSettingChecked(s, key, text), message) << key;
  EXPECT_DOUBLE_EQ(s.Gbreite, -33.5);
  EXPECT_EQ(s.CameraMode, 0);
  EXPECT_FLOAT_EQ(s.AFexptime, 0.1f);

  // Loaded from a hand-edited file, such values are replaced and the replacement is said.
  s.Gbreite = 95;
  s.Park1Az = 720;
  EXPECT_EQ(ReplaceAnglesOutOfRange(s),
            (std::vector<std::string>{"Setting Gbreite=95 is outside -90..90: 49.91806 is used instead",
                                      "Setting Park1Az=720 is outside 0..360: 0 is used instead"}));
  EXPECT_DOUBLE_EQ(s.Gbreite, SettingsRecord{}.Gbreite);
  EXPECT_TRUE(ReplaceAnglesOutOfRange(s).empty());
}

}  // namespace noctarbel
