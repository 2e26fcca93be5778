#include "app/ps_application.h"

#include "app/application.h"
#include "app/window.h"

bool _PsEventFilter::nativeEventFilter(const QByteArray& eventType, void* message, long*) {
    Window* window = Application::mainWindow();
    if (!window || !messages_)
        return false;
    const platform::NativeMessage native = messages_->classify(eventType.toStdString(), message);
    if (native.kind == platform::NativeMessageKind::SessionEnd) {
        Application::requestQuit();
    } else if (native.kind == platform::NativeMessageKind::WindowDestroyed &&
               native.window == static_cast<std::uintptr_t>(window->winId())) {
        Application::requestQuit();
    }
    return false;
}

PsApplication::PsApplication(int& argc, char** argv) : QApplication(argc, argv) {}

PsApplication::~PsApplication() {
    if (eventFilter_)
        removeNativeEventFilter(eventFilter_.get());
}

void PsApplication::installPsEventFilter(std::unique_ptr<_PsEventFilter> filter) {
    if (eventFilter_)
        removeNativeEventFilter(eventFilter_.get());
    eventFilter_ = std::move(filter);
    if (eventFilter_)
        installNativeEventFilter(eventFilter_.get());
}
