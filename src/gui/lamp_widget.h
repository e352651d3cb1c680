#pragma once
// A round signal lamp (LED) in a named colour: "silver", "lime", "yellow", "red", "green", "grey".

#include <QWidget>

namespace noctarbel::gui {

class LampWidget : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString colour READ Colour WRITE SetColour)

 public:
  explicit LampWidget(QWidget* parent = nullptr);

  QString Colour() const { return colour_; }
  void SetColour(const QString& colour);
  QSize sizeHint() const override { return {18, 18}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString colour_;
};

}  // namespace noctarbel::gui
