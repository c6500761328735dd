#pragma once

#include <QColor>
#include <QLabel>

namespace melvora {

// A line of text that repaints itself whole, face colour first and text on
// top, with no separate background erase: a label whose text changes on
// every progress tick does not flicker. Its layout follows the text
// control's static type and centre-image flag (see drawFlags); QLabel's own
// alignment and word-wrap settings are not used. Set the text with setText().
class CLabel : public QLabel {
    Q_OBJECT

public:
    // The static types that pick the layout; every other value lays out like Left.
    enum StaticType { Left = 0, Center = 1, Right = 2, LeftNoWordWrap = 12 };

    explicit CLabel(QWidget *parent = nullptr);
    explicit CLabel(const QString &text, QWidget *parent = nullptr);

    void setStaticType(int type);
    int staticType() const { return m_staticType; }

    // Centres a single line both ways (a text with line breaks: horizontally, from the top).
    void setCenterImage(bool center);
    bool centerImage() const { return m_centerImage; }

    // The text colour is the palette's window-text colour at construction.
    void setTextColour(const QColor &colour);
    const QColor &textColour() const { return m_textColour; }

    // The face follows the palette's window colour unless set; an invalid
    // colour goes back to following it.
    void setFaceColour(const QColor &colour);
    QColor faceColour() const;

    // Qt text flags for a static type, the centre-image flag and the text:
    // Center and Right wrap words, LeftNoWordWrap does not, any other type
    // is left-aligned and wraps; a tab expands tabs. With centreImage the
    // text is centred horizontally only, or both ways on a single line when
    // it holds no "\r\n".
    static int drawFlags(int staticType, bool centerImage, const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    int m_staticType = Left;
    bool m_centerImage = false;
    QColor m_textColour;
    QColor m_faceColour; // invalid: the palette's window colour
};

} // namespace melvora
