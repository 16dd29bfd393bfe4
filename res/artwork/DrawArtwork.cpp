// Draws the application's artwork: the icon at 48 and 32 pixels and the
// 172 × 21 logo, into the res/ folder given as the only argument, as PNG
// files for the Qt face and, for the Windows face's resources, as an icon
// file and a bitmap of 24 bits per pixel (res/windows/).
//   QT_QPA_PLATFORM=offscreen kestrow_draw_artwork res
#include <QConicalGradient>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <QFile>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// A silver disc with a rainbow sheen, and a magnifying glass over its edge.
QImage DrawIcon(int size, bool withMagnifier = true) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 48.0, size / 48.0);

  const QPointF centre(21, 21);
  QConicalGradient sheen(centre, 30);
  sheen.setColorAt(0.00, QColor(0xE8, 0xEC, 0xF2));
  sheen.setColorAt(0.12, QColor(0xF6, 0xD3, 0xE8));
  sheen.setColorAt(0.22, QColor(0xC9, 0xE4, 0xFB));
  sheen.setColorAt(0.35, QColor(0xD7, 0xF5, 0xD2));
  sheen.setColorAt(0.50, QColor(0xB8, 0xC0, 0xCC));
  sheen.setColorAt(0.62, QColor(0xFB, 0xEE, 0xC4));
  sheen.setColorAt(0.75, QColor(0xD2, 0xD9, 0xF7));
  sheen.setColorAt(0.88, QColor(0xF2, 0xC9, 0xD9));
  sheen.setColorAt(1.00, QColor(0xE8, 0xEC, 0xF2));
  QPainterPath disc;
  disc.addEllipse(centre, 19.5, 19.5);
  disc.addEllipse(centre, 3.2, 3.2);
  p.setPen(QPen(QColor(0x5A, 0x66, 0x78), 1.2));
  p.setBrush(sheen);
  p.drawPath(disc);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0x9A, 0xA4, 0xB2), 1.0));
  p.drawEllipse(centre, 7.5, 7.5);
  if (!withMagnifier) return image;

  // The magnifier: a handle from the lens to the corner, and a tinted lens.
  p.setPen(QPen(QColor(0x1F, 0x3A, 0x68), 6.0, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(37, 37), QPointF(44.5, 44.5));
  QRadialGradient glass(QPointF(30, 29), 11);
  glass.setColorAt(0.0, QColor(255, 255, 255, 230));
  glass.setColorAt(1.0, QColor(0x9C, 0xC8, 0xF0, 200));
  p.setBrush(glass);
  p.setPen(QPen(QColor(0x1F, 0x3A, 0x68), 3.2));
  p.drawEllipse(QPointF(31, 31), 9, 9);
  // An orange pulse line in the lens: the diagnosis.
  p.setPen(QPen(QColor(0xE0, 0x6A, 0x10), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  QPainterPath pulse;
  pulse.moveTo(24.5, 31.5);
  pulse.lineTo(28, 31.5);
  pulse.lineTo(29.5, 26.5);
  pulse.lineTo(32, 35.5);
  pulse.lineTo(33.5, 31.5);
  pulse.lineTo(37.5, 31.5);
  p.setBrush(Qt::NoBrush);
  p.drawPath(pulse);
  return image;
}

// A navy banner with a small disc, the name, and an orange rule.
QImage DrawLogo() {
  QImage image(172, 21, QImage::Format_RGB888);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QLinearGradient band(0, 0, 172, 0);
  band.setColorAt(0.0, QColor(0x14, 0x2A, 0x50));
  band.setColorAt(1.0, QColor(0x2C, 0x5A, 0x9A));
  p.fillRect(image.rect(), band);
  p.fillRect(QRect(0, 19, 172, 2), QColor(0xE0, 0x6A, 0x10));

  const QImage icon =
      DrawIcon(48, false).copy(QRect(1, 1, 41, 41)).scaled(17, 17, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  p.drawImage(QPoint(4, 1), icon);

  QFont bold(QStringLiteral("DejaVu Sans"));
  bold.setPixelSize(13);
  bold.setBold(true);
  bold.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
  p.setFont(bold);
  p.setPen(Qt::white);
  const QRect textBox(24, 0, 150, 19);
  p.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("KESTROW"));
  const int nameWidth = QFontMetrics(bold).horizontalAdvance(QStringLiteral("KESTROW"));

  QFont light(QStringLiteral("DejaVu Sans"));
  light.setPixelSize(12);
  p.setFont(light);
  p.setPen(QColor(0xF5, 0xA6, 0x5B));
  p.drawText(textBox.adjusted(nameWidth + 5, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Diag"));
  return image;
}

bool Save(const QImage& image, const QString& path) {
  const bool saved = image.save(path, "PNG");
  std::fprintf(stderr, "%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
  return saved;
}

void PutLe(QByteArray& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A BITMAPINFOHEADER and the image's rows, bottom-up, 24 bits per pixel (each
// row padded to 4 bytes); an icon image adds its AND mask (1 where the
// picture is transparent) and doubles the height.
QByteArray DeviceIndependentBitmap(const QImage& source, bool withMask) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  const int w = image.width();
  const int h = image.height();
  const int rowBytes = (w * 3 + 3) / 4 * 4;
  const int maskBytes = ((w + 31) / 32) * 4;
  QByteArray out;
  PutLe(out, 40, 4);
  PutLe(out, static_cast<std::uint32_t>(w), 4);
  PutLe(out, static_cast<std::uint32_t>(withMask ? 2 * h : h), 4);
  PutLe(out, 1, 2);   // planes
  PutLe(out, 24, 2);  // bits per pixel
  PutLe(out, 0, 4);   // BI_RGB
  PutLe(out, static_cast<std::uint32_t>(rowBytes * h + (withMask ? maskBytes * h : 0)), 4);
  PutLe(out, 3780, 4);  // 96 dots per inch
  PutLe(out, 3780, 4);
  PutLe(out, 0, 4);
  PutLe(out, 0, 4);
  for (int y = h - 1; y >= 0; --y) {
    QByteArray row;
    for (int x = 0; x < w; ++x) {
      const QRgb pixel = image.pixel(x, y);
      // Half-transparent edges are mixed with the dialog grey they sit on.
      const int a = qAlpha(pixel);
      const auto mix = [a](int c, int grey) { return static_cast<char>((c * a + grey * (255 - a)) / 255); };
      row.append(mix(qBlue(pixel), 0xF0)).append(mix(qGreen(pixel), 0xF0)).append(mix(qRed(pixel), 0xF0));
    }
    row.append(QByteArray(rowBytes - row.size(), '\0'));
    out.append(row);
  }
  for (int y = h - 1; withMask && y >= 0; --y) {
    QByteArray row(maskBytes, '\0');
    for (int x = 0; x < w; ++x) {
      if (qAlpha(image.pixel(x, y)) < 128) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
    }
    out.append(row);
  }
  return out;
}

bool WriteFile(const QByteArray& bytes, const QString& path) {
  QFile file(path);
  const bool saved = file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
  std::fprintf(stderr, "%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
  return saved;
}

// A Windows icon file holding `images`.
bool SaveIcon(const std::vector<QImage>& images, const QString& path) {
  QByteArray header;
  PutLe(header, 0, 2);
  PutLe(header, 1, 2);  // an icon
  PutLe(header, static_cast<std::uint32_t>(images.size()), 2);
  QByteArray data;
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
  for (const QImage& image : images) {
    const QByteArray dib = DeviceIndependentBitmap(image, true);
    header.append(static_cast<char>(image.width())).append(static_cast<char>(image.height()));
    PutLe(header, 0, 2);  // no palette
    PutLe(header, 1, 2);
    PutLe(header, 24, 2);
    PutLe(header, static_cast<std::uint32_t>(dib.size()), 4);
    PutLe(header, offset, 4);
    offset += static_cast<std::uint32_t>(dib.size());
    data.append(dib);
  }
  return WriteFile(header + data, path);
}

// A Windows bitmap file.
bool SaveBitmap(const QImage& image, const QString& path) {
  const QByteArray dib = DeviceIndependentBitmap(image, false);
  QByteArray file("BM");
  PutLe(file, static_cast<std::uint32_t>(14 + dib.size()), 4);
  PutLe(file, 0, 4);
  PutLe(file, 14 + 40, 4);
  return WriteFile(file + dib, path);
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s RES-FOLDER\n", argv[0]);
    return 2;
  }
  const QDir res(QString::fromLocal8Bit(argv[1]));
  res.mkpath(QStringLiteral("icons"));
  bool ok = Save(DrawIcon(48), res.filePath(QStringLiteral("icons/kestrowdiag-48.png")));
  ok = Save(DrawIcon(32), res.filePath(QStringLiteral("icons/kestrowdiag-32.png"))) && ok;
  ok = Save(DrawLogo(), res.filePath(QStringLiteral("logo.png"))) && ok;
  res.mkpath(QStringLiteral("windows"));
  ok = SaveIcon({DrawIcon(48), DrawIcon(32)}, res.filePath(QStringLiteral("windows/kestrowdiag.ico"))) && ok;
  ok = SaveBitmap(DrawLogo(), res.filePath(QStringLiteral("windows/logo.bmp"))) && ok;
  return ok ? 0 : 1;
}
