// Draws the button faces and the application icon into PNG files:
//   melvora-image-generator <output folder>
// The faces are drawn a second time without their texts into blank/, for the
// window to write a caption of the user's language on.
// The PNGs are committed under resources/images; run this again (target
// melvora_images) only to change how they look. Needs a CJK font
// (Debian's fonts-noto-cjk) for the button texts.

#include <QConicalGradient>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

const QColor windowGround(187, 222, 251); // the main window's background
const QString cjkFamily = QStringLiteral("Noto Sans CJK SC");

struct BarColours {
    QColor top, middle, bottom, border, text;
};

const BarColours blueBar{{234, 245, 255}, {192, 223, 250}, {146, 197, 242}, {84, 142, 204}, {22, 40, 74}};
const BarColours greenBar{{236, 252, 238}, {184, 234, 196}, {128, 208, 150}, {70, 150, 98}, {18, 52, 34}};

QFont cjkFont(int pixelSize, QFont::Weight weight) {
    QFont font(cjkFamily);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    font.setStyleStrategy(QFont::PreferAntialias);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// Everything the shape does not touch becomes pure white, the colour that
// cuts a button's window to its picture; the anti-aliased edge keeps its
// blend with the window's ground so no light fringe shows around it. Inside,
// pure white is nudged off white so highlights never punch holes.
QImage cutToShape(const QImage &face, const QPainterPath &shape) {
    QImage coverage(face.size(), QImage::Format_ARGB32);
    coverage.fill(Qt::transparent);
    {
        QPainter painter(&coverage);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(shape, Qt::black);
    }
    QImage result = face.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < result.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(result.scanLine(y));
        const auto *cover = reinterpret_cast<const QRgb *>(coverage.constScanLine(y));
        for (int x = 0; x < result.width(); ++x) {
            if (qAlpha(cover[x]) == 0)
                line[x] = qRgb(255, 255, 255);
            else if (line[x] == qRgb(255, 255, 255))
                line[x] = qRgb(254, 254, 254);
        }
    }
    return result;
}

QImage bar(int width, int height, const QString &label, const BarColours &colours) {
    QImage face(width, height, QImage::Format_RGB32);
    face.fill(windowGround);
    const QRectF outline(0.5, 0.5, width - 1.0, height - 1.0);
    QPainterPath shape;
    shape.addRoundedRect(outline, 8, 8);

    QPainter painter(&face);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient fill(0, 0, 0, height);
    fill.setColorAt(0.0, colours.top);
    fill.setColorAt(0.48, colours.middle);
    fill.setColorAt(1.0, colours.bottom);
    painter.setPen(QPen(colours.border, 1.0));
    painter.setBrush(fill);
    painter.drawPath(shape);

    // A soft sheen along the upper half.
    QPainterPath sheen;
    sheen.addRoundedRect(QRectF(2.5, 2.0, width - 5.0, height * 0.42), 6, 6);
    QLinearGradient sheenFill(0, 2, 0, height * 0.45);
    sheenFill.setColorAt(0.0, QColor(255, 255, 255, 150));
    sheenFill.setColorAt(1.0, QColor(255, 255, 255, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(sheenFill);
    painter.drawPath(sheen);

    painter.setFont(cjkFont(15, QFont::Medium));
    painter.setPen(QColor(255, 255, 255, 120));
    painter.drawText(QRectF(0, 1, width, height), Qt::AlignCenter, label);
    painter.setPen(colours.text);
    painter.drawText(QRectF(0, 0, width, height), Qt::AlignCenter, label);
    painter.end();
    return cutToShape(face, shape);
}

// The round start button: a grey metallic ring around a glossy blue disc,
// the disc's centre tinted green for the hover face.
QImage startButton(bool greenCentre, const QString &label) {
    const int width = 90;
    const int height = 93;
    QImage face(width, height, QImage::Format_RGB32);
    face.fill(windowGround);
    QPainter painter(&face);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QPointF centre(45.0, 45.0);

    // Shadow on the ground below the ring.
    QRadialGradient shadow(centre + QPointF(0, 3), 45);
    shadow.setColorAt(0.88, QColor(60, 100, 150, 90));
    shadow.setColorAt(1.0, QColor(60, 100, 150, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(shadow);
    painter.drawEllipse(centre + QPointF(0, 3), 45, 45);

    QConicalGradient metal(centre, 60);
    metal.setColorAt(0.00, QColor(246, 247, 250));
    metal.setColorAt(0.17, QColor(150, 156, 168));
    metal.setColorAt(0.33, QColor(232, 234, 238));
    metal.setColorAt(0.50, QColor(118, 124, 136));
    metal.setColorAt(0.67, QColor(226, 228, 233));
    metal.setColorAt(0.83, QColor(140, 146, 158));
    metal.setColorAt(1.00, QColor(246, 247, 250));
    painter.setPen(QPen(QColor(92, 98, 110), 1.0));
    painter.setBrush(metal);
    painter.drawEllipse(centre, 43, 43);

    painter.setPen(QPen(QColor(70, 76, 90), 1.2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, 35.5, 35.5);

    QRadialGradient disc(centre + QPointF(-8, -10), 46);
    if (greenCentre) {
        disc.setColorAt(0.0, QColor(150, 240, 150));
        disc.setColorAt(0.35, QColor(52, 180, 110));
        disc.setColorAt(0.75, QColor(22, 96, 186));
        disc.setColorAt(1.0, QColor(10, 52, 140));
    } else {
        disc.setColorAt(0.0, QColor(120, 190, 255));
        disc.setColorAt(0.40, QColor(36, 118, 222));
        disc.setColorAt(0.75, QColor(18, 78, 180));
        disc.setColorAt(1.0, QColor(10, 46, 130));
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(disc);
    painter.drawEllipse(centre, 35, 35);

    QLinearGradient gloss(0, 11, 0, 46);
    gloss.setColorAt(0.0, QColor(255, 255, 255, 170));
    gloss.setColorAt(1.0, QColor(255, 255, 255, 0));
    painter.setBrush(gloss);
    painter.drawEllipse(QRectF(19, 11, 52, 32));

    const QRectF textArea(0, 2, width, 86);
    painter.setFont(cjkFont(22, QFont::Bold));
    painter.setPen(QColor(40, 30, 0, 170));
    painter.drawText(textArea.translated(1, 1.5), Qt::AlignCenter, label);
    painter.setPen(QColor(255, 214, 0));
    painter.drawText(textArea, Qt::AlignCenter, label);
    painter.end();
    return face;
}

// The application icon: a film strip under a music note.
QImage appIcon() {
    const int size = 256;
    QImage icon(size, size, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient ground(0, 0, 0, size);
    ground.setColorAt(0.0, QColor(88, 168, 245));
    ground.setColorAt(1.0, QColor(20, 72, 170));
    painter.setPen(Qt::NoPen);
    painter.setBrush(ground);
    painter.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);

    // Film strip, tilted a little.
    painter.save();
    painter.translate(112, 150);
    painter.rotate(-12);
    painter.setBrush(QColor(28, 30, 38));
    painter.drawRoundedRect(QRectF(-92, -52, 184, 104), 8, 8);
    painter.setBrush(QColor(235, 240, 248));
    for (int i = 0; i < 8; ++i) {
        const qreal x = -84 + i * 22.5;
        painter.drawRoundedRect(QRectF(x, -46, 12, 10), 2, 2);
        painter.drawRoundedRect(QRectF(x, 36, 12, 10), 2, 2);
    }
    QLinearGradient frame(0, -30, 0, 30);
    frame.setColorAt(0.0, QColor(130, 200, 255));
    frame.setColorAt(1.0, QColor(50, 120, 210));
    painter.setBrush(frame);
    painter.drawRect(QRectF(-84, -30, 78, 60));
    painter.drawRect(QRectF(4, -30, 78, 60));
    painter.restore();

    // Music note: two heads joined by a beam.
    const QColor yellow(255, 212, 0);
    painter.setBrush(yellow);
    painter.setPen(QPen(QColor(120, 80, 0), 3));
    painter.drawEllipse(QPointF(150, 118), 20, 15);
    painter.drawEllipse(QPointF(210, 100), 20, 15);
    painter.setPen(Qt::NoPen);
    painter.drawRect(QRectF(164, 40, 8, 78));
    painter.drawRect(QRectF(224, 24, 8, 76));
    QPainterPath beam;
    beam.moveTo(164, 40);
    beam.lineTo(232, 24);
    beam.lineTo(232, 44);
    beam.lineTo(164, 60);
    beam.closeSubpath();
    painter.drawPath(beam);
    painter.end();
    return icon;
}

bool save(const QImage &image, const QDir &folder, int id) {
    const QString path = folder.filePath(QStringLiteral("%1.png").arg(id));
    const QImage stored =
        image.hasAlphaChannel() ? image : image.convertToFormat(QImage::Format_RGB888); // 24-bit faces
    if (!stored.save(path, "PNG")) {
        std::fprintf(stderr, "Could not write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    if (!QFontDatabase::families().contains(cjkFamily)) {
        std::fprintf(stderr, "Font \"%s\" is missing (Debian package fonts-noto-cjk)\n", qPrintable(cjkFamily));
        return 1;
    }
    QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "Could not create %s\n", argv[1]);
        return 1;
    }

    const auto saveFaces = [](const QDir &into, const QString &start, const QString &browse,
                              const QString &openFolder) {
        return save(bar(96, 35, openFolder, blueBar), into, 268) && save(startButton(false, start), into, 295) &&
               save(bar(65, 35, browse, blueBar), into, 335) && save(bar(65, 35, browse, greenBar), into, 336) &&
               save(bar(96, 35, openFolder, greenBar), into, 337) && save(startButton(true, start), into, 338);
    };
    QDir blank(folder.filePath(QStringLiteral("blank")));
    const bool ok = save(appIcon(), folder, 266) &&
                    saveFaces(folder, QStringLiteral("开始"), QStringLiteral("浏览"), QStringLiteral("打开目录")) &&
                    blank.mkpath(QStringLiteral(".")) && saveFaces(blank, {}, {}, {});
    return ok ? 0 : 1;
}
