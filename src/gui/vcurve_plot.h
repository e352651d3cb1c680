#pragma once
// The autofocus window's picture of the V curve: HFD over focuser position for each flank,
// the HFD at the mean position, and the fitted lines with the point where they meet. It
// redraws whenever the calibration's scan changes.

#include <QWidget>

namespace noctarbel {
class Station;
}

namespace noctarbel::gui {

class VCurvePlot : public QWidget {
  Q_OBJECT

 public:
  VCurvePlot(Station& station, QWidget* parent);
  ~VCurvePlot() override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Station& station_;
  int subscription_ = 0;
};

}  // namespace noctarbel::gui
