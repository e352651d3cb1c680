#include "windows/controls.h"

#include <gtest/gtest.h>

#include "windows/main_window_controls.h"
#include "windows/setup_window.h"

namespace noctarbel {
namespace {

TEST(Controls, UnknownNamesAreProgrammingErrors) {
  Controls c("PilotForm1");
  DeclareMainWindowControls(c);
  EXPECT_THROW(c.Text("NoSuchEdit"), std::logic_error);
  EXPECT_THROW(c.SetText("ExecuteButon", "x"), std::logic_error);
}

TEST(Controls, ListenersHearOnlyRealChanges) {
  Controls c("PilotForm1");
  DeclareMainWindowControls(c);
  std::vector<std::string> heard;
  int token = c.Subscribe([&](const std::string& name, ControlProperty) { heard.push_back(name); });
  c.SetColour("ExecLight", "silver");  // already silver
  c.SetColour("ExecLight", "lime");
  c.SetText("StatusBar1", "Going into park position 1");
  c.Unsubscribe(token);
  c.SetText("StatusBar1", "In park position");
  EXPECT_EQ(heard, (std::vector<std::string>{"ExecLight", "StatusBar1"}));
}

TEST(Controls, SpinEditsStayInTheirRange) {
  Controls c("PilotForm1");
  DeclareMainWindowControls(c);
  c.SetValue("BinningEdit1", 9);
  EXPECT_EQ(c.IntValue("BinningEdit1"), 4);
  c.SetValue("SYrangeEdit", 1);
  EXPECT_EQ(c.IntValue("SYrangeEdit"), 3);
  c.SetSelection("NSbox", 5);
  EXPECT_EQ(c.Selection("NSbox"), -1);
  EXPECT_EQ(c.SelectedItem("NSbox"), "");
}

}  // namespace
}  // namespace noctarbel
