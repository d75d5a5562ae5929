#include "icon_art.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <array>

namespace {

// Segments a..g of a seven-segment digit, bit 0 = a (top), clockwise, g in the middle.
constexpr std::array<int, 10> kDigitSegments = {0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                                0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// Draws the segments of mask into rect (w x h), segment thickness t.
void DrawSegments(QPainter& p, const QRectF& r, int mask) {
  const double t = r.width() * 0.22;
  const double x0 = r.left(), x1 = r.right(), y0 = r.top(), y1 = r.bottom();
  const double ym = (y0 + y1) / 2;
  const std::array<QRectF, 7> seg = {QRectF(x0 + t / 2, y0, x1 - x0 - t, t),           // a
                                     QRectF(x1 - t, y0 + t / 2, t, ym - y0 - t / 2),   // b
                                     QRectF(x1 - t, ym, t, y1 - ym - t / 2),           // c
                                     QRectF(x0 + t / 2, y1 - t, x1 - x0 - t, t),       // d
                                     QRectF(x0, ym, t, y1 - ym - t / 2),               // e
                                     QRectF(x0, y0 + t / 2, t, ym - y0 - t / 2),       // f
                                     QRectF(x0 + t / 2, ym - t / 2, x1 - x0 - t, t)};  // g
  for (int i = 0; i < 7; ++i) {
    if (mask & (1 << i)) p.drawRoundedRect(seg[i], t / 3, t / 3);
  }
}

QImage Blank(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  return image;
}

}  // namespace

QImage PortBadge(int digit, int size) {
  QImage image = Blank(size, size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(255, 255, 255), size / 16.0));
  p.setBrush(QColor(30, 90, 170));
  const double m = size / 32.0;
  p.drawEllipse(QRectF(m, m, size - 2 * m, size - 2 * m));
  if (digit >= 0 && digit <= 9) {
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    const double w = size * 0.36, h = size * 0.58;
    DrawSegments(p, QRectF((size - w) / 2, (size - h) / 2, w, h), kDigitSegments[digit]);
  }
  return image;
}

QImage ProgramIconImage(int size) {
  QImage image = Blank(size, size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = size;
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(20, 110, 80));
  p.drawRoundedRect(QRectF(s * 0.03, s * 0.03, s * 0.94, s * 0.94), s * 0.18, s * 0.18);
  QPainterPath v;
  v.moveTo(s * 0.18, s * 0.14);
  v.lineTo(s * 0.36, s * 0.14);
  v.lineTo(s * 0.50, s * 0.52);
  v.lineTo(s * 0.64, s * 0.14);
  v.lineTo(s * 0.82, s * 0.14);
  v.lineTo(s * 0.58, s * 0.66);
  v.lineTo(s * 0.42, s * 0.66);
  v.closeSubpath();
  p.setBrush(QColor(250, 240, 200));
  p.drawPath(v);
  // A plug with five pins below the V.
  p.setBrush(Qt::white);
  p.drawRoundedRect(QRectF(s * 0.22, s * 0.72, s * 0.56, s * 0.16), s * 0.05, s * 0.05);
  p.setBrush(QColor(20, 110, 80));
  for (int i = 0; i < 5; ++i) {
    p.drawEllipse(QPointF(s * (0.30 + 0.10 * i), s * 0.80), s * 0.025, s * 0.025);
  }
  return image;
}

QImage ProgramLogoImage(int width, int height) {
  QImage image = Blank(width, height);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.drawImage(QRect(0, 0, height, height), ProgramIconImage(height));
  QFont font("DejaVu Sans");
  font.setBold(true);
  font.setPixelSize(height * 7 / 10);
  p.setFont(font);
  p.setPen(QColor(20, 110, 80));
  p.drawText(QRect(height + height / 5, 0, width - height, height), Qt::AlignVCenter, "VCP");
  return image;
}
