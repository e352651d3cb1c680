#pragma once
// Widgets that mirror one window's Controls store both ways. The store is the truth: the core
// changes a control there and the widget follows; the operator changes a widget and the store
// follows (and with it the listeners of the core, such as the settings taken over at once).

#include <QObject>
#include <QPointer>
#include <functional>
#include <map>
#include <string>

#include "windows/controls.h"

class QAction;
class QButtonGroup;
class QLabel;
class QWidget;

namespace noctarbel::gui {

class ControlBinder : public QObject {
  Q_OBJECT

 public:
  ControlBinder(Controls& store, QObject* parent);
  ~ControlBinder() override;

  Controls& Store() { return store_; }

  // Creates the widget for a declared control under `parent`, named after the control and
  // showing its state: buttons, edits, spin edits, check boxes, radio groups, combo boxes,
  // labels, memos, lamps, group boxes, progress and scroll bars, paint boxes.
  QWidget* Create(const std::string& name, QWidget* parent);
  // The caption of an edit, spin edit or combo box as a label for beside it; nullptr when the
  // control has no caption. The label follows the control's caption, enabled and visible state.
  QLabel* Label(const std::string& name, QWidget* parent);
  // Binds a widget made elsewhere (grids, the log memo, pages): name, hint, enabled, visible.
  void Adopt(const std::string& name, QWidget* widget);
  void BindAction(const std::string& name, QAction* action);

  // The operator clicked the button, check box or menu entry.
  void OnClick(const std::string& name, std::function<void()> handler);
  // The control's text, value, checked state or selection changed, from either side.
  void OnChange(const std::string& name, std::function<void()> handler);
  // Where the operator's clicks and edits go when the window names no handler of its own:
  // the core's handler registered for the control (Station::Activate).
  void SetActivator(std::function<void(const std::string& name)> activator) { activator_ = std::move(activator); }

  QWidget* Widget(const std::string& name) const;
  bool Bound(const std::string& name) const;

 private:
  void StoreChanged(const std::string& name, ControlProperty what);
  void Apply(const std::string& name, ControlProperty what);
  void ApplyAll(const std::string& name);
  void RebuildRadioButtons(const std::string& name);
  void Clicked(const std::string& name);
  // The operator changed an edit, spin edit or list.
  void Edited(const std::string& name);
  void ConnectWidget(const std::string& name, QWidget* widget);

  Controls& store_;
  int token_ = 0;
  bool applying_ = false;  // store -> widget in progress: widget signals are not fed back
  std::map<std::string, QPointer<QWidget>> widgets_;
  std::map<std::string, QPointer<QLabel>> labels_;
  std::map<std::string, QPointer<QAction>> actions_;
  std::map<std::string, QPointer<QButtonGroup>> radioGroups_;
  std::map<std::string, std::function<void()>> clickHandlers_;
  std::map<std::string, std::function<void()>> changeHandlers_;
  std::function<void(const std::string&)> activator_;
};

}  // namespace noctarbel::gui
