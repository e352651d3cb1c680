#include "gui/picture_view.h"

#include <QPainter>
#include <algorithm>
#include <cstring>

#include "windows/station.h"

namespace noctarbel::gui {

QImage GreyImage(const Bitmap8& bitmap, int paletteEntries) {
  if (bitmap.Width <= 0 || bitmap.Height <= 0) return {};
  const std::vector<std::uint8_t> palette = GreyPalette(paletteEntries);
  QImage image(bitmap.Width, bitmap.Height, QImage::Format_Grayscale8);
  for (int y = 0; y < bitmap.Height; ++y) {
    const std::uint8_t* in = bitmap.Pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(bitmap.Stride);
    uchar* out = image.scanLine(y);
    for (int x = 0; x < bitmap.Width; ++x) out[x] = palette[std::min<size_t>(in[x], palette.size() - 1)];
  }
  return image;
}

QImage PictureImage(const Picture& picture) {
  if (picture.Width <= 0 || picture.Height <= 0) return {};
  const bool grey = picture.Channels == 1;
  QImage image(picture.Width, picture.Height, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
  const size_t row = static_cast<size_t>(picture.Width) * static_cast<size_t>(grey ? 1 : 3);
  for (int y = 0; y < picture.Height; ++y) {
    std::memcpy(image.scanLine(y), picture.Pixels.data() + static_cast<size_t>(y) * row, row);
  }
  return image;
}

PreviewBox::PreviewBox(Station& station, QWidget* parent) : QWidget(parent), station_(station) {
  setFixedSize(kPreviewWidth, kPreviewHeight);
  setAttribute(Qt::WA_OpaquePaintEvent);
  station_.OnPreviewChanged = [this] { Refresh(); };
  Refresh();
}

PreviewBox::~PreviewBox() { station_.OnPreviewChanged = nullptr; }

void PreviewBox::Refresh() {
  const Bitmap8& preview = station_.Preview;
  rect_ = FitPreview(width(), height(), preview.Width, preview.Height);
  const QImage full = GreyImage(preview, station_.PreviewPaletteEntries);
  // Smooth reduction keeps faint stars that dropping pixels would lose.
  drawn_ = full.isNull() ? QImage()
                         : full.scaled(rect_.Width, rect_.Height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  update();
}

void PreviewBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (drawn_.isNull()) return;
  painter.drawImage(rect_.Left, rect_.Top, drawn_);
  if (!station_.Main.Checked("Markercheckbox")) return;
  const Crosshair cross = PreviewCrosshair(rect_);
  painter.setPen(QPen(Qt::white, 1));
  painter.drawLine(cross.CenterX - cross.HalfLength, cross.CenterY, cross.CenterX + cross.HalfLength, cross.CenterY);
  painter.drawLine(cross.CenterX, cross.CenterY - cross.HalfLength, cross.CenterX, cross.CenterY + cross.HalfLength);
}

}  // namespace noctarbel::gui
