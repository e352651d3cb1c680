#include "gui/form_layout.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/control_binding.h"

namespace noctarbel::gui {

namespace {

bool ExpandsHorizontally(QWidget* widget) { return widget->sizePolicy().horizontalPolicy() & QSizePolicy::ExpandFlag; }

bool ExpandsVertically(QWidget* widget) { return widget->sizePolicy().verticalPolicy() & QSizePolicy::ExpandFlag; }

}  // namespace

QWidget* FormBuilder::WidgetFor(const std::string& name, QWidget* parent) {
  if (QWidget* made = binder_.Widget(name)) {
    made->setParent(parent);
    return made;
  }
  return binder_.Create(name, parent);
}

void FormBuilder::AddLines(QWidget* parent, QVBoxLayout* layout, const std::vector<Line>& lines) {
  std::vector<QLabel*> firstLabels;
  for (const Line& line : lines) {
    auto* row = new QHBoxLayout();
    bool expands = false;
    bool tall = false;
    for (size_t i = 0; i < line.size(); ++i) {
      QWidget* widget = WidgetFor(line[i], parent);
      if (QLabel* label = binder_.Label(line[i], parent)) {
        row->addWidget(label);
        if (i == 0) firstLabels.push_back(label);
      }
      row->addWidget(widget, ExpandsHorizontally(widget) ? 1 : 0);
      expands = expands || ExpandsHorizontally(widget);
      tall = tall || ExpandsVertically(widget);
    }
    if (!expands) row->addStretch(1);
    layout->addLayout(row, tall ? 1 : 0);
  }
  int width = 0;
  for (QLabel* label : firstLabels) width = std::max(width, label->sizeHint().width());
  for (QLabel* label : firstLabels) label->setMinimumWidth(width);
}

QWidget* FormBuilder::MakeSection(QWidget* parent, const Section& section) {
  QWidget* box = nullptr;
  if (section.group.empty()) {
    box = new QWidget(parent);
  } else if (binder_.Store().Has(section.group)) {
    box = WidgetFor(section.group, parent);
  } else {
    box = new QGroupBox(QString::fromStdString(section.group), parent);
  }
  auto* layout = new QVBoxLayout(box);
  if (section.group.empty()) layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(4);
  AddLines(box, layout, section.lines);
  if (binder_.Store().Has(section.group)) SetContainerLayout(section.group, layout, box);
  return box;
}

void FormBuilder::SetContainerLayout(const std::string& container, QVBoxLayout* layout, QWidget* parent) {
  containers_[container] = Container{layout, parent};
}

void FormBuilder::PlaceRemaining() {
  Controls& store = binder_.Store();
  for (const auto& name : store.Names()) {
    if (binder_.Bound(name)) continue;
    auto it = containers_.find(store.Get(name).parent);
    if (it == containers_.end()) continue;
    AddLines(it->second.parent, it->second.layout, {{name}});
  }
}

}  // namespace noctarbel::gui
