#include "gui/shell_forms.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <map>

#include "windows/station.h"
#include "windows/autofocus_window.h"
#include "windows/guiding_window.h"
#include "gui/control_binding.h"
#include "gui/form_layout.h"
#include "gui/guiding_test_plot.h"
#include "gui/vcurve_plot.h"

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

void BuildFormFromStore(QWidget* window, Station& station, const std::string& formName) {
  auto* binder = new ControlBinder(station.Form(formName), window);
  binder->SetActivator([&station, formName](const std::string& name) { station.Activate(formName, name); });
  auto* layout = new QVBoxLayout(window);
  FormBuilder builder(*binder);
  // The autofocus window's V curve and the guiding test's move are pictures drawn from the
  // operations' results: the V below the table, the move beside the test's fields and result.
  if (formName == kAutofocusForm && station.Form(formName).Has("VCurvePlot")) {
    builder.SetContainerLayout("", layout, window);
    auto* plot = new VCurvePlot(station, window);
    binder->Adopt("VCurvePlot", plot);
    builder.PlaceRemaining();
    layout->addWidget(plot, 1);
    return;
  }
  if (formName == kGuidingTestForm && station.Form(formName).Has("GuidingPicture")) {
    auto* row = new QHBoxLayout();
    layout->addLayout(row, 1);
    auto* fields = new QWidget(window);
    auto* column = new QVBoxLayout(fields);
    column->setContentsMargins(0, 0, 0, 0);
    builder.SetContainerLayout("", column, fields);
    auto* plot = new GuidingTestPlot(station, window);
    binder->Adopt("GuidingPicture", plot);
    builder.PlaceRemaining();
    column->addStretch(1);
    row->addWidget(fields);
    row->addWidget(plot, 1);
    return;
  }
  builder.SetContainerLayout("", layout, window);
  builder.PlaceRemaining();
  layout->addStretch(1);
}

bool RouteSpaceKey(Station& station, const std::string& formName) { return station.Activate(formName, "FormKeyDown"); }

ShellForm::ShellForm(Station& station, const QString& name, const QString& caption, QWidget* parent)
    : QWidget(parent, Qt::Window), station_(station) {
  setObjectName(name);
  setWindowTitle(caption);
  // The autofocus window holds its table and the V curve's picture.
  resize(480, name == kAutofocusForm ? 720 : 320);
  BuildFormFromStore(this, station, name.toStdString());
}

void ShellForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && RouteSpaceKey(station_, objectName().toStdString())) {
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

TTestForm1::TTestForm1(Station& station, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TestForm1"));
  setWindowTitle(ShellCaption("TestForm1"));
  auto* binder = new ControlBinder(station.Form("TestForm1"), this);
  binder->SetActivator([&station](const std::string& name) { station.Activate("TestForm1", name); });
  auto* layout = new QVBoxLayout(this);
  FormBuilder builder(*binder);
  builder.AddLines(this, layout, {{"DateEdit"}, {"TimeEdit"}, {"Startbutton", "CancelButton", "AktuellButton"}});
  builder.SetContainerLayout("", layout, this);
  builder.PlaceRemaining();
  layout->addStretch(1);
  // Enter in a field starts the test run; Escape and the close box cancel it (the core
  // counts only Start as OK).
  static_cast<QPushButton*>(binder->Widget("Startbutton"))->setDefault(true);
  resize(380, 140);
}

}  // namespace noctarbel::gui
