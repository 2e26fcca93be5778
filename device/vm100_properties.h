#pragma once

// The VM100's property ids and their capacities in bytes: one table for the device layer and
// the simulated library (which builds without Qt, for Windows too). The settings page's model
// (view/device/vm100/js/model.js) is checked against this file by a page test, so keep each
// entry on one line in the form `constexpr Property kName{id, size};`.

namespace vm100 {

struct Property {
    int id;
    int size;
};

constexpr Property kButtonFirst{1, 16};
constexpr Property kButtonLast{16, 16};
constexpr Property kReportRate{40, 1};
constexpr Property kLighting{42, 10};
constexpr Property kDebounce{43, 10};
constexpr Property kSound{44, 10};
constexpr Property kDpiStage{48, 1};
constexpr Property kDpiFirst{50, 8};
constexpr Property kDpiLast{54, 8};

constexpr int kDpiStages = kDpiLast.id - kDpiFirst.id + 1;
// A DPI level holds the resolution in steps of this many DPI.
constexpr int kDpiStep = 50;

// Capacity of property `id`; 0 for ids the mouse does not have.
constexpr int propertySize(int id) {
    if (id >= kButtonFirst.id && id <= kButtonLast.id)
        return kButtonFirst.size;
    if (id >= kDpiFirst.id && id <= kDpiLast.id)
        return kDpiFirst.size;
    for (const Property& p : {kReportRate, kLighting, kDebounce, kSound, kDpiStage})
        if (p.id == id)
            return p.size;
    return 0;
}

}  // namespace vm100
