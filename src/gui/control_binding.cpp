#include "gui/control_binding.h"

#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <climits>
#include <cmath>

#include "gui/lamp_widget.h"

namespace noctarbel::gui {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

bool ShowsCaptionInLabel(ControlKind kind) {
  return kind == ControlKind::Edit || kind == ControlKind::SpinEdit || kind == ControlKind::ComboBox ||
         kind == ControlKind::ScrollBar;
}

int RoundToInt(double value) { return static_cast<int>(std::lround(value)); }

// The tab widget a page sits in, and the page's index there.
QTabWidget* TabOf(QWidget* page, int* index) {
  if (!page || !page->parentWidget()) return nullptr;
  auto* tabs = qobject_cast<QTabWidget*>(page->parentWidget()->parentWidget());
  if (!tabs) return nullptr;
  *index = tabs->indexOf(page);
  return *index >= 0 ? tabs : nullptr;
}

QLabel* StatusText(QWidget* statusBar) { return statusBar ? statusBar->findChild<QLabel*>() : nullptr; }

// Coloured edits show their colour as background with dark text, as a lamp would.
void SetEditColour(QWidget* edit, const std::string& colour) {
  if (colour.empty()) {
    edit->setStyleSheet({});
  } else {
    edit->setStyleSheet(QStringLiteral("background-color: %1; color: black;").arg(Q(colour)));
  }
}

}  // namespace

ControlBinder::ControlBinder(Controls& store, QObject* parent) : QObject(parent), store_(store) {
  token_ = store_.Subscribe([this](const std::string& name, ControlProperty what) { StoreChanged(name, what); });
}

ControlBinder::~ControlBinder() { store_.Unsubscribe(token_); }

QWidget* ControlBinder::Create(const std::string& name, QWidget* parent) {
  const ControlState& state = store_.Get(name);
  QWidget* widget = nullptr;
  switch (state.kind) {
    case ControlKind::Button:
      widget = new QPushButton(parent);
      // Buttons may shrink to their text on small screens rather than push controls away.
      widget->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
      break;
    case ControlKind::Edit: {
      auto* edit = new QLineEdit(parent);
      edit->setReadOnly(state.readOnly);
      widget = edit;
      break;
    }
    case ControlKind::SpinEdit:
      widget = new QSpinBox(parent);
      break;
    case ControlKind::CheckBox:
      widget = new QCheckBox(parent);
      break;
    case ControlKind::RadioGroup: {
      auto* box = new QGroupBox(parent);
      new QVBoxLayout(box);
      auto* group = new QButtonGroup(box);
      group->setExclusive(true);
      radioGroups_[name] = group;
      widget = box;
      break;
    }
    case ControlKind::ComboBox:
      widget = new QComboBox(parent);
      break;
    case ControlKind::Label:
      widget = new QLabel(parent);
      break;
    case ControlKind::Memo: {
      auto* memo = new QPlainTextEdit(parent);
      memo->setReadOnly(state.readOnly);
      memo->setLineWrapMode(QPlainTextEdit::NoWrap);
      widget = memo;
      break;
    }
    case ControlKind::Lamp:
      widget = new LampWidget(parent);
      break;
    case ControlKind::GroupBox:
      widget = new QGroupBox(parent);
      break;
    case ControlKind::StatusBar: {
      auto* bar = new QStatusBar(parent);
      bar->setSizeGripEnabled(false);
      bar->addWidget(new QLabel(bar), 1);
      widget = bar;
      break;
    }
    case ControlKind::ProgressBar: {
      auto* bar = new QProgressBar(parent);
      bar->setTextVisible(false);
      widget = bar;
      break;
    }
    case ControlKind::ScrollBar:
      widget = new QScrollBar(Qt::Horizontal, parent);
      break;
    case ControlKind::PaintBox: {
      // The image preview: width and height are declared as the control's range.
      auto* box = new QLabel(parent);
      box->setMinimumSize(RoundToInt(state.minimum), RoundToInt(state.maximum));
      box->setAlignment(Qt::AlignCenter);
      box->setAutoFillBackground(true);
      QPalette palette = box->palette();
      palette.setColor(QPalette::Window, Qt::black);
      box->setPalette(palette);
      widget = box;
      break;
    }
    case ControlKind::UpDown: {
      // Two small arrows, one above the other; a click sets the store's value to the
      // direction and goes to the control's handler.
      auto* box = new QWidget(parent);
      auto* column = new QVBoxLayout(box);
      column->setContentsMargins(0, 0, 0, 0);
      column->setSpacing(0);
      for (int direction : {1, -1}) {
        auto* arrow = new QToolButton(box);
        arrow->setArrowType(direction > 0 ? Qt::UpArrow : Qt::DownArrow);
        arrow->setFixedSize(18, 12);
        arrow->setAutoRepeat(true);
        connect(arrow, &QToolButton::clicked, this, [this, name, direction] {
          store_.SetValue(name, direction);
          Clicked(name);
        });
        column->addWidget(arrow);
      }
      widget = box;
      break;
    }
    case ControlKind::Grid:
    case ControlKind::PageControl:
    case ControlKind::Page:
      // Made by the window (grids, pages) and adopted.
      widget = new QWidget(parent);
      break;
  }
  widget->setObjectName(Q(name));
  widgets_[name] = widget;
  applying_ = true;
  ApplyAll(name);
  applying_ = false;
  ConnectWidget(name, widget);
  return widget;
}

QLabel* ControlBinder::Label(const std::string& name, QWidget* parent) {
  const ControlState& state = store_.Get(name);
  if (!ShowsCaptionInLabel(state.kind) || state.caption.empty()) return nullptr;
  auto* label = new QLabel(Q(state.caption), parent);
  label->setBuddy(Widget(name));
  label->setToolTip(Q(state.hint));
  label->setEnabled(state.enabled);
  if (!state.visible) label->hide();
  labels_[name] = label;
  return label;
}

void ControlBinder::Adopt(const std::string& name, QWidget* widget) {
  widget->setObjectName(Q(name));
  widgets_[name] = widget;
  applying_ = true;
  Apply(name, ControlProperty::Hint);
  Apply(name, ControlProperty::Enabled);
  Apply(name, ControlProperty::Caption);
  if (!store_.Visible(name)) Apply(name, ControlProperty::Visible);
  applying_ = false;
}

void ControlBinder::BindAction(const std::string& name, QAction* action) {
  const ControlState& state = store_.Get(name);
  action->setObjectName(Q(name));
  action->setText(Q(state.caption));
  action->setToolTip(Q(state.hint));
  action->setEnabled(state.enabled);
  action->setVisible(state.visible);
  actions_[name] = action;
  connect(action, &QAction::triggered, this, [this, name] { Clicked(name); });
}

void ControlBinder::OnClick(const std::string& name, std::function<void()> handler) {
  clickHandlers_[name] = std::move(handler);
}

void ControlBinder::OnChange(const std::string& name, std::function<void()> handler) {
  changeHandlers_[name] = std::move(handler);
}

QWidget* ControlBinder::Widget(const std::string& name) const {
  auto it = widgets_.find(name);
  return it == widgets_.end() ? nullptr : it->second.data();
}

bool ControlBinder::Bound(const std::string& name) const { return Widget(name) || actions_.count(name) != 0; }

void ControlBinder::Clicked(const std::string& name) {
  auto it = clickHandlers_.find(name);
  if (it == clickHandlers_.end() || !it->second) {
    if (activator_) activator_(name);  // a control without a core handler stays inert
    return;
  }
  auto handler = it->second;  // the handler may replace itself
  handler();
}

void ControlBinder::Edited(const std::string& name) {
  if (activator_ && !clickHandlers_.count(name)) activator_(name);
}

void ControlBinder::ConnectWidget(const std::string& name, QWidget* widget) {
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    connect(edit, &QLineEdit::textChanged, this, [this, name](const QString& text) {
      if (!applying_) store_.SetText(name, text.toStdString());
    });
    connect(edit, &QLineEdit::textEdited, this, [this, name] { Edited(name); });
  } else if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
    connect(spin, &QSpinBox::valueChanged, this, [this, name](int value) {
      if (applying_) return;
      store_.SetValue(name, value);
      Edited(name);
    });
  } else if (auto* check = qobject_cast<QCheckBox*>(widget)) {
    connect(check, &QCheckBox::toggled, this, [this, name](bool checked) {
      if (!applying_) store_.SetChecked(name, checked);
    });
    connect(check, &QCheckBox::clicked, this, [this, name] { Clicked(name); });
  } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
    connect(button, &QPushButton::clicked, this, [this, name] { Clicked(name); });
  } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
    connect(combo, &QComboBox::currentIndexChanged, this, [this, name](int index) {
      if (applying_) return;
      store_.SetSelection(name, index);
      Edited(name);
    });
  } else if (auto* bar = qobject_cast<QScrollBar*>(widget)) {
    connect(bar, &QScrollBar::valueChanged, this, [this, name](int value) {
      if (applying_) return;
      store_.SetValue(name, value);
      Edited(name);
    });
  } else if (auto* memo = qobject_cast<QPlainTextEdit*>(widget)) {
    connect(memo, &QPlainTextEdit::textChanged, this, [this, name, memo] {
      if (!applying_ && !memo->isReadOnly()) store_.SetText(name, memo->toPlainText().toStdString());
    });
  }
  auto group = radioGroups_.find(name);
  if (group != radioGroups_.end()) {
    connect(group->second, &QButtonGroup::idToggled, this, [this, name](int id, bool checked) {
      if (!applying_ && checked) store_.SetSelection(name, id);
    });
    connect(group->second, &QButtonGroup::idClicked, this, [this, name] { Clicked(name); });
  }
}

void ControlBinder::StoreChanged(const std::string& name, ControlProperty what) {
  if (!Bound(name)) return;
  bool wasApplying = applying_;
  applying_ = true;
  Apply(name, what);
  applying_ = wasApplying;
  bool valueChange = what == ControlProperty::Text || what == ControlProperty::Value ||
                     what == ControlProperty::Checked || what == ControlProperty::Selection;
  auto it = changeHandlers_.find(name);
  if (valueChange && it != changeHandlers_.end() && it->second) {
    auto handler = it->second;
    handler();
  }
}

void ControlBinder::ApplyAll(const std::string& name) {
  for (ControlProperty what :
       {ControlProperty::Range, ControlProperty::Items, ControlProperty::Text, ControlProperty::Value,
        ControlProperty::Checked, ControlProperty::Selection, ControlProperty::Enabled, ControlProperty::Colour,
        ControlProperty::Caption, ControlProperty::Hint}) {
    Apply(name, what);
  }
  if (!store_.Visible(name)) Apply(name, ControlProperty::Visible);
}

void ControlBinder::Apply(const std::string& name, ControlProperty what) {
  const ControlState& state = store_.Get(name);
  auto actionIt = actions_.find(name);
  if (actionIt != actions_.end() && actionIt->second) {
    QAction* action = actionIt->second;
    if (what == ControlProperty::Enabled) action->setEnabled(state.enabled);
    if (what == ControlProperty::Visible) action->setVisible(state.visible);
    if (what == ControlProperty::Caption) action->setText(Q(state.caption));
    if (what == ControlProperty::Hint) action->setToolTip(Q(state.hint));
  }
  QWidget* widget = Widget(name);
  if (!widget) return;
  QLabel* label = labels_.count(name) ? labels_[name].data() : nullptr;

  switch (what) {
    case ControlProperty::Enabled:
      widget->setEnabled(state.enabled);
      if (label) label->setEnabled(state.enabled);
      return;
    case ControlProperty::Visible: {
      int index = -1;
      if (QTabWidget* tabs = state.kind == ControlKind::Page ? TabOf(widget, &index) : nullptr) {
        tabs->setTabVisible(index, state.visible);
      } else {
        widget->setVisible(state.visible);
      }
      if (label) label->setVisible(state.visible);
      return;
    }
    case ControlProperty::Hint:
      widget->setToolTip(Q(state.hint));
      if (label) label->setToolTip(Q(state.hint));
      return;
    default:
      break;
  }

  switch (state.kind) {
    case ControlKind::Button:
    case ControlKind::CheckBox: {
      auto* button = static_cast<QAbstractButton*>(widget);
      if (what == ControlProperty::Caption) {
        button->setText(Q(state.caption));
        if (state.kind == ControlKind::Button) {
          button->setMinimumWidth(button->fontMetrics().horizontalAdvance(button->text()) + 16);
        }
      }
      if (what == ControlProperty::Checked && button->isCheckable()) button->setChecked(state.checked);
      return;
    }
    case ControlKind::Edit: {
      auto* edit = static_cast<QLineEdit*>(widget);
      if (what == ControlProperty::Text && edit->text() != Q(state.text)) edit->setText(Q(state.text));
      // A field too narrow for its text (a long device id, a path) shows it whole in its tooltip.
      if (what == ControlProperty::Text) {
        edit->setToolTip(state.text.empty() ? Q(state.hint)
                                            : Q(state.hint.empty() ? state.text : state.hint + "\n" + state.text));
      }
      if (what == ControlProperty::Colour) SetEditColour(edit, state.colour);
      if (what == ControlProperty::Caption && label) label->setText(Q(state.caption));
      return;
    }
    case ControlKind::SpinEdit: {
      auto* spin = static_cast<QSpinBox*>(widget);
      if (what == ControlProperty::Range) {
        if (state.maximum > state.minimum) {
          spin->setRange(RoundToInt(state.minimum), RoundToInt(state.maximum));
        } else {
          spin->setRange(INT_MIN, INT_MAX);
        }
        spin->setSingleStep(std::max(1, RoundToInt(state.step)));
      }
      if (what == ControlProperty::Value) spin->setValue(RoundToInt(state.value));
      if (what == ControlProperty::Caption && label) label->setText(Q(state.caption));
      return;
    }
    case ControlKind::ComboBox: {
      auto* combo = static_cast<QComboBox*>(widget);
      if (what == ControlProperty::Items) {
        combo->clear();
        for (const auto& item : state.items) combo->addItem(Q(item));
        combo->setCurrentIndex(state.selection);
      }
      if (what == ControlProperty::Selection) combo->setCurrentIndex(state.selection);
      if (what == ControlProperty::Caption && label) label->setText(Q(state.caption));
      return;
    }
    case ControlKind::RadioGroup: {
      auto* box = static_cast<QGroupBox*>(widget);
      if (what == ControlProperty::Caption) box->setTitle(Q(state.caption));
      if (what == ControlProperty::Items) RebuildRadioButtons(name);
      if (what == ControlProperty::Items || what == ControlProperty::Selection) {
        QButtonGroup* group = radioGroups_[name];
        if (QAbstractButton* button = group->button(state.selection)) {
          button->setChecked(true);
        } else if (QAbstractButton* checked = group->checkedButton()) {
          group->setExclusive(false);  // an exclusive group cannot show "nothing chosen"
          checked->setChecked(false);
          group->setExclusive(true);
        }
      }
      return;
    }
    case ControlKind::Label:
      if (what == ControlProperty::Caption) static_cast<QLabel*>(widget)->setText(Q(state.caption));
      return;
    case ControlKind::Memo: {
      auto* memo = qobject_cast<QPlainTextEdit*>(widget);
      if (memo && what == ControlProperty::Text && memo->toPlainText() != Q(state.text)) {
        memo->setPlainText(Q(state.text));
      }
      return;
    }
    case ControlKind::Lamp:
      if (what == ControlProperty::Colour) static_cast<LampWidget*>(widget)->SetColour(Q(state.colour));
      return;
    case ControlKind::GroupBox:
      if (what == ControlProperty::Caption) static_cast<QGroupBox*>(widget)->setTitle(Q(state.caption));
      return;
    case ControlKind::StatusBar:
      if (what == ControlProperty::Text) {
        if (QLabel* text = StatusText(widget)) {
          text->setText(Q(state.text));
          text->setToolTip(Q(state.text));
        }
      }
      return;
    case ControlKind::ProgressBar: {
      auto* bar = static_cast<QProgressBar*>(widget);
      if (what == ControlProperty::Range) bar->setRange(RoundToInt(state.minimum), RoundToInt(state.maximum));
      if (what == ControlProperty::Value) bar->setValue(RoundToInt(state.value));
      return;
    }
    case ControlKind::ScrollBar: {
      auto* bar = static_cast<QScrollBar*>(widget);
      if (what == ControlProperty::Range && state.maximum > state.minimum) {
        bar->setRange(RoundToInt(state.minimum), RoundToInt(state.maximum));
      }
      if (what == ControlProperty::Value) bar->setValue(RoundToInt(state.value));
      if (what == ControlProperty::Caption && label) label->setText(Q(state.caption));
      return;
    }
    case ControlKind::Page: {
      int index = -1;
      QTabWidget* tabs = TabOf(widget, &index);
      if (tabs && what == ControlProperty::Caption) tabs->setTabText(index, Q(state.caption));
      return;
    }
    case ControlKind::PaintBox:
    case ControlKind::Grid:
    case ControlKind::PageControl:
    case ControlKind::UpDown:
      return;
  }
}

void ControlBinder::RebuildRadioButtons(const std::string& name) {
  QButtonGroup* group = radioGroups_[name];
  auto* box = qobject_cast<QGroupBox*>(Widget(name));
  if (!group || !box) return;
  for (QAbstractButton* old : group->buttons()) {
    group->removeButton(old);
    delete old;
  }
  const auto& items = store_.Get(name).items;
  for (int i = 0; i < static_cast<int>(items.size()); ++i) {
    auto* radio = new QRadioButton(Q(items[static_cast<size_t>(i)]), box);
    group->addButton(radio, i);
    box->layout()->addWidget(radio);
  }
}

}  // namespace noctarbel::gui
