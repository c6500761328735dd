#pragma once

#include <QColor>
#include <QCursor>
#include <QLabel>

namespace melvora {

// A text that works as a link to an address: drawn in link colours,
// underlined, with a hand cursor and the address as tooltip. A click hands
// the address to the desktop (desktop().openInDesktop); success marks the
// link visited, failure beeps and shows an exclamation box naming the cause.
//
// Alignment follows the text control it stands for: left, Qt::AlignHCenter
// or Qt::AlignRight horizontally; Qt::AlignVCenter centres it vertically,
// otherwise it sits at the top. The default is left and top.
class CHyperLink : public QLabel {
    Q_OBJECT

public:
    enum Underline { UnderlineHover = -1, UnderlineNever = 0, UnderlineAlways = 1 };

    explicit CHyperLink(QWidget *parent = nullptr);
    explicit CHyperLink(const QString &text, QWidget *parent = nullptr);

    // Completes the set-up once text, font and place are given: an empty
    // address takes the text, an empty text shows the address, the tooltip
    // shows the address, and the link is fitted to its text.
    void attach();

    // Sets the address, makes it the tooltip and fits the link to its text.
    void SetURL(const QString &url);
    const QString &url() const { return m_url; }

    // UnderlineAlways, UnderlineNever, or UnderlineHover: only while the
    // pointer is over the link.
    void SetUnderline(int mode);
    int underlineMode() const { return m_underlineMode; }

    // The cursor over the link; a pointing hand unless set.
    void SetLinkCursor(const QCursor &cursor);

    void SetVisited(bool visited);
    bool isVisited() const { return m_visited; }

    void setColours(const QColor &link, const QColor &visited, const QColor &hover);
    const QColor &linkColour() const { return m_linkColour; }
    const QColor &visitedColour() const { return m_visitedColour; }
    const QColor &hoverColour() const { return m_hoverColour; }

    // Whether SetURL and attach resize the link to its text (default true).
    void setAdjustToFit(bool adjust) { m_adjustToFit = adjust; }
    bool adjustToFit() const { return m_adjustToFit; }

    // Resizes the link to its text measured in the underlined font, keeping
    // the edge its alignment names: the left edge of a left-aligned link,
    // the right edge of a right-aligned one, the centre of a centred one;
    // vertically the top, or the middle with Qt::AlignVCenter.
    void fitToText();

    // The state the link is drawn in.
    bool isOverLink() const { return m_overLink; }
    QColor currentColour() const;
    bool isUnderlined() const;

    // The text of the box shown when opening fails with an OpenResult code.
    static QString failureReport(int code);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void setOverLink(bool over);
    void follow();
    QFont underlinedFont() const;

    QColor m_linkColour{0, 0, 238};
    QColor m_visitedColour{85, 26, 139};
    QColor m_hoverColour{255, 0, 0};
    bool m_overLink = false;
    bool m_visited = false;
    bool m_pressed = false;
    int m_underlineMode = UnderlineHover;
    bool m_adjustToFit = true;
    QString m_url;
};

} // namespace melvora
