#include "controls/CControlButton.h"

#include "controls/BitmapRegion.h"
#include "controls/BitmapResource.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

namespace melvora {

CControlButton::CControlButton(QWidget *parent) : QPushButton(parent) {
    // A picture button is never the dialog's default button: Enter in a text
    // box must not press it.
    setAutoDefault(false);
    setDefault(false);
    setFlat(true);
}

void CControlButton::SetBitmaps(int hoverId, int normalId, int pressedId) {
    SetBitmaps(loadBitmap(hoverId), loadBitmap(normalId), loadBitmap(pressedId));
}

void CControlButton::SetBitmaps(const QImage &hover, const QImage &normal, const QImage &pressed) {
    m_hoverBitmap = hover;
    m_normalBitmap = normal;
    m_pressedBitmap = pressed;
    updateGeometry();
    update();
}

bool CControlButton::ApplyBitmapRegion(int bitmapId) {
    return ApplyBitmapRegion(loadBitmap(bitmapId));
}

bool CControlButton::ApplyBitmapRegion(const QImage &bitmap) {
    const std::optional<QRegion> region = BuildBitmapRegion(bitmap);
    // An empty shape would leave a button nobody can see or click: keep the
    // rectangle instead.
    if (!region || region->isEmpty()) {
        clearMask();
        return false;
    }
    setMask(*region);
    update();
    return true;
}

CControlButton::Face CControlButton::currentFace() const {
    if (isDown())
        return Face::Pressed;
    return m_hover ? Face::Hover : Face::Normal;
}

QSize CControlButton::sizeHint() const {
    if (!m_normalBitmap.isNull())
        return m_normalBitmap.size();
    return QPushButton::sizeHint();
}

QSize CControlButton::minimumSizeHint() const {
    return sizeHint();
}

bool CControlButton::hitButton(const QPoint &pos) const {
    // The whole picture is the button, not the style's bevel inside it.
    return mask().isEmpty() ? rect().contains(pos) : mask().contains(pos);
}

void CControlButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), m_hover ? m_hoverBitmap : m_normalBitmap);
    if (isDown())
        painter.drawImage(QPoint(0, 0), m_pressedBitmap);
}

void CControlButton::enterEvent(QEnterEvent *event) {
    setHover(true);
    QPushButton::enterEvent(event);
}

void CControlButton::leaveEvent(QEvent *event) {
    setHover(false);
    QPushButton::leaveEvent(event);
}

void CControlButton::mouseMoveEvent(QMouseEvent *event) {
    // A button shown under a resting pointer gets no enter event until the
    // pointer moves; any move inside means the pointer is on it.
    if (hitButton(event->position().toPoint()))
        setHover(true);
    QPushButton::mouseMoveEvent(event);
}

void CControlButton::setHover(bool hover) {
    if (m_hover == hover)
        return;
    m_hover = hover;
    update();
}

} // namespace melvora
