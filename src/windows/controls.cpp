#include "windows/controls.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace noctarbel {

ControlState& Controls::Declare(const std::string& name, ControlKind kind, const std::string& parent) {
  auto [it, inserted] = controls_.try_emplace(name);
  if (inserted) order_.push_back(name);
  it->second = ControlState{};
  it->second.kind = kind;
  it->second.parent = parent;
  return it->second;
}

const ControlState& Controls::Get(const std::string& name) const {
  auto it = controls_.find(name);
  if (it == controls_.end()) throw std::logic_error("unknown control " + formName_ + "/" + name);
  return it->second;
}

ControlState& Controls::Mutable(const std::string& name) {
  auto it = controls_.find(name);
  if (it == controls_.end()) throw std::logic_error("unknown control " + formName_ + "/" + name);
  return it->second;
}

int Controls::IntValue(const std::string& name) const { return static_cast<int>(std::lround(Get(name).value)); }

std::string Controls::SelectedItem(const std::string& name) const {
  const ControlState& c = Get(name);
  if (c.selection < 0 || c.selection >= static_cast<int>(c.items.size())) return {};
  return c.items[static_cast<size_t>(c.selection)];
}

void Controls::Notify(const std::string& name, ControlProperty what) {
  // Copy: a listener may subscribe or unsubscribe while being called.
  auto listeners = listeners_;
  for (auto& [token, listener] : listeners) listener(name, what);
}

void Controls::SetText(const std::string& name, const std::string& text) {
  ControlState& c = Mutable(name);
  if (c.text == text) return;
  c.text = text;
  Notify(name, ControlProperty::Text);
}

void Controls::SetValue(const std::string& name, double value) {
  ControlState& c = Mutable(name);
  if (c.kind == ControlKind::SpinEdit && c.maximum > c.minimum) value = std::clamp(value, c.minimum, c.maximum);
  if (c.value == value) return;
  c.value = value;
  Notify(name, ControlProperty::Value);
}

void Controls::SetChecked(const std::string& name, bool checked) {
  ControlState& c = Mutable(name);
  if (c.checked == checked) return;
  c.checked = checked;
  Notify(name, ControlProperty::Checked);
}

void Controls::SetEnabled(const std::string& name, bool enabled) {
  ControlState& c = Mutable(name);
  if (c.enabled == enabled) return;
  c.enabled = enabled;
  Notify(name, ControlProperty::Enabled);
}

void Controls::SetVisible(const std::string& name, bool visible) {
  ControlState& c = Mutable(name);
  if (c.visible == visible) return;
  c.visible = visible;
  Notify(name, ControlProperty::Visible);
}

void Controls::SetColour(const std::string& name, const std::string& colour) {
  ControlState& c = Mutable(name);
  if (c.colour == colour) return;
  c.colour = colour;
  Notify(name, ControlProperty::Colour);
}

void Controls::SetCaption(const std::string& name, const std::string& caption) {
  ControlState& c = Mutable(name);
  if (c.caption == caption) return;
  c.caption = caption;
  Notify(name, ControlProperty::Caption);
}

void Controls::SetHint(const std::string& name, const std::string& hint) {
  ControlState& c = Mutable(name);
  if (c.hint == hint) return;
  c.hint = hint;
  Notify(name, ControlProperty::Hint);
}

void Controls::SetItems(const std::string& name, std::vector<std::string> items) {
  ControlState& c = Mutable(name);
  if (c.items == items) return;
  c.items = std::move(items);
  if (c.selection >= static_cast<int>(c.items.size())) c.selection = -1;
  Notify(name, ControlProperty::Items);
}

void Controls::SetSelection(const std::string& name, int index) {
  ControlState& c = Mutable(name);
  if (index < -1 || index >= static_cast<int>(c.items.size())) index = -1;
  if (c.selection == index) return;
  c.selection = index;
  Notify(name, ControlProperty::Selection);
}

void Controls::SetRange(const std::string& name, double minimum, double maximum) {
  ControlState& c = Mutable(name);
  c.minimum = minimum;
  c.maximum = maximum;
  Notify(name, ControlProperty::Range);
  if (c.kind == ControlKind::SpinEdit && maximum > minimum) SetValue(name, c.value);
}

int Controls::Subscribe(Listener listener) {
  int token = nextToken_++;
  listeners_.emplace(token, std::move(listener));
  return token;
}

void Controls::Unsubscribe(int token) { listeners_.erase(token); }

}  // namespace noctarbel
