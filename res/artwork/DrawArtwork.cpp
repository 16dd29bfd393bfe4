// Draws the application's artwork: the icon at 48 and 32 pixels and the
// 172 × 21 logo, into the res/ folder given as the only argument.
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

#include <cstdio>

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
  return ok ? 0 : 1;
}
