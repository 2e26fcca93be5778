#pragma once

#include <QString>

#include "macro/key_map_parser.h"

namespace platform {
class MouseHook;
}

// Records where the left button is released, desktop-wide, while a recording runs. The text
// grows across recordings for the life of the process.
class MouseTrackRecorder {
  public:
    explicit MouseTrackRecorder(platform::MouseHook* hook);
    ~MouseTrackRecorder();

    // Ends a running recording first; false when the hook cannot be installed.
    bool startTrack();
    // Removes the hook; the whole text, "x:X,y:YTime:T;" per release.
    QString stopTrack();

    // The positions of a track text.
    static RecordedPoints points(const QString& track);

  private:
    platform::MouseHook* hook_;
    bool running_ = false;
    QString track_;
};
