#pragma once
// The guiding test window's picture: the star before and after the test move, the measured
// move as an arrow from one to the other, and the camera angle. It redraws whenever the
// test's result changes.

#include <QWidget>

namespace noctarbel {
class Station;
}

namespace noctarbel::gui {

class GuidingTestPlot : public QWidget {
  Q_OBJECT

 public:
  GuidingTestPlot(Station& station, QWidget* parent);
  ~GuidingTestPlot() override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Station& station_;
  int subscription_ = 0;
};

}  // namespace noctarbel::gui
