#pragma once

#include <QEvent>
#include <QString>

#include "webhost/engine/engine.h"

// A page query handed from the engine's UI thread to a view on the Qt main thread.
class MessageEvent : public QEvent {
  public:
    MessageEvent(const QString& name, const engine::QueryCallbackPtr& callbackPtr)
        : QEvent(eventType()), name_(name), callbackPtr_(callbackPtr) {}

    static QEvent::Type eventType() {
        static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    const QString& name() const { return name_; }
    const engine::QueryCallbackPtr& callbackPtr() const { return callbackPtr_; }

  private:
    QString name_;
    engine::QueryCallbackPtr callbackPtr_;
};
