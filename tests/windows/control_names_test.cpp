// Every control name the program's code uses must be one a window declares: a misspelt name
// would otherwise fail only when its line runs, perhaps in the middle of a night. This scans
// the sources for the names passed to the control store, to handlers and to the windows'
// widgets, and checks each against the declarations.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include "windows/main_window.h"
#include "windows/station.h"
#include "windows/install_windows.h"
#include "tests/station_fixture.h"

namespace noctarbel::testing {
namespace {

using Declared = std::map<std::string, std::set<std::string>>;  // window -> controls

// Names used in one source text that no window declares, as "file: name".
std::vector<std::string> UndeclaredNames(const std::string& text, const std::string& file, const Declared& declared) {
  std::set<std::string> everywhere;
  for (const auto& [form, names] : declared) everywhere.insert(names.begin(), names.end());
  std::vector<std::string> found;
  auto check = [&](const std::string& form, const std::string& name) {
    // Window events ("FormShow", "FormKeyDown") are handled by name but are no controls.
    if (name.rfind("Form", 0) == 0) return;
    const bool known =
        form.empty() ? everywhere.count(name) != 0 : declared.count(form) != 0 && declared.at(form).count(name) != 0;
    if (!known) found.push_back(file + ": " + (form.empty() ? "" : form + "/") + name);
  };
  // The control store, and the desktop windows' bindings of widgets to it.
  static const std::regex storeCall(
      R"re((?:\.|->)(SetText|Text|SetValue|Value|IntValue|SetChecked|Checked|SetEnabled|Enabled|SetVisible|Visible|)re"
      R"re(SetColour|Colour|SetCaption|Caption|SetHint|SetItems|Items|SetSelection|Selection|SelectedItem|)re"
      R"re(SetRange|Get|Create|OnClick|OnChange|Widget|Label|Adopt|BindAction)\("([A-Za-z][A-Za-z0-9_]*)")re");
  for (std::sregex_iterator it(text.begin(), text.end(), storeCall), end; it != end; ++it) check("", (*it)[2]);
  // Handlers and clicks by window and control; a window named by a constant is not checked
  // for the window, only for the name.
  static const std::regex handlerCall(R"re((SetHandler|Activate)\(\s*("([A-Za-z0-9]+)"|k\w+),\s*"([A-Za-z0-9_]+)")re");
  for (std::sregex_iterator it(text.begin(), text.end(), handlerCall), end; it != end; ++it) {
    check((*it)[3].matched ? std::string((*it)[3]) : std::string(), (*it)[4]);
  }
  static const std::regex mainClick(R"re(Activate\("([A-Za-z0-9_]+)"\))re");
  for (std::sregex_iterator it(text.begin(), text.end(), mainClick), end; it != end; ++it)
    check("PilotForm1", (*it)[1]);
  return found;
}

class ControlNamesTest : public StationFixture {
 protected:
  ControlNamesTest() {
    InstallHandlers(*station);
    CreateForms(*station);
    for (Controls* form : {&station->Main, &station->Setup}) Add(*form);
    for (const auto& name : FormCreationOrder()) Add(station->Form(name));
  }
  void Add(const Controls& form) {
    auto& names = declared[form.FormName()];
    names.insert(form.Names().begin(), form.Names().end());
  }
  Declared declared;
};

TEST_F(ControlNamesTest, EveryNameTheSourcesUseIsDeclared) {
  const std::filesystem::path sources = std::filesystem::path(NOCTARBEL_SOURCE_DATA_DIR).parent_path() / "src";
  std::vector<std::string> undeclared;
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(sources)) {
    const auto extension = entry.path().extension();
    if (extension != ".cpp" && extension != ".h") continue;
    ++files;
    auto found = UndeclaredNames(ReadFile(entry.path()), entry.path().filename().string(), declared);
    undeclared.insert(undeclared.end(), found.begin(), found.end());
  }
  EXPECT_GT(files, 50);
  EXPECT_TRUE(undeclared.empty()) << ::testing::PrintToString(undeclared);
}

// The check itself: a misspelt name in a handler, a click and a store call are all found.
TEST_F(ControlNamesTest, AMisspeltNameIsFound) {
  const std::string fixture = R"(
    station.Main.SetText("StatusBar1", "fine");
    station.Main.SetEnabled("DachAufButon", false);
    station.SetHandler("PilotForm1", "ParkButon", ParkButtonClick);
    station.SetHandler("HorizonForm", "FormShow", Show);
    station.Activate("ExpozeButton");
  )";
  EXPECT_EQ(UndeclaredNames(fixture, "fixture", declared),
            (std::vector<std::string>{"fixture: DachAufButon", "fixture: PilotForm1/ParkButon",
                                      "fixture: PilotForm1/ExpozeButton"}));
}

}  // namespace
}  // namespace noctarbel::testing
