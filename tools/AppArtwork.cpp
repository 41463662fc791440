// tools/AppArtwork.cpp: draws the window's pictures and the program icon at build time.
// Usage: zeloro_app_artwork OUTDIR   writes OUTDIR/background.png (640x400), OUTDIR/close.png (24x24) and
// OUTDIR/zeloro.png (128x128, the icon of the desktop entry and of the window).
#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRectF>
#include <QString>
#include <cstdio>

namespace {

const QColor kOrange(255, 159, 72);
const QColor kOrangeDark(214, 112, 28);
const QColor kBandTop(46, 58, 70);
const QColor kBandBottom(27, 35, 43);

// The icon on a square of side s at the painter's origin: a tilted photo with a landscape and an
// orange map pin standing on it.
void DrawIcon(QPainter& p, double s) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient tile(0, 0, 0, s);
    tile.setColorAt(0, QColor(33, 120, 150));
    tile.setColorAt(1, QColor(17, 70, 92));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(0, 0, s, s), s * 0.18, s * 0.18);

    // The photo: white card, sky and a green hill.
    p.save();
    p.translate(s * 0.46, s * 0.52);
    p.rotate(-8);
    const QRectF card(-s * 0.34, -s * 0.27, s * 0.62, s * 0.5);
    p.setBrush(Qt::white);
    p.drawRoundedRect(card, s * 0.03, s * 0.03);
    const QRectF picture = card.adjusted(s * 0.04, s * 0.04, -s * 0.04, -s * 0.04);
    p.setBrush(QColor(170, 214, 240));
    p.drawRect(picture);
    QPainterPath hill;
    hill.moveTo(picture.bottomLeft());
    hill.lineTo(picture.left(), picture.top() + picture.height() * 0.65);
    hill.quadTo(picture.center().x() - s * 0.05, picture.top() + picture.height() * 0.25, picture.right(),
                picture.top() + picture.height() * 0.7);
    hill.lineTo(picture.bottomRight());
    hill.closeSubpath();
    p.setBrush(QColor(88, 160, 72));
    p.drawPath(hill);
    p.setBrush(QColor(255, 226, 120));
    p.drawEllipse(QPointF(picture.left() + picture.width() * 0.25, picture.top() + picture.height() * 0.28),
                  s * 0.045, s * 0.045);
    p.restore();

    // The pin: a round head on a point, with a white eye.
    const double cx = s * 0.68;
    const double headY = s * 0.36;
    const double r = s * 0.17;
    QPainterPath pin;
    pin.moveTo(cx, s * 0.86);
    pin.cubicTo(cx - r * 0.35, s * 0.70, cx - r, headY + r * 0.75, cx - r, headY);
    pin.arcTo(QRectF(cx - r, headY - r, 2 * r, 2 * r), 180, -180);
    pin.cubicTo(cx + r, headY + r * 0.75, cx + r * 0.35, s * 0.70, cx, s * 0.86);
    pin.closeSubpath();
    p.setPen(QPen(kOrangeDark, s * 0.02));
    p.setBrush(kOrange);
    p.drawPath(pin);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(cx, headY), r * 0.42, r * 0.42);
    p.restore();
}

QImage Icon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    DrawIcon(p, size);
    p.end();
    return image;
}

// 640 by 400: white body, a dark band across the top with the icon at its left, an orange rule under
// the band and a thin frame around all.
QImage Background() {
    constexpr int kWidth = 640;
    constexpr int kHeight = 400;
    constexpr int kBand = 60;
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    QLinearGradient band(0, 0, 0, kBand);
    band.setColorAt(0, kBandTop);
    band.setColorAt(1, kBandBottom);
    p.fillRect(0, 0, kWidth, kBand, band);
    p.fillRect(0, kBand, kWidth, 2, kOrange);
    // A faint rule above the buttons separates the inputs from the commands.
    p.fillRect(98, 324, 519, 1, QColor(225, 225, 225));
    p.translate(30, 7);
    DrawIcon(p, 46);
    p.resetTransform();
    p.setPen(QPen(QColor(70, 70, 70), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(0, 0, kWidth - 1, kHeight - 1);
    p.end();
    return image;
}

// 24 by 24: an orange circle with a white cross, transparent around the circle.
QImage CloseButton() {
    constexpr int kSize = 24;
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kOrangeDark, 1.0));
    p.setBrush(kOrange);
    p.drawEllipse(QRectF(0.5, 0.5, kSize - 1.0, kSize - 1.0));
    QPen cross(Qt::white, 2.6);
    cross.setCapStyle(Qt::RoundCap);
    p.setPen(cross);
    p.drawLine(QPointF(8, 8), QPointF(16, 16));
    p.drawLine(QPointF(16, 8), QPointF(8, 16));
    p.end();
    return image;
}

bool Save(const QImage& image, const QDir& dir, const char* name) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "zeloro_app_artwork: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zeloro_app_artwork OUTDIR\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.exists() && !QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "zeloro_app_artwork: cannot create %s\n", argv[1]);
        return 1;
    }
    const bool ok = Save(Background(), dir, "background.png") && Save(CloseButton(), dir, "close.png") &&
                    Save(Icon(128), dir, "zeloro.png");
    return ok ? 0 : 1;
}
