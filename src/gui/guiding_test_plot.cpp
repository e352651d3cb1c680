#include "gui/guiding_test_plot.h"

#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

#include "windows/guiding_window.h"
#include "windows/station.h"

namespace noctarbel::gui {

namespace {

constexpr int kMargin = 12;
constexpr double kStarRadius = 5;
constexpr double kHeadLength = 10;
const QColor kBeforeColour(90, 160, 255);
const QColor kAfterColour(255, 150, 60);

// From arc seconds on the image (the frame centre in the middle, y upwards) to the widget's
// pixels; the square around the centre holds both stars.
struct PictureFrame {
  QRectF area;
  double halfSpan = 1;
  QPointF At(double x, double y) const {
    return {area.center().x() + x / halfSpan * area.width() / 2, area.center().y() - y / halfSpan * area.height() / 2};
  }
};

// The arrow ends at the second star's rim.
void DrawArrow(QPainter& painter, QPointF from, QPointF star, const QColor& colour) {
  const QPointF d = star - from;
  const double length = std::hypot(d.x(), d.y());
  if (length < 2 * kStarRadius) return;
  const QPointF unit = d / length;
  const QPointF to = star - unit * kStarRadius;
  painter.setPen(QPen(colour, 1.5));
  painter.drawLine(from, to);
  const QPointF normal(-unit.y(), unit.x());
  const QPointF base = to - unit * kHeadLength;
  painter.setBrush(colour);
  painter.drawPolygon(QPolygonF({to, base + normal * (kHeadLength / 2.5), base - normal * (kHeadLength / 2.5)}));
}

void DrawStar(QPainter& painter, QPointF at, const QColor& colour) {
  painter.setPen(QPen(colour, 1.5));
  painter.setBrush(colour);
  painter.drawEllipse(at, kStarRadius, kStarRadius);
}

}  // namespace

GuidingTestPlot::GuidingTestPlot(Station& station, QWidget* parent) : QWidget(parent), station_(station) {
  setObjectName(QStringLiteral("GuidingPicture"));
  setMinimumSize(220, 220);
  subscription_ = station_.Form(kGuidingTestForm).Subscribe([this](const std::string& name, ControlProperty) {
    if (name == "GuidingPicture") update();
  });
}

GuidingTestPlot::~GuidingTestPlot() { station_.Form(kGuidingTestForm).Unsubscribe(subscription_); }

void GuidingTestPlot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor text = palette().color(QPalette::WindowText);
  painter.fillRect(rect(), palette().color(QPalette::Base));
  const auto& picture = station_.GuidingTestPicture;
  painter.setPen(text);
  if (!picture.Measured) {
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, tr("the star before and after the test move"));
    return;
  }
  const double side = std::max(10, std::min(width(), height()) - 2 * kMargin);
  PictureFrame frame;
  frame.area = QRectF((width() - side) / 2, (height() - side) / 2, side, side);
  frame.halfSpan = 1.2 * std::max({1.0, std::abs(picture.BeforeX), std::abs(picture.BeforeY), std::abs(picture.AfterX),
                                   std::abs(picture.AfterY)});
  painter.drawRect(frame.area);
  painter.setPen(QPen(text, 1, Qt::DotLine));
  painter.drawLine(frame.At(-frame.halfSpan, 0), frame.At(frame.halfSpan, 0));
  painter.drawLine(frame.At(0, -frame.halfSpan), frame.At(0, frame.halfSpan));

  const QPointF before = frame.At(picture.BeforeX, picture.BeforeY);
  const QPointF after = frame.At(picture.AfterX, picture.AfterY);
  DrawArrow(painter, before, after, text);
  DrawStar(painter, before, kBeforeColour);
  DrawStar(painter, after, kAfterColour);

  const QFontMetrics metrics(font());
  const QRectF caption(frame.area.left() + 4, frame.area.top() + 2, frame.area.width() - 8, metrics.height());
  painter.setPen(text);
  painter.drawText(caption, Qt::AlignLeft, tr("angle %1°").arg(picture.Angle, 0, 'f', 1));
  painter.drawText(caption, Qt::AlignRight, tr("±%1\"").arg(std::lround(frame.halfSpan)));
}

}  // namespace noctarbel::gui
