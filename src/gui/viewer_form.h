#pragma once
// The image viewer window ImgShowform ("Image viewer"): the viewer's controls from its store
// above a scroll box holding the picture (PaintBox1), with the progress bar and the status
// bar below. The picture is fitted into the box or shown one image pixel per screen pixel,
// is dragged with the left button, and reports the pixel under the mouse in image
// coordinates. Everything else is the core's (devices/viewer_window.h).

#include <QImage>
#include <QPoint>
#include <QWidget>

class QScrollArea;

namespace noctarbel {
class Station;
}

namespace noctarbel::gui {

class ControlBinder;

// The picture with its overlays. Its size is the size the picture is drawn at.
class ViewerCanvas : public QWidget {
  Q_OBJECT

 public:
  ViewerCanvas(Station& station, QScrollArea* scroll, QWidget* parent);

  // The picture shown (rendered image or JPEG picture), at full size; null when none.
  const QImage& Picture() const { return picture_; }
  void SetPicture(QImage picture);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  // Scale from image pixels to drawn pixels, per axis.
  double ScaleX() const;
  double ScaleY() const;
  void ScaleDrawn();

  Station& station_;
  QScrollArea* scroll_;
  QImage picture_;
  QImage drawn_;       // the picture at the canvas size, when that differs
  QPoint dragOrigin_;  // on the screen, where the drag last scrolled
  bool dragging_ = false;
};

class TImgShowform : public QWidget {
  Q_OBJECT

 public:
  TImgShowform(Station& station, QWidget* parent);
  ~TImgShowform() override;

  QScrollArea* ScrollBox() const { return scroll_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The core's viewer changed: a new picture, levels, overlays or display mode.
  void ViewerChanged();
  // Sizes the canvas for the display mode and the box.
  void Layout();
  QSize BoxSize() const;

  Station& station_;
  ControlBinder* binder_;
  QScrollArea* scroll_ = nullptr;
  ViewerCanvas* canvas_ = nullptr;
  long picturesSeen_ = 0;
  bool fitShown_ = true;         // the display mode the canvas was last sized for
  QPoint unzoomedScroll_{0, 0};  // scroll position of 1:1 mode, restored when it comes back
};

}  // namespace noctarbel::gui
