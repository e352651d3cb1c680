#include "gui/vcurve_plot.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <vector>

#include "windows/station.h"
#include "windows/autofocus_window.h"

namespace noctarbel::gui {

namespace {

constexpr int kMarginLeft = 44;
constexpr int kMarginRight = 12;
constexpr int kMarginTop = 12;
constexpr int kMarginBottom = 30;
constexpr double kPointRadius = 3.5;
const QColor kLeftColour(90, 160, 255);
const QColor kRightColour(255, 150, 60);

// From focuser position and HFD to the widget's pixels.
struct PlotFrame {
  QRectF area;
  double x0 = 0;
  double x1 = 1;
  double y1 = 1;
  QPointF At(double position, double hfd) const {
    return {area.left() + (position - x0) / (x1 - x0) * area.width(), area.bottom() - hfd / y1 * area.height()};
  }
};

void DrawFlank(QPainter& painter, const PlotFrame& frame, const std::vector<VCurvePoint>& flank, const QColor& colour) {
  painter.setPen(QPen(colour, 1.5));
  for (const VCurvePoint& point : flank) {
    if (point.Hfd <= 0) continue;
    painter.setBrush(point.Saturated ? Qt::NoBrush : QBrush(colour));
    painter.drawEllipse(frame.At(point.Position, point.Hfd), kPointRadius, kPointRadius);
  }
}

// The line from the flank's outer end to where it meets the other (or its own inner end).
void DrawLine(QPainter& painter, const PlotFrame& frame, const LineFit& line, const std::vector<VCurvePoint>& flank,
              double tip, const QColor& colour) {
  if (!line.Fitted || flank.empty()) return;
  double outer = flank.front().Position;
  double inner = flank.front().Position;
  for (const VCurvePoint& p : flank) {
    if (std::abs(p.Position - tip) > std::abs(outer - tip)) outer = p.Position;
    if (std::abs(p.Position - tip) < std::abs(inner - tip)) inner = p.Position;
  }
  const double end = std::isfinite(tip) ? tip : inner;
  painter.setPen(QPen(colour, 1.2, Qt::DashLine));
  painter.drawLine(frame.At(outer, line.Slope * outer + line.Intercept),
                   frame.At(end, line.Slope * end + line.Intercept));
}

}  // namespace

VCurvePlot::VCurvePlot(Station& station, QWidget* parent) : QWidget(parent), station_(station) {
  setObjectName(QStringLiteral("VCurvePlot"));
  setMinimumSize(360, 220);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  subscription_ = station_.Form(kAutofocusForm).Subscribe([this](const std::string& name, ControlProperty) {
    if (name == "VCurvePlot") update();
  });
}

VCurvePlot::~VCurvePlot() { station_.Form(kAutofocusForm).Unsubscribe(subscription_); }

void VCurvePlot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor text = palette().color(QPalette::WindowText);
  painter.fillRect(rect(), palette().color(QPalette::Base));
  const VCurveScan& scan = station_.Autofocus.LastScan();

  std::vector<double> positions;
  double largest = 0;
  for (const auto* flank : {&scan.Left, &scan.Right}) {
    for (const VCurvePoint& p : *flank) {
      if (p.Hfd <= 0) continue;
      positions.push_back(p.Position);
      largest = std::max(largest, p.Hfd);
    }
  }
  if (scan.TipHfd > 0) {
    positions.push_back(scan.MeanPosition);
    largest = std::max(largest, scan.TipHfd);
  }
  painter.setPen(text);
  if (positions.empty()) {
    painter.drawText(rect(), Qt::AlignCenter, tr("V curve: HFD over focuser position"));
    return;
  }
  const auto [low, high] = std::minmax_element(positions.begin(), positions.end());
  const double span = std::max(1.0, *high - *low);
  PlotFrame frame;
  frame.area = QRectF(kMarginLeft, kMarginTop, std::max(10, width() - kMarginLeft - kMarginRight),
                      std::max(10, height() - kMarginTop - kMarginBottom));
  frame.x0 = *low - 0.05 * span;
  frame.x1 = *high + 0.05 * span;
  frame.y1 = std::max(1.0, largest * 1.15);

  painter.drawRect(frame.area);
  const QFontMetrics metrics(font());
  painter.drawText(QRectF(0, frame.area.top() - 6, kMarginLeft - 4, metrics.height()), Qt::AlignRight,
                   QString::number(frame.y1, 'f', 1));
  painter.drawText(QRectF(0, frame.area.bottom() - metrics.height() + 6, kMarginLeft - 4, metrics.height()),
                   Qt::AlignRight, QStringLiteral("0"));
  painter.drawText(QRectF(frame.area.left(), frame.area.bottom() + 4, frame.area.width(), metrics.height()),
                   Qt::AlignLeft, QString::number(*low));
  painter.drawText(QRectF(frame.area.left(), frame.area.bottom() + 4, frame.area.width(), metrics.height()),
                   Qt::AlignRight, QString::number(*high));
  painter.drawText(QRectF(frame.area.left(), frame.area.bottom() + 4, frame.area.width(), metrics.height()),
                   Qt::AlignHCenter, tr("focuser position / HFD (pixels)"));

  painter.save();
  painter.setClipRect(frame.area);
  double tip = std::nan("");
  if (scan.Fitted && scan.Fit.Usable()) {
    tip = VTipPosition(scan.Fit.Lines());
    painter.setPen(QPen(text, 1, Qt::DotLine));
    painter.drawLine(frame.At(tip, 0), frame.At(tip, frame.y1));
    painter.drawText(frame.At(tip, frame.y1) + QPointF(4, metrics.ascent() + 2),
                     tr("best focus %1").arg(std::lround(tip)));
  }
  if (scan.Fitted) {
    DrawLine(painter, frame, scan.Fit.Left, scan.Left, tip, kLeftColour);
    DrawLine(painter, frame, scan.Fit.Right, scan.Right, tip, kRightColour);
  }
  DrawFlank(painter, frame, scan.Left, kLeftColour);
  DrawFlank(painter, frame, scan.Right, kRightColour);
  if (scan.TipHfd > 0) {
    painter.setPen(QPen(text, 1.5));
    painter.setBrush(scan.TipSaturated ? Qt::NoBrush : QBrush(text));
    painter.drawEllipse(frame.At(scan.MeanPosition, scan.TipHfd), kPointRadius, kPointRadius);
  }
  painter.restore();
}

}  // namespace noctarbel::gui
