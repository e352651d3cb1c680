#pragma once
// The night's time line window: the rows of the last run or test run on a UT axis, coloured
// by how each ended. "Start" and "Check" show it when they end; it draws the picture the
// command line's --timeline writes, at the window's width.

#include <QWidget>

namespace noctarbel {
class Station;
}

namespace noctarbel::gui {

class TNightTimeline : public QWidget {
  Q_OBJECT

 public:
  explicit TNightTimeline(Station& station);
  ~TNightTimeline() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void Redraw();

  Station& station_;
  QImage picture_;
};

}  // namespace noctarbel::gui
