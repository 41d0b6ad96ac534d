// Writes Windows icon files (.ico): an icon directory followed by one image per
// entry. Images of 256 pixels are stored as PNG, smaller ones as device-
// independent bitmaps with an AND mask, in 8-bit palette or 32-bit colour.
#pragma once

#include <QtCore/QByteArray>
#include <QtGui/QImage>

#include <vector>

namespace parvane::app {

struct IconImage {
  QImage image;          // square, any format; converted as needed
  bool paletted = false; // true: 256 colours (8 bits per pixel)
};

QByteArray EncodeIcon(const std::vector<IconImage>& images);

}  // namespace parvane::app
