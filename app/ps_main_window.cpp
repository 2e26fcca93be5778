#include "app/ps_main_window.h"

#include <QEvent>

PsMainWindow::PsMainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {}

void PsMainWindow::setUpFrame() {
    setMinimumSize(1000, 700);
    tracking_ = true;
    lastState_ = windowState();
}

void PsMainWindow::changeEvent(QEvent* event) {
    if (tracking_ && event->type() == QEvent::WindowStateChange)
        lastState_ = windowState();
    QWidget::changeEvent(event);
}
