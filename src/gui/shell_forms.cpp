#include "gui/shell_forms.h"

#include <map>

namespace noctarbel::gui {

QString ShellCaption(const std::string& formName) {
  static const std::map<std::string, const char*> captions = {
      {"TestForm1", "Testablauf"},    {"ImgShowform", "Image viewer"}, {"CalibrateForm1", "Calibration"},
      {"AutofocusForm", "Autofocus"}, {"HorizonForm", "Horizon"},      {"GuidingtestForm", "Guiding test"},
      {"CameraInfo", "Camera Info"},
  };
  auto it = captions.find(formName);
  return it == captions.end() ? QString() : QString::fromUtf8(it->second);
}

ShellForm::ShellForm(const QString& name, const QString& caption, QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(name);
  setWindowTitle(caption);
  resize(480, 320);
}

TTestForm1::TTestForm1(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TestForm1"));
  setWindowTitle(ShellCaption("TestForm1"));
  resize(420, 240);
}

}  // namespace noctarbel::gui
