#pragma once

#include <QImage>
#include <QPushButton>

namespace melvora {

// A push button drawn entirely from pictures: the normal one at rest, the
// hover one while the pointer is on it, and the pressed one over either while
// it is held down. The caption is never drawn; the picture carries the label.
// Pictures are drawn unscaled at the top-left corner: a smaller button shows
// their top-left part, and a larger one shows its parent beyond them.
// Focus, default and disabled states look like the resting state.
class CControlButton : public QPushButton {
    Q_OBJECT

public:
    enum class Face { Normal, Hover, Pressed };

    explicit CControlButton(QWidget *parent = nullptr);

    // Loads the three pictures by resource id (see BitmapResource.h),
    // replacing all three held before. A missing id leaves that picture empty.
    void SetBitmaps(int hoverId, int normalId, int pressedId);
    void SetBitmaps(const QImage &hover, const QImage &normal, const QImage &pressed);

    // Cuts the button to the shape of a picture (BuildBitmapRegion), placed at
    // the button's top-left corner: outside it the button is neither drawn nor
    // clicked. Returns false, leaving the button rectangular, when the
    // picture is missing or entirely white.
    bool ApplyBitmapRegion(int bitmapId);
    bool ApplyBitmapRegion(const QImage &bitmap);

    const QImage &hoverBitmap() const { return m_hoverBitmap; }
    const QImage &normalBitmap() const { return m_normalBitmap; }
    const QImage &pressedBitmap() const { return m_pressedBitmap; }

    bool isHovered() const { return m_hover; }
    // The picture that is on top now.
    Face currentFace() const;

    // The normal picture's size, so that layouts give the button its picture.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool hitButton(const QPoint &pos) const override;
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void setHover(bool hover);

    bool m_hover = false;
    QImage m_normalBitmap;
    QImage m_pressedBitmap;
    QImage m_hoverBitmap;
};

} // namespace melvora
