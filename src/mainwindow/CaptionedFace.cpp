#include "mainwindow/CaptionedFace.h"

#include "controls/BitmapResource.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>

namespace melvora {
namespace {

// How the pictures write their texts (resources/generate draws the same).
struct CaptionStyle {
    QRectF area;       // the text is centred in it
    qreal widthToFill; // at most this wide
    int pixelSize;     // the pictures' own size, the largest used
    QFont::Weight weight;
    QColor shadow;
    QPointF shadowOffset;
    QColor text;
};

const QColor blueBarText(22, 40, 74);
const QColor greenBarText(18, 52, 34);

CaptionStyle barStyle(int width, const QColor &text) {
    return {QRectF(0, 0, width, 35), width - 12.0, 15, QFont::Medium, QColor(255, 255, 255, 120), QPointF(0, 1), text};
}

CaptionStyle startStyle() {
    // Inside the disc, which is 70 pixels across.
    return {QRectF(0, 2, 90, 86), 62, 22, QFont::Bold, QColor(40, 30, 0, 170), QPointF(1, 1.5), QColor(255, 214, 0)};
}

bool styleOf(int bitmapId, CaptionStyle &style) {
    switch (bitmapId) {
    case BitmapId::StartNormal:
    case BitmapId::StartHover:
        style = startStyle();
        return true;
    case BitmapId::BrowseNormal:
        style = barStyle(65, blueBarText);
        return true;
    case BitmapId::BrowseHover:
        style = barStyle(65, greenBarText);
        return true;
    case BitmapId::OpenFolderNormal:
        style = barStyle(96, blueBarText);
        return true;
    case BitmapId::OpenFolderHover:
        style = barStyle(96, greenBarText);
        return true;
    default:
        return false;
    }
}

QFont captionFont(const CaptionStyle &style, const QString &caption) {
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(style.weight);
    font.setStyleStrategy(QFont::PreferAntialias);
    font.setHintingPreference(QFont::PreferNoHinting);
    // Long words of some languages get a smaller size; 8 pixels is the least that still reads.
    for (int size = style.pixelSize; size >= 8; --size) {
        font.setPixelSize(size);
        if (QFontMetricsF(font).horizontalAdvance(caption) <= style.widthToFill)
            break;
    }
    return font;
}

} // namespace

QImage captionedFace(int bitmapId, const QString &caption) {
    CaptionStyle style;
    if (!styleOf(bitmapId, style))
        return {};
    // The path of a picture also loads the compiled resources that hold the blank faces.
    const QString pictures = bitmapResource(bitmapId).section(u'/', 0, -2);
    QImage face(pictures + QStringLiteral("/blank/%1.png").arg(bitmapId));
    if (face.isNull())
        return {};
    face = face.convertToFormat(QImage::Format_RGB32);
    QPainter painter(&face);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(captionFont(style, caption));
    painter.setPen(style.shadow);
    painter.drawText(style.area.translated(style.shadowOffset), Qt::AlignCenter, caption);
    painter.setPen(style.text);
    painter.drawText(style.area, Qt::AlignCenter, caption);
    painter.end();
    return face;
}

} // namespace melvora
