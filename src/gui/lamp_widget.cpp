#include "gui/lamp_widget.h"

#include <QPainter>

namespace noctarbel::gui {

LampWidget::LampWidget(QWidget* parent) : QWidget(parent) {
  setFixedSize(18, 18);
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void LampWidget::SetColour(const QString& colour) {
  if (colour == colour_) return;
  colour_ = colour;
  setAccessibleDescription(colour);
  update();
}

void LampWidget::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor fill(colour_);
  if (!fill.isValid()) fill = QColor(QStringLiteral("silver"));
  if (!isEnabled()) fill = fill.darker(160);
  QRectF box = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
  QRadialGradient glow(box.center() - QPointF(box.width() / 5, box.height() / 5), box.width() * 0.7);
  glow.setColorAt(0, fill.lighter(150));
  glow.setColorAt(1, fill);
  painter.setBrush(glow);
  painter.setPen(QPen(QColor(20, 20, 20), 1.2));
  painter.drawEllipse(box);
}

}  // namespace noctarbel::gui
