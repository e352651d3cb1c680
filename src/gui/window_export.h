#pragma once
// Renders windows to PNG files and lists their named controls, for documentation and checks.

#include <QSize>
#include <QString>
#include <QStringList>
#include <vector>

class QWidget;

namespace noctarbel::gui {

// "Window/ControlName ClassName" for every named control of the window (menu entries
// included), after a first line naming the window itself.
QStringList ListControls(QWidget* window);
// Renders the window, shown or not, into folder/<window name>.png. `size` empty: the window's
// own size. False with a reason when the file cannot be written.
bool RenderWindow(QWidget* window, const QString& folder, QSize size, QString* error);

}  // namespace noctarbel::gui
