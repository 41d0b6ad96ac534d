// Draws the application icon, a butterfly ("parvane") over a blue disc, and
// writes it as PNG files (16, 24, 32, 48, 256 pixels) and as one Windows .ico
// holding 48, 32, 24, 16 pixels in 256 colours and 256, 48, 32, 24, 16 pixels in
// 32-bit colour.
//
//   parvane_make_icon OUTPUT_FOLDER
//
// The output is committed under src/app/resources; run this again after
// changing the drawing.
#include <QtCore/QBuffer>
#include <QtCore/QFile>
#include <QtCore/QString>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QRadialGradient>

#include <cstdio>

#include "app/icon_file.h"

namespace {

// One wing pair half, drawn for the right side and mirrored for the left.
QPainterPath UpperWing() {
  QPainterPath p;
  p.moveTo(50, 46);
  p.cubicTo(58, 22, 78, 10, 90, 16);
  p.cubicTo(98, 22, 92, 40, 82, 48);
  p.cubicTo(72, 54, 60, 54, 50, 50);
  p.closeSubpath();
  return p;
}

QPainterPath LowerWing() {
  QPainterPath p;
  p.moveTo(50, 52);
  p.cubicTo(62, 54, 78, 58, 80, 70);
  p.cubicTo(82, 82, 68, 88, 60, 80);
  p.cubicTo(54, 74, 51, 64, 50, 56);
  p.closeSubpath();
  return p;
}

// Draws the icon on a 100 x 100 canvas scaled to `size` pixels.
QImage Draw(int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 100.0, size / 100.0);

  // Disc: deep blue with a lighter centre.
  QRadialGradient sky(QPointF(42, 36), 62);
  sky.setColorAt(0.0, QColor(86, 156, 232));
  sky.setColorAt(1.0, QColor(16, 52, 132));
  painter.setPen(QPen(QColor(10, 34, 90), size < 32 ? 4.0 : 2.0));
  painter.setBrush(sky);
  painter.drawEllipse(QRectF(3, 3, 94, 94));

  const qreal outline = size < 32 ? 3.0 : 1.6;
  for (int side = 0; side < 2; ++side) {
    painter.save();
    if (side == 1) {  // mirror about the body
      painter.translate(100, 0);
      painter.scale(-1, 1);
    }
    QLinearGradient upper(QPointF(50, 46), QPointF(92, 16));
    upper.setColorAt(0.0, QColor(255, 214, 64));
    upper.setColorAt(1.0, QColor(240, 110, 24));
    painter.setPen(QPen(QColor(70, 30, 10), outline));
    painter.setBrush(upper);
    painter.drawPath(UpperWing());
    QLinearGradient lower(QPointF(50, 52), QPointF(76, 84));
    lower.setColorAt(0.0, QColor(255, 190, 60));
    lower.setColorAt(1.0, QColor(214, 72, 30));
    painter.setBrush(lower);
    painter.drawPath(LowerWing());
    if (size >= 32) {  // wing spots
      painter.setPen(Qt::NoPen);
      painter.setBrush(QColor(255, 250, 230));
      painter.drawEllipse(QPointF(80, 26), 4.5, 4.5);
      painter.drawEllipse(QPointF(68, 72), 3.0, 3.0);
    }
    painter.restore();
  }

  // Body and antennae.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(40, 24, 16));
  painter.drawRoundedRect(QRectF(46.5, 36, 7, 44), 3.5, 3.5);
  painter.drawEllipse(QPointF(50, 34), 5, 5);
  painter.setPen(QPen(QColor(40, 24, 16), size < 32 ? 3.0 : 2.0, Qt::SolidLine, Qt::RoundCap));
  painter.setBrush(Qt::NoBrush);
  QPainterPath antennae;
  antennae.moveTo(48, 31);
  antennae.cubicTo(44, 22, 40, 18, 36, 16);
  antennae.moveTo(52, 31);
  antennae.cubicTo(56, 22, 60, 18, 64, 16);
  painter.drawPath(antennae);
  painter.end();
  return image;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  return file.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  std::vector<parvane::app::IconImage> images;
  for (int size : {48, 32, 24, 16}) {
    images.push_back({Draw(size), true});
  }
  for (int size : {256, 48, 32, 24, 16}) {
    QImage image = Draw(size);
    if (!image.save(folder + QStringLiteral("/icons/parvane-%1.png").arg(size))) {
      std::fprintf(stderr, "cannot write the %d pixel PNG\n", size);
      return 1;
    }
    images.push_back({image, false});
  }
  if (!WriteFile(folder + "/parvane.ico", parvane::app::EncodeIcon(images))) {
    std::fprintf(stderr, "cannot write parvane.ico\n");
    return 1;
  }
  return 0;
}
