#include "controls/CLabel.h"

#include <QEvent>
#include <QPainter>

namespace melvora {

CLabel::CLabel(QWidget *parent) : CLabel(QString(), parent) {}

CLabel::CLabel(const QString &text, QWidget *parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
    m_textColour = palette().color(QPalette::WindowText);
    // The paint covers every pixel, so Qt need not clear the background first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CLabel::setStaticType(int type) {
    m_staticType = type;
    update();
}

void CLabel::setCenterImage(bool center) {
    m_centerImage = center;
    update();
}

void CLabel::setTextColour(const QColor &colour) {
    m_textColour = colour;
    update();
}

void CLabel::setFaceColour(const QColor &colour) {
    m_faceColour = colour;
    update();
}

QColor CLabel::faceColour() const {
    return m_faceColour.isValid() ? m_faceColour : palette().color(QPalette::Window);
}

int CLabel::drawFlags(int staticType, bool centerImage, const QString &text) {
    int flags = 0;
    switch (staticType) {
    case Center:
        flags = Qt::AlignHCenter | Qt::TextWordWrap;
        break;
    case Right:
        flags = Qt::AlignRight | Qt::TextWordWrap;
        break;
    case LeftNoWordWrap:
        flags = Qt::AlignLeft;
        break;
    default:
        flags = Qt::AlignLeft | Qt::TextWordWrap;
        break;
    }
    if (text.contains(QLatin1Char('\t')))
        flags |= Qt::TextExpandTabs;
    if (centerImage) {
        flags = Qt::AlignHCenter;
        if (!text.contains(QLatin1String("\r\n")))
            flags = Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine;
    }
    // Without a vertical flag the text starts at the top.
    return flags;
}

void CLabel::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const QRect area = rect();
    painter.fillRect(area, faceColour());
    const QString shown = text();
    if (shown.isEmpty())
        return;
    painter.setFont(font());
    painter.setPen(m_textColour);
    QString drawn = shown;
    drawn.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    painter.drawText(area, drawFlags(m_staticType, m_centerImage, shown), drawn);
}

void CLabel::changeEvent(QEvent *event) {
    // A new palette (the desktop's colours changed) brings a new face colour.
    if (event->type() == QEvent::PaletteChange)
        update();
    QLabel::changeEvent(event);
}

} // namespace melvora
