#include "gui/window_export.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLayout>
#include <QMenu>
#include <QPixmap>
#include <QWidget>

namespace noctarbel::gui {

namespace {

QString ShortClassName(const QObject* object) {
  QString name = QString::fromLatin1(object->metaObject()->className());
  int colons = name.lastIndexOf(QStringLiteral("::"));
  return colons < 0 ? name : name.mid(colons + 2);
}

// Qt's own helper objects carry names starting with "qt_".
bool IsControlName(const QString& name) { return !name.isEmpty() && !name.startsWith(QStringLiteral("qt_")); }

// Windows of their own (the settings dialog under the main window) are listed by themselves;
// pop-up menus belong to the window they pop up in.
bool InOtherWindow(QObject* object, QWidget* window) {
  for (QObject* o = object; o && o != window; o = o->parent()) {
    auto* widget = qobject_cast<QWidget*>(o);
    if (widget && widget->isWindow() && !qobject_cast<QMenu*>(widget)) return true;
  }
  return false;
}

}  // namespace

QStringList ListControls(QWidget* window) {
  QStringList lines;
  const QString windowName = window->objectName();
  lines << QStringLiteral("%1/%1 %2").arg(windowName, ShortClassName(window));
  for (QObject* child : window->findChildren<QObject*>()) {
    if (!qobject_cast<QWidget*>(child) && !qobject_cast<QAction*>(child)) continue;
    if (InOtherWindow(child, window)) continue;
    if (!IsControlName(child->objectName())) continue;
    lines << QStringLiteral("%1/%2 %3").arg(windowName, child->objectName(), ShortClassName(child));
  }
  return lines;
}

bool RenderWindow(QWidget* window, const QString& folder, QSize size, QString* error) {
  const bool wasVisible = window->isVisible();
  if (!wasVisible) {
    // Laid out and painted as on screen, without appearing there.
    window->setAttribute(Qt::WA_DontShowOnScreen, true);
    window->show();
  }
  if (size.isValid()) window->resize(size);
  if (QLayout* layout = window->layout()) layout->activate();
  QApplication::processEvents();
  QPixmap picture = window->grab();
  if (!wasVisible) {
    window->hide();
    window->setAttribute(Qt::WA_DontShowOnScreen, false);
  }
  const QString path = QDir(folder).filePath(window->objectName() + QStringLiteral(".png"));
  if (!picture.save(path, "PNG")) {
    if (error) *error = QStringLiteral("cannot write %1").arg(path);
    return false;
  }
  return true;
}

}  // namespace noctarbel::gui
