#include "app/ps_main_window.h"

#include <QEvent>
#include <QMouseEvent>
#include <QWindow>

Qt::Edges resizeEdgesAt(const QPoint& point, const QSize& size, int border) {
    Qt::Edges edges;
    if (border <= 0 || !QRect(QPoint(0, 0), size).contains(point))
        return edges;
    if (point.x() < border)
        edges |= Qt::LeftEdge;
    if (point.x() >= size.width() - border)
        edges |= Qt::RightEdge;
    if (point.y() < border)
        edges |= Qt::TopEdge;
    if (point.y() >= size.height() - border)
        edges |= Qt::BottomEdge;
    return edges;
}

namespace {

Qt::CursorShape cursorFor(Qt::Edges edges) {
    const bool horizontal = edges & (Qt::LeftEdge | Qt::RightEdge);
    const bool vertical = edges & (Qt::TopEdge | Qt::BottomEdge);
    if (horizontal && vertical) {
        const bool falling = (edges & Qt::LeftEdge) == bool(edges & Qt::TopEdge);
        return falling ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor;
    }
    if (horizontal)
        return Qt::SizeHorCursor;
    return vertical ? Qt::SizeVerCursor : Qt::ArrowCursor;
}

}  // namespace

PsMainWindow::PsMainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {}

void PsMainWindow::setUpFrame() {
    setMinimumSize(1000, 700);
    tracking_ = true;
    lastState_ = windowState();
}

int PsMainWindow::resizeBorder() const {
    const bool fills = windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen);
    return resizable_ && !fills ? kResizeBorder : 0;
}

void PsMainWindow::setResizable(bool resizable) {
    if (resizable_ == resizable)
        return;
    resizable_ = resizable;
    unsetCursor();
    layOutContent();
}

void PsMainWindow::mouseMoveEvent(QMouseEvent* event) {
    const Qt::Edges edges = resizeEdgesAt(event->pos(), size(), resizeBorder());
    if (edges)
        setCursor(cursorFor(edges));
    else
        unsetCursor();
    QWidget::mouseMoveEvent(event);
}

// The system resizes the window from here on, as it does for a framed one.
void PsMainWindow::mousePressEvent(QMouseEvent* event) {
    const Qt::Edges edges = resizeEdgesAt(event->pos(), size(), resizeBorder());
    if (event->button() == Qt::LeftButton && edges && windowHandle() &&
        windowHandle()->startSystemResize(edges)) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void PsMainWindow::leaveEvent(QEvent* event) {
    unsetCursor();
    QWidget::leaveEvent(event);
}

void PsMainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) {
        if (tracking_)
            lastState_ = windowState();
        layOutContent();
    }
    QWidget::changeEvent(event);
}
