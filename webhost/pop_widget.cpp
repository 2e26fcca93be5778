#include "webhost/pop_widget.h"

#include <QEvent>
#include <QResizeEvent>

#include "webhost/client_handler.h"
#include "webhost/qcef_web_view.h"

PopWidget::PopWidget(const QString& url, const QSize& size, QWidget* parent, const QString& viewKey)
    : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint), url_(url), size_(size) {
    resize(size_);
    view_ = new QCefWebView(this);
    view_->setViewKey(viewKey);
    view_->resize(size_);
    view_->load(url_);
    installEventFilter(this);
}

PopWidget::~PopWidget() = default;

bool PopWidget::eventFilter(QObject* watched, QEvent* event) {
    if (watched == this && event->type() == QEvent::WindowActivate) {
        if (ClientHandler* handler = ClientHandler::instance()) {
            handler->setCurrentListener(view_);
            handler->setMainWindowHandle(winId());
        }
        emit activated(this);
    }
    return QWidget::eventFilter(watched, event);
}

void PopWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    view_->resize(event->size());
}
