#include "gui/night_palette.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace noctarbel::gui {

void ApplyNightLook(QApplication& app) {
  app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  const QColor window(38, 38, 42);
  const QColor base(24, 24, 27);
  const QColor text(214, 210, 204);
  const QColor dimText(120, 118, 114);
  const QColor accent(150, 60, 50);  // a dim red for selections
  QPalette p;
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, QColor(32, 32, 36));
  p.setColor(QPalette::ToolTipBase, QColor(54, 54, 58));
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::PlaceholderText, dimText);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, QColor(52, 52, 57));
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::BrightText, QColor(255, 120, 100));
  p.setColor(QPalette::Highlight, accent);
  p.setColor(QPalette::HighlightedText, QColor(240, 236, 230));
  p.setColor(QPalette::Link, QColor(200, 120, 100));
  p.setColor(QPalette::Light, QColor(70, 70, 76));
  p.setColor(QPalette::Midlight, QColor(58, 58, 63));
  p.setColor(QPalette::Mid, QColor(44, 44, 48));
  p.setColor(QPalette::Dark, QColor(20, 20, 22));
  p.setColor(QPalette::Shadow, QColor(0, 0, 0));
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    p.setColor(QPalette::Disabled, role, dimText);
  }
  p.setColor(QPalette::Disabled, QPalette::Base, QColor(34, 34, 37));
  p.setColor(QPalette::Disabled, QPalette::Button, QColor(44, 44, 48));
  app.setPalette(p);
}

}  // namespace noctarbel::gui
