#include "gui/timeline_window.h"

#include <QImage>
#include <QPainter>

#include "windows/station.h"
#include "automation/night_timeline.h"

namespace noctarbel::gui {

TNightTimeline::TNightTimeline(Station& station) : QWidget(nullptr), station_(station) {
  setObjectName(kNightTimelineForm);
  setWindowTitle("Night time line");
  resize(1200, 400);
  // A run's rows as they end (a rehearsal's time line grows while it is watched).
  station_.OnTimelineChanged = [this] {
    if (isVisible()) Redraw();
  };
}

TNightTimeline::~TNightTimeline() { station_.OnTimelineChanged = nullptr; }

void TNightTimeline::Redraw() {
  const Picture picture = RenderNightTimeline(station_.Run.Timeline, std::max(width(), 600));
  picture_ = QImage(picture.Pixels.data(), picture.Width, picture.Height, picture.Width * 3, QImage::Format_RGB888)
                 .copy();  // the picture's pixels go with it
  setMinimumHeight(picture_.height());
  update();
}

void TNightTimeline::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A run or a test run has just ended: its rows, as they are now.
  resize(width(), std::max(height(), static_cast<int>(RenderNightTimeline(station_.Run.Timeline, 600).Height)));
  Redraw();
}

void TNightTimeline::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (isVisible()) Redraw();
}

void TNightTimeline::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(250, 250, 247));
  painter.drawImage(0, 0, picture_);
}

}  // namespace noctarbel::gui
