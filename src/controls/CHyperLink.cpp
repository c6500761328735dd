#include "controls/CHyperLink.h"

#include "platform/DesktopServices.h"
#include "platform/OpenResult.h"

#include <QMouseEvent>
#include <QPainter>

namespace melvora {

CHyperLink::CHyperLink(QWidget *parent) : CHyperLink(QString(), parent) {}

CHyperLink::CHyperLink(const QString &text, QWidget *parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
}

void CHyperLink::attach() {
    if (m_url.isEmpty())
        m_url = text();
    if (text().isEmpty())
        setText(m_url);
    setToolTip(m_url);
    fitToText();
}

void CHyperLink::SetURL(const QString &url) {
    m_url = url;
    fitToText();
    setToolTip(m_url);
}

void CHyperLink::SetUnderline(int mode) {
    if (mode == m_underlineMode)
        return;
    m_underlineMode = mode;
    update();
}

void CHyperLink::SetLinkCursor(const QCursor &cursor) {
    setCursor(cursor);
}

void CHyperLink::SetVisited(bool visited) {
    m_visited = visited;
    update();
}

void CHyperLink::setColours(const QColor &link, const QColor &visited, const QColor &hover) {
    m_linkColour = link;
    m_visitedColour = visited;
    m_hoverColour = hover;
    update();
}

QColor CHyperLink::currentColour() const {
    if (m_overLink)
        return m_hoverColour;
    return m_visited ? m_visitedColour : m_linkColour;
}

bool CHyperLink::isUnderlined() const {
    if (m_underlineMode == UnderlineHover)
        return m_overLink;
    return m_underlineMode == UnderlineAlways;
}

QFont CHyperLink::underlinedFont() const {
    QFont underlined = font();
    underlined.setUnderline(true);
    return underlined;
}

QSize CHyperLink::sizeHint() const {
    const QSize frame = size() - contentsRect().size();
    return QFontMetrics(underlinedFont()).size(Qt::TextSingleLine, text()) + frame;
}

QSize CHyperLink::minimumSizeHint() const {
    return sizeHint();
}

void CHyperLink::fitToText() {
    if (!m_adjustToFit)
        return;
    const QSize measured = sizeHint();
    QRect area = geometry();

    if (alignment() & Qt::AlignVCenter) {
        const int shrink = (area.height() - measured.height()) / 2;
        area.adjust(0, shrink, 0, -shrink);
    } else {
        area.setHeight(measured.height());
    }

    if (alignment() & Qt::AlignHCenter) {
        const int shrink = (area.width() - measured.width()) / 2;
        area.adjust(shrink, 0, -shrink, 0);
    } else if (alignment() & Qt::AlignRight) {
        area.setLeft(area.left() + area.width() - measured.width());
    } else {
        area.setWidth(measured.width());
    }
    setGeometry(area);
}

QString CHyperLink::failureReport(int code) {
    QString reason;
    switch (code) {
    case OpenResult::OutOfResources:
        reason = QStringLiteral("The operating system is out\nof memory or resources.");
        break;
    case OpenResult::FileNotFound:
        reason = QStringLiteral("The specified file was not found.");
        break;
    case OpenResult::PathNotFound:
        reason = QStringLiteral("The specified path was not found.");
        break;
    case OpenResult::AccessDenied:
        reason = QStringLiteral("The operating system denied\naccess to the specified file.");
        break;
    case OpenResult::OutOfMemory:
        reason = QStringLiteral("There was not enough memory to complete the operation.");
        break;
    case OpenResult::BadFormat:
        reason = QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
        break;
    case OpenResult::SharingViolation:
        reason = QStringLiteral("A sharing violation occurred. ");
        break;
    case OpenResult::AssociationIncomplete:
        reason = QStringLiteral("The filename association is\nincomplete or invalid.");
        break;
    case OpenResult::DdeTimeout:
        reason = QStringLiteral("The DDE transaction could not\nbe completed because the request timed out.");
        break;
    case OpenResult::DdeFailed:
        reason = QStringLiteral("The DDE transaction failed.");
        break;
    case OpenResult::DdeBusy:
        reason = QStringLiteral("The DDE transaction could not\nbe completed because other DDE transactions\nwere "
                                "being processed.");
        break;
    case OpenResult::NoAssociation:
        reason = QStringLiteral("There is no application associated\nwith the given filename extension.");
        break;
    case OpenResult::DllNotFound:
        reason = QStringLiteral("The specified dynamic-link library was not found.");
        break;
    default:
        reason = QStringLiteral("Unknown Error (%1) occurred.").arg(code);
        break;
    }
    return QStringLiteral("Unable to open hyperlink:\n\n") + reason;
}

void CHyperLink::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    drawFrame(&painter);
    QFont drawn = font();
    drawn.setUnderline(isUnderlined());
    painter.setFont(drawn);
    painter.setPen(currentColour());
    const int wrap = wordWrap() ? int(Qt::TextWordWrap) : 0;
    painter.drawText(contentsRect(), int(alignment()) | wrap, text());
}

void CHyperLink::enterEvent(QEnterEvent *event) {
    setOverLink(true);
    QLabel::enterEvent(event);
}

void CHyperLink::mouseMoveEvent(QMouseEvent *event) {
    if (rect().contains(event->position().toPoint()))
        setOverLink(true);
    QLabel::mouseMoveEvent(event);
}

void CHyperLink::leaveEvent(QEvent *event) {
    setOverLink(false);
    QLabel::leaveEvent(event);
}

void CHyperLink::mousePressEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) {
        m_pressed = true;
        event->accept();
        return;
    }
    QLabel::mousePressEvent(event);
}

void CHyperLink::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton && m_pressed) {
        m_pressed = false;
        event->accept();
        if (rect().contains(event->position().toPoint()))
            follow();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void CHyperLink::setOverLink(bool over) {
    if (m_overLink == over)
        return;
    m_overLink = over;
    update();
}

void CHyperLink::follow() {
    setOverLink(false);
    const int code = desktop().openInDesktop(m_url);
    if (OpenResult::succeeded(code)) {
        SetVisited(true);
        return;
    }
    desktop().beep();
    desktop().messageBox(failureReport(code), MessageIcon::Exclamation);
}

} // namespace melvora
