#include "macro/macro_engine.h"

#include <QThread>

#include <utility>

#include "base/engine_log.h"
#include "macro/action_text.h"
#include "macro/command_exec.h"
#include "macro/virtual_hid_client.h"
#include "platform/services.h"

MacroEngine::MacroEngine(Sources sources, QObject* parent)
    : QObject(parent), sources_(std::move(sources)) {}

MacroEngine::~MacroEngine() {
    endInputFilter();
    endPlayback();
    disconnectVMulti();
}

void MacroEngine::connectVMulti() {
    if (vmulti_)
        return;
    platform::Services* system = sources_.services;
    vmulti_ = std::make_unique<pvmulti_client>(
        system && system->virtualHid ? system->virtualHid->createClient() : nullptr);
    virtualDeviceConnected_ = vmulti_->open();
}

void MacroEngine::disconnectVMulti() {
    if (!vmulti_)
        return;
    endPlayback();  // playback holds the client
    if (virtualDeviceConnected_)
        vmulti_->close();
    vmulti_.reset();
    virtualDeviceConnected_ = false;
}

void MacroEngine::onTaskFinished() {
    if (vmulti_)
        vmulti_->releaseAllKeys();
    ENGINE_LOG_INFO(QStringLiteral("onTaskFinished reset all key==========================="));
}

void MacroEngine::playActions(const QString& actions) {
    if (!virtualDeviceConnected_)
        return;
    MacroTask task;
    task.playType = 0;
    task.playCount = 1;
    task.actions = parseActionText(actions, sources_.hidCodeForKey);
    std::unique_lock<std::mutex> lock(playbackMutex_);
    if (!playbackWorker_) {
        createPlayback(task, 0, true);
        return;
    }
    lock.unlock();
    stopPlayback();
    lock.lock();
    if (playbackWorker_)
        playbackWorker_->executeCommand(vmulti_.get(), task.actions, 0, 1, 0);
}

void MacroEngine::startFilterTask(const MacroTask& task, int keyState) {
    std::lock_guard<std::mutex> lock(playbackMutex_);
    if (!playbackWorker_) {
        createPlayback(task, keyState, false);
        return;
    }
    playbackWorker_->executeCommand(vmulti_.get(), task.actions, task.playType, task.playCount,
                                    keyState);
}

void MacroEngine::createPlayback(const MacroTask& task, int keyState, bool connectStop) {
    platform::Services* system = sources_.services;
    playbackThread_ = std::make_unique<QThread>();
    playbackWorker_ = std::make_unique<commandExec>(
        playbackThread_.get(), task.actions, vmulti_.get(), task.playType, task.playCount, keyState,
        system ? system->cursor.get() : nullptr);
    connect(playbackWorker_.get(), &commandExec::taskFinished, this, &MacroEngine::onTaskFinished,
            Qt::QueuedConnection);
    if (connectStop) {
        connect(this, &MacroEngine::stopOutput, playbackWorker_.get(), &commandExec::onStopOutput,
                Qt::QueuedConnection);
    }
    playbackThread_->start(QThread::InheritPriority);
}

void MacroEngine::stopPlayback() {
    emit stopOutput(true);
    std::lock_guard<std::mutex> lock(playbackMutex_);
    if (playbackWorker_)
        playbackWorker_->setStopFlag();
}

// The worker's loop holds its thread: it is ended and waited for before both go.
void MacroEngine::endPlayback() {
    std::lock_guard<std::mutex> lock(playbackMutex_);
    if (!playbackWorker_)
        return;
    playbackWorker_->quit();
    playbackThread_->quit();
    playbackThread_->wait();
    playbackWorker_.reset();
    playbackThread_.reset();
}

void MacroEngine::startInputFilter() {
    // The old filter first: it may start playback until its loop has ended.
    endInputFilter();
    endPlayback();
    platform::Services* system = sources_.services;
    DEVICE_FILTER::Sources sources;
    sources.driver = system ? system->filterDriver.get() : nullptr;
    sources.priority = system ? system->processPriority.get() : nullptr;
    sources.playback = this;
    sources.inputDevices = sources_.inputDevices;
    sources.keyMapText = sources_.keyMapText;
    sources.hidCodeForKey = sources_.hidCodeForKey;
    filterThread_ = std::make_unique<QThread>();
    filter_ = std::make_unique<DEVICE_FILTER>(filterThread_.get(), std::move(sources));
    filterThread_->start(QThread::InheritPriority);
}

void MacroEngine::endInputFilter() {
    if (!filter_)
        return;
    filter_->stop();
    filterThread_->quit();
    filterThread_->wait();
    filter_.reset();
    filterThread_.reset();
}
