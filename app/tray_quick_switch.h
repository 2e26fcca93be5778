#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class DeviceFunctions;
class ProfileStore;

// The tray's quick choices for the first attached mouse with the VM100's settings: its DPI
// stages, one of which is set on the mouse at once, and its saved profiles, which a page
// applies (only a page knows how every part of a profile reaches the mouse).
class TrayQuickSwitch {
  public:
    // The second number of the currentPropChanged event that tells the page what happened.
    enum Announcement { DpiStageChanged = 0, ProfileRequested = 1 };

    struct Stages {
        QList<int> dpi;    // the X resolution of each stage
        int current = -1;  // -1: not known
    };

    // `confText` gives conf.xml, which names each device's model.
    TrayQuickSwitch(DeviceFunctions& device, ProfileStore& profiles,
                    std::function<QByteArray()> confText);

    // Empty when no such mouse is attached or it does not answer.
    Stages dpiStages();
    bool chooseDpiStage(int index);
    // The saved profiles' names in the order the settings page lists them.
    QStringList profileNames();

  private:
    struct Mouse {
        QString hardwareId;
        QString devicePath;
    };
    std::optional<Mouse> attachedMouse();

    DeviceFunctions& device_;
    ProfileStore& profiles_;
    std::function<QByteArray()> confText_;
};
