#include "macro/mouse_track_recorder.h"

#include <QRegularExpression>
#include <QTime>

#include "platform/input_hooks.h"

MouseTrackRecorder::MouseTrackRecorder(platform::MouseHook* hook) : hook_(hook) {}

MouseTrackRecorder::~MouseTrackRecorder() {
    if (running_ && hook_)
        hook_->remove();
}

bool MouseTrackRecorder::startTrack() {
    if (running_)
        stopTrack();
    if (!hook_)
        return false;
    const bool installed = hook_->install([this](int x, int y) {
        track_ += QStringLiteral("x:%1,y:%2Time:%3;")
                      .arg(x)
                      .arg(y)
                      .arg(QTime::currentTime().msecsSinceStartOfDay());
    });
    if (!installed)
        return false;
    running_ = true;
    return true;
}

QString MouseTrackRecorder::stopTrack() {
    if (hook_)
        hook_->remove();
    running_ = false;
    return track_;
}

RecordedPoints MouseTrackRecorder::points(const QString& track) {
    static const QRegularExpression point(QStringLiteral("x:(-?\\d+),y:(-?\\d+)Time:\\d+;"));
    RecordedPoints result;
    auto matches = point.globalMatch(track);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        result.append({match.captured(1), match.captured(2)});
    }
    return result;
}
