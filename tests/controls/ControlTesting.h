#pragma once

// Event and rendering helpers shared by the control tests.

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QMouseEvent>
#include <QWidget>

namespace melvora::testing {

inline void sendEnter(QWidget *widget, QPoint at = {1, 1}) {
    QEnterEvent event(at, widget->mapToGlobal(at), widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &event);
}

inline void sendLeave(QWidget *widget) {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(widget, &event);
}

inline void sendMouse(QWidget *widget, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent event(type, at, widget->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

inline void click(QWidget *widget, QPoint at) {
    sendMouse(widget, QEvent::MouseButtonPress, at);
    sendMouse(widget, QEvent::MouseButtonRelease, at);
}

// What the widget shows now, as 32-bit RGB.
inline QImage rendered(QWidget *widget) {
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline QImage asRgb32(const QImage &image) {
    return image.convertToFormat(QImage::Format_RGB32);
}

} // namespace melvora::testing
