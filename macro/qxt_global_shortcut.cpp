#include "macro/qxt_global_shortcut.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QHash>

#include "platform/input_hooks.h"

namespace {

platform::GlobalHotKeys* hotKeys = nullptr;
quint32 nextId = 1;

unsigned modifierBits(Qt::KeyboardModifiers modifiers) {
    unsigned bits = 0;
    if (modifiers & Qt::ShiftModifier)
        bits |= platform::kHotKeyShift;
    if (modifiers & Qt::ControlModifier)
        bits |= platform::kHotKeyControl;
    if (modifiers & Qt::AltModifier)
        bits |= platform::kHotKeyAlt;
    if (modifiers & Qt::MetaModifier)
        bits |= platform::kHotKeyMeta;
    return bits;
}

}  // namespace

// Hands the system's hot-key messages to the shortcut registered under their id.
class GlobalShortcutEvents : public QAbstractNativeEventFilter {
  public:
    static GlobalShortcutEvents& instance() {
        static GlobalShortcutEvents events;
        return events;
    }

    void add(QxtGlobalShortcut* shortcut) {
        if (shortcuts_.isEmpty() && QCoreApplication::instance())
            QCoreApplication::instance()->installNativeEventFilter(this);
        shortcuts_.insert(shortcut->id_, shortcut);
    }
    void remove(QxtGlobalShortcut* shortcut) { shortcuts_.remove(shortcut->id_); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, long*) override {
        quint32 id = 0;
        if (!hotKeys || !hotKeys->decodeActivation(eventType.toStdString(), message, id))
            return false;
        QxtGlobalShortcut* shortcut = shortcuts_.value(id);
        if (!shortcut)
            return false;
        if (shortcut->enabled_)
            emit shortcut->activated();
        return true;
    }

  private:
    QHash<quint32, QxtGlobalShortcut*> shortcuts_;
};

QxtGlobalShortcut::QxtGlobalShortcut(QObject* parent) : QObject(parent), id_(nextId++) {}

QxtGlobalShortcut::~QxtGlobalShortcut() {
    unregister();
}

void QxtGlobalShortcut::setBackend(platform::GlobalHotKeys* backend) {
    hotKeys = backend;
}

bool QxtGlobalShortcut::setShortcut(const QKeySequence& sequence) {
    unregister();
    shortcut_ = sequence;
    if (sequence.isEmpty() || !hotKeys)
        return sequence.isEmpty();
    const int combined = sequence[0];
    const int key = combined & ~int(Qt::KeyboardModifierMask);
    const auto modifiers = Qt::KeyboardModifiers(combined & int(Qt::KeyboardModifierMask));
    registered_ = hotKeys->registerHotKey(id_, modifierBits(modifiers), key);
    if (registered_)
        GlobalShortcutEvents::instance().add(this);
    return registered_;
}

void QxtGlobalShortcut::setEnabled(bool enabled) {
    enabled_ = enabled;
}

void QxtGlobalShortcut::unregister() {
    if (!registered_)
        return;
    GlobalShortcutEvents::instance().remove(this);
    if (hotKeys)
        hotKeys->unregisterHotKey(id_);
    registered_ = false;
}
