#pragma once
// The operator's controls of one window, by the names the handlers use. Headless, this store
// is the whole user interface; the desktop program mirrors it in widgets both ways.

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace noctarbel {

enum class ControlKind {
  Button,
  Edit,
  SpinEdit,
  CheckBox,
  RadioGroup,
  ComboBox,
  Label,
  Memo,
  Lamp,
  GroupBox,
  StatusBar,
  ProgressBar,
  ScrollBar,
  Grid,
  PaintBox,
  PageControl,
  Page,
  UpDown,  // a pair of arrows; the value says which was clicked (> 0 up, < 0 down)
};

enum class ControlProperty { Text, Value, Checked, Enabled, Visible, Colour, Caption, Items, Selection, Hint, Range };

struct ControlState {
  ControlKind kind = ControlKind::Edit;
  std::string caption;  // label or button text
  std::string hint;
  std::string text;  // edit text, memo text (lines joined by "\n"), status bar text
  double value = 0;  // spin edits, progress bars, scroll bars
  double minimum = 0;
  double maximum = 0;
  double step = 1;
  bool checked = false;
  bool enabled = true;
  bool visible = true;
  bool readOnly = false;
  std::string colour;              // lamps and coloured edits: "red", "lime", "yellow", "silver", ...
  std::vector<std::string> items;  // combo boxes and radio groups
  int selection = -1;              // index into items, -1 for none
  std::string parent;              // the group, page or window the control sits in
};

class Controls {
 public:
  using Listener = std::function<void(const std::string& name, ControlProperty what)>;

  explicit Controls(std::string formName) : formName_(std::move(formName)) {}

  const std::string& FormName() const { return formName_; }

  // Adds a control (or replaces its declaration) and returns it for setting its start values.
  ControlState& Declare(const std::string& name, ControlKind kind, const std::string& parent = {});
  bool Has(const std::string& name) const { return controls_.count(name) != 0; }
  // Unknown names are programming errors: std::logic_error naming the control.
  const ControlState& Get(const std::string& name) const;
  // Names in declaration order.
  const std::vector<std::string>& Names() const { return order_; }

  std::string Text(const std::string& name) const { return Get(name).text; }
  double Value(const std::string& name) const { return Get(name).value; }
  int IntValue(const std::string& name) const;
  bool Checked(const std::string& name) const { return Get(name).checked; }
  bool Enabled(const std::string& name) const { return Get(name).enabled; }
  bool Visible(const std::string& name) const { return Get(name).visible; }
  std::string Colour(const std::string& name) const { return Get(name).colour; }
  std::string Caption(const std::string& name) const { return Get(name).caption; }
  const std::vector<std::string>& Items(const std::string& name) const { return Get(name).items; }
  int Selection(const std::string& name) const { return Get(name).selection; }
  // The selected item's text, empty when nothing is selected.
  std::string SelectedItem(const std::string& name) const;

  // Setters notify the listeners only when the value changes.
  void SetText(const std::string& name, const std::string& text);
  // Spin edits keep their value inside their range, as the widget does.
  void SetValue(const std::string& name, double value);
  void SetChecked(const std::string& name, bool checked);
  void SetEnabled(const std::string& name, bool enabled);
  void SetVisible(const std::string& name, bool visible);
  void SetColour(const std::string& name, const std::string& colour);
  void SetCaption(const std::string& name, const std::string& caption);
  void SetHint(const std::string& name, const std::string& hint);
  void SetItems(const std::string& name, std::vector<std::string> items);
  void SetSelection(const std::string& name, int index);
  void SetRange(const std::string& name, double minimum, double maximum);

  int Subscribe(Listener listener);
  void Unsubscribe(int token);

 private:
  ControlState& Mutable(const std::string& name);
  void Notify(const std::string& name, ControlProperty what);

  std::string formName_;
  std::map<std::string, ControlState> controls_;
  std::vector<std::string> order_;
  std::map<int, Listener> listeners_;
  int nextToken_ = 1;
};

}  // namespace noctarbel
