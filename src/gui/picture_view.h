#pragma once
// Pictures of the core as Qt images, and the main window's preview box PaintBox1: the last
// exposure stretched into the box with its aspect ratio kept, with the crosshair when
// "Crosshair" is ticked.

#include <QImage>
#include <QWidget>

#include "imaging/display.h"
#include "imaging/jpeg_codec.h"

namespace noctarbel {
class Station;
}

namespace noctarbel::gui {

// Palette indices turned into their greys (a copy; the bitmap may change afterwards).
QImage GreyImage(const Bitmap8& bitmap, int paletteEntries);
// A decoded JPEG picture as it is, grey or colour.
QImage PictureImage(const Picture& picture);

class PreviewBox : public QWidget {
  Q_OBJECT

 public:
  PreviewBox(Station& station, QWidget* parent);
  ~PreviewBox() override;

  // The preview changed, or the crosshair box did.
  void Refresh();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Station& station_;
  // The preview at the size it is drawn: made once per new picture, not per paint.
  QImage drawn_;
  PreviewRect rect_;
};

}  // namespace noctarbel::gui
