#include "gui/viewer_form.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

#include "windows/station.h"
#include "windows/viewer_window.h"
#include "gui/control_binding.h"
#include "gui/form_layout.h"
#include "gui/picture_view.h"

namespace noctarbel::gui {

namespace {

const QString kDefaultCaption = QStringLiteral("Image viewer");
// The picture in fit mode stays this much smaller than the box on its limiting side.
constexpr int kFitMargin = 5;
// A drag scrolls once the mouse has moved more than this from where it last scrolled.
constexpr int kDragThreshold = 5;

const std::vector<Line>& PanelLines() {
  static const std::vector<Line> lines = {
      {"LoadBtn", "SaveButton", "ExpStartBtn", "ExpStopBtn", "ExitBtn", "ZoomBtn", "NozoomBtn", "Testbutton",
       "TestEdit"},
      {"LTScrollBar", "UTScrollBar", "AutolevelCheckBox", "GammaEdit", "StackedCheck", "PlanetCheckbox"},
  };
  return lines;
}

}  // namespace

ViewerCanvas::ViewerCanvas(Station& station, QScrollArea* scroll, QWidget* parent)
    : QWidget(parent), station_(station), scroll_(scroll) {
  setMouseTracking(true);  // the read-out follows the mouse without a button pressed
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void ViewerCanvas::SetPicture(QImage picture) {
  picture_ = std::move(picture);
  drawn_ = QImage();
  update();
}

double ViewerCanvas::ScaleX() const {
  return picture_.isNull() || picture_.width() == 0 ? 1.0 : static_cast<double>(width()) / picture_.width();
}

double ViewerCanvas::ScaleY() const {
  return picture_.isNull() || picture_.height() == 0 ? 1.0 : static_cast<double>(height()) / picture_.height();
}

void ViewerCanvas::ScaleDrawn() {
  // Smooth reduction keeps faint stars that dropping pixels would lose.
  drawn_ = picture_.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void ViewerCanvas::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.fillRect(event->rect(), Qt::black);
  if (picture_.isNull()) return;
  if (size() == picture_.size()) {
    painter.drawImage(event->rect().topLeft(), picture_, event->rect());
  } else {
    if (drawn_.size() != size()) ScaleDrawn();
    painter.drawImage(event->rect().topLeft(), drawn_, event->rect());
  }

  // The overlays belong to the picture: drawn in image pixels, they scale with it.
  const ViewerOverlay& overlay = station_.ViewerWindow.Overlay;
  painter.scale(ScaleX(), ScaleY());
  painter.setRenderHint(QPainter::Antialiasing);
  if (!overlay.ExposureText.empty()) {
    QFont font = painter.font();
    font.setPixelSize(std::max(1, picture_.height() / 30));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(5, 5, picture_.width(), picture_.height()), Qt::AlignLeft | Qt::AlignTop,
                     QString::fromStdString(overlay.ExposureText));
  }
  auto circle = [&painter](double x, double y, int radius, const QColor& colour) {
    QPen pen(colour);
    pen.setCosmetic(true);  // one screen pixel wide at any scale
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    // Image pixel (x, y), counted from 1, has its centre at (x - 0.5, y - 0.5).
    painter.drawEllipse(QPointF(x - 0.5, y - 0.5), radius, radius);
  };
  if (overlay.TrackingCircle) circle(overlay.CircleX, overlay.CircleY, overlay.CircleRadius, Qt::yellow);
  if (overlay.TestCircle) circle(overlay.TestX, overlay.TestY, overlay.TestRadius, Qt::red);
}

void ViewerCanvas::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  dragging_ = true;
  dragOrigin_ = event->globalPosition().toPoint();
  setCursor(Qt::ClosedHandCursor);
}

void ViewerCanvas::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_) {
    // The picture follows the hand; measured on the screen, as the canvas moves under it.
    const QPoint here = event->globalPosition().toPoint();
    const QPoint moved = here - dragOrigin_;
    if (std::max(std::abs(moved.x()), std::abs(moved.y())) > kDragThreshold) {
      scroll_->horizontalScrollBar()->setValue(scroll_->horizontalScrollBar()->value() - moved.x());
      scroll_->verticalScrollBar()->setValue(scroll_->verticalScrollBar()->value() - moved.y());
      dragOrigin_ = here;
    }
  }
  if (picture_.isNull() || width() <= 0 || height() <= 0) return;
  // In image pixels, counted from 1, whatever size the picture is drawn at.
  const QPoint at = event->position().toPoint();
  const int x = static_cast<int>(static_cast<long long>(at.x()) * picture_.width() / width()) + 1;
  const int y = static_cast<int>(static_cast<long long>(at.y()) * picture_.height() / height()) + 1;
  ViewerMouseAt(station_, x, y);
}

void ViewerCanvas::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  dragging_ = false;
  unsetCursor();
}

TImgShowform::TImgShowform(Station& station, QWidget* parent) : QWidget(parent, Qt::Window), station_(station) {
  setObjectName(QString::fromLatin1(kViewerForm));
  setWindowTitle(kDefaultCaption);
  binder_ = new ControlBinder(station_.Form(kViewerForm), this);
  binder_->SetActivator([&station](const std::string& name) { station.Activate(kViewerForm, name); });

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 0);
  FormBuilder builder(*binder_);
  // The radius takes a number or two; the buttons keep their size beside it.
  QWidget* radius = binder_->Create("TestEdit", this);
  radius->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  radius->setFixedWidth(60);
  builder.AddLines(this, layout, PanelLines());
  for (const char* bar : {"LTScrollBar", "UTScrollBar"}) binder_->Widget(bar)->setMinimumWidth(160);

  scroll_ = new QScrollArea(this);
  scroll_->setWidgetResizable(false);
  scroll_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QPalette dark = scroll_->palette();
  dark.setColor(QPalette::Window, Qt::black);
  scroll_->setPalette(dark);
  scroll_->setBackgroundRole(QPalette::Window);
  canvas_ = new ViewerCanvas(station_, scroll_, scroll_);
  binder_->Adopt("PaintBox1", canvas_);
  scroll_->setWidget(canvas_);
  scroll_->installEventFilter(this);
  layout->addWidget(scroll_, 1);

  auto* status = static_cast<QStatusBar*>(binder_->Create("StatusBar1", this));
  QWidget* progress = binder_->Create("ViewerProgressBar", status);
  progress->setMaximumWidth(200);
  status->addPermanentWidget(progress);
  layout->addWidget(status);
  builder.SetContainerLayout("", layout, this);
  builder.PlaceRemaining();

  station_.OnViewerChanged = [this] { ViewerChanged(); };
  resize(913, 742);
  ViewerChanged();
}

TImgShowform::~TImgShowform() { station_.OnViewerChanged = nullptr; }

QSize TImgShowform::BoxSize() const { return scroll_->maximumViewportSize(); }

void TImgShowform::ViewerChanged() {
  const ImageViewer& viewer = station_.Viewer;
  // A JPEG picture is the latest one handed over while it is there; it is drawn as it is.
  QImage picture =
      viewer.Jpeg() ? PictureImage(*viewer.Jpeg()) : GreyImage(viewer.Rendered(), viewer.RenderedPaletteEntries());
  if (viewer.PicturesShown() != picturesSeen_) {
    picturesSeen_ = viewer.PicturesShown();
    // A new picture that fits the box both ways is shown fitted.
    const QSize box = BoxSize();
    if (!picture.isNull() && picture.width() < box.width() && picture.height() < box.height()) {
      station_.ViewerWindow.FitMode = true;
    }
  }
  setWindowTitle(viewer.Caption.empty() ? kDefaultCaption : QString::fromStdString(viewer.Caption));
  canvas_->SetPicture(std::move(picture));
  Layout();
}

void TImgShowform::Layout() {
  const bool fit = station_.ViewerWindow.FitMode;
  QScrollBar* horizontal = scroll_->horizontalScrollBar();
  QScrollBar* vertical = scroll_->verticalScrollBar();
  if (fit && !fitShown_) unzoomedScroll_ = QPoint(horizontal->value(), vertical->value());
  const Qt::ScrollBarPolicy policy = fit ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded;
  scroll_->setHorizontalScrollBarPolicy(policy);
  scroll_->setVerticalScrollBarPolicy(policy);

  const QImage& picture = canvas_->Picture();
  QSize size(0, 0);
  if (!picture.isNull() && fit) {
    const QSize box = BoxSize();
    const PreviewRect fitted =
        FitPreview(box.width() - kFitMargin, box.height() - kFitMargin, picture.width(), picture.height());
    size = QSize(std::max(fitted.Width, 1), std::max(fitted.Height, 1));
  } else if (!picture.isNull()) {
    size = picture.size();
  }
  canvas_->resize(size);
  if (!fit && fitShown_) {
    horizontal->setValue(unzoomedScroll_.x());
    vertical->setValue(unzoomedScroll_.y());
  }
  fitShown_ = fit;
}

bool TImgShowform::eventFilter(QObject* watched, QEvent* event) {
  if (watched == scroll_ && event->type() == QEvent::Resize && station_.ViewerWindow.FitMode) Layout();
  return QWidget::eventFilter(watched, event);
}

}  // namespace noctarbel::gui
