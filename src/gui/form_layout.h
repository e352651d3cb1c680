#pragma once
// Lays out a window's controls from short lists of names: a line holds controls side by side,
// an edit, spin edit or combo box with its caption as a label before it; the first labels of
// the lines of one box share a width so that their fields line up.

#include <QString>
#include <map>
#include <string>
#include <vector>

class QBoxLayout;
class QVBoxLayout;
class QWidget;

namespace noctarbel::gui {

class ControlBinder;

using Line = std::vector<std::string>;

// A box of lines: a group box of the store when `group` names one, a plain titled frame when
// `group` is other text, no frame when empty.
struct Section {
  std::string group;
  std::vector<Line> lines;
};

class FormBuilder {
 public:
  explicit FormBuilder(ControlBinder& binder) : binder_(binder) {}

  // Adds the lines to `layout`, creating the controls under `parent` (controls made earlier,
  // such as grids, are placed as they are).
  void AddLines(QWidget* parent, QVBoxLayout* layout, const std::vector<Line>& lines);
  // A section as a widget for a layout of the caller.
  QWidget* MakeSection(QWidget* parent, const Section& section);
  // Where controls of a container (window, page or group) that no list names are added.
  void SetContainerLayout(const std::string& container, QVBoxLayout* layout, QWidget* parent);
  // Places every declared control that is still missing at the end of its container, so that
  // a control declared in the core is never lost in the window.
  void PlaceRemaining();

 private:
  QWidget* WidgetFor(const std::string& name, QWidget* parent);

  ControlBinder& binder_;
  struct Container {
    QVBoxLayout* layout;
    QWidget* parent;
  };
  std::map<std::string, Container> containers_;
};

}  // namespace noctarbel::gui
