#pragma once

#include <QKeySequence>
#include <QObject>

namespace platform {
class GlobalHotKeys;
}

// One key sequence registered system-wide; `activated` is emitted when it is pressed,
// whichever application has the focus.
class QxtGlobalShortcut : public QObject {
    Q_OBJECT
  public:
    explicit QxtGlobalShortcut(QObject* parent = nullptr);
    ~QxtGlobalShortcut() override;

    // The system's hot-key service every shortcut uses; set once at start-up.
    static void setBackend(platform::GlobalHotKeys* backend);

    QKeySequence shortcut() const { return shortcut_; }
    // Registers the first key of `sequence` (an empty one unregisters); false when the
    // system refuses it.
    bool setShortcut(const QKeySequence& sequence);
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);

  signals:
    void activated();

  private:
    friend class GlobalShortcutEvents;
    void unregister();

    QKeySequence shortcut_;
    bool registered_ = false;
    bool enabled_ = true;
    quint32 id_;
};
