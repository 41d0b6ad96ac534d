#include "app/icon_file.h"

#include <QtCore/QBuffer>

namespace parvane::app {

namespace {

void Put16(QByteArray& out, int value) {
  out.append(static_cast<char>(value & 0xFF));
  out.append(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(QByteArray& out, qint64 value) {
  for (int shift = 0; shift < 32; shift += 8) out.append(static_cast<char>((value >> shift) & 0xFF));
}

int RowBytes(int width, int bitsPerPixel) { return ((width * bitsPerPixel + 31) / 32) * 4; }

// The AND mask: one bit per pixel, set where the pixel is transparent.
void PutMask(QByteArray& out, const QImage& argb) {
  const int w = argb.width();
  for (int y = argb.height() - 1; y >= 0; --y) {
    QByteArray row(RowBytes(w, 1), '\0');
    for (int x = 0; x < w; ++x) {
      if (qAlpha(argb.pixel(x, y)) < 128) {
        row[x / 8] = static_cast<char>(static_cast<unsigned char>(row[x / 8]) | (0x80 >> (x % 8)));
      }
    }
    out.append(row);
  }
}

QByteArray Bitmap(const QImage& source, bool paletted) {
  const QImage argb = source.convertToFormat(QImage::Format_ARGB32);
  const int w = argb.width(), h = argb.height();
  const int bits = paletted ? 8 : 32;
  QByteArray out;
  Put32(out, 40);     // header size
  Put32(out, w);
  Put32(out, 2 * h);  // colour rows and mask rows
  Put16(out, 1);      // planes
  Put16(out, bits);
  Put32(out, 0);      // no compression
  Put32(out, static_cast<qint64>(RowBytes(w, bits) + RowBytes(w, 1)) * h);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, paletted ? 256 : 0);
  Put32(out, 0);
  if (paletted) {
    // Flatten onto black where transparent (the mask hides those pixels), then
    // reduce to a palette of at most 256 colours.
    QImage opaque(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const QRgb p = argb.pixel(x, y);
        opaque.setPixel(x, y, qAlpha(p) < 128 ? qRgb(0, 0, 0) : qRgb(qRed(p), qGreen(p), qBlue(p)));
      }
    }
    const QImage indexed = opaque.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    const QList<QRgb> table = indexed.colorTable();
    for (int i = 0; i < 256; ++i) {
      const QRgb c = i < table.size() ? table[i] : qRgb(0, 0, 0);
      out.append(static_cast<char>(qBlue(c)));
      out.append(static_cast<char>(qGreen(c)));
      out.append(static_cast<char>(qRed(c)));
      out.append('\0');
    }
    for (int y = h - 1; y >= 0; --y) {
      QByteArray row(RowBytes(w, 8), '\0');
      for (int x = 0; x < w; ++x) row[x] = static_cast<char>(indexed.pixelIndex(x, y));
      out.append(row);
    }
  } else {
    for (int y = h - 1; y >= 0; --y) {
      for (int x = 0; x < w; ++x) {
        const QRgb p = argb.pixel(x, y);
        out.append(static_cast<char>(qBlue(p)));
        out.append(static_cast<char>(qGreen(p)));
        out.append(static_cast<char>(qRed(p)));
        out.append(static_cast<char>(qAlpha(p)));
      }
    }
  }
  PutMask(out, argb);
  return out;
}

QByteArray Png(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG");
  return bytes;
}

}  // namespace

QByteArray EncodeIcon(const std::vector<IconImage>& images) {
  std::vector<QByteArray> data;
  for (const IconImage& entry : images) {
    data.push_back(entry.image.width() >= 256 ? Png(entry.image) : Bitmap(entry.image, entry.paletted));
  }
  QByteArray out;
  Put16(out, 0);  // reserved
  Put16(out, 1);  // icon
  Put16(out, static_cast<int>(images.size()));
  qint64 offset = 6 + 16 * static_cast<qint64>(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    const QImage& image = images[i].image;
    const bool paletted = images[i].paletted && image.width() < 256;
    out.append(static_cast<char>(image.width() >= 256 ? 0 : image.width()));
    out.append(static_cast<char>(image.height() >= 256 ? 0 : image.height()));
    out.append('\0');  // colour count: 0 for 256 colours or more
    out.append('\0');
    Put16(out, 1);     // planes
    Put16(out, paletted ? 8 : 32);
    Put32(out, data[i].size());
    Put32(out, offset);
    offset += data[i].size();
  }
  for (const QByteArray& d : data) out.append(d);
  return out;
}

}  // namespace parvane::app
