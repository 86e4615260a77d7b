// The overlay's debug menu: timing, tracking results and the run-time settings of the SDK, its
// face tracking and one interlacer.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tavo/sdk/gui.h"
#include "tavo/sdk/sdkimpl.h"

namespace tavo::sdk {

class ThreadedInterlacer;

// The mean of the last 60 samples (fewer before 60 have come); 0 without samples.
class MovingAverage {
  public:
    static constexpr int kSamples = 60;

    void Add(double sample);
    void Clear();
    double Value() const { return count_ > 0 ? sum_ / count_ : 0.0; }
    int count() const { return count_; }

  private:
    double samples_[kSamples] = {};
    // The slot the next sample replaces once all are held.
    int next_ = 0;
    int count_ = 0;
    double sum_ = 0.0;
};

// Owned by its interlacer, drawn on its render thread inside post-processing with the
// interlacer's mutex held. Its controls act at once on the SDK (through the SDK's own locked
// operations), its face tracking and the interlacer.
class DebugMenu {
  public:
    // Where a widget of the last drawn frame lay, in window pixels, by its label.
    struct Item {
        std::string label;
        float minX, minY, maxX, maxY;
    };

    // Throws what Gui's constructor throws.
    DebugMenu(ThreadedInterlacer& interlacer, TavoSDK& sdk, const DebugMenuInitArgs& args);

    Gui& gui() { return gui_; }
    // Draws the menu in the frame Gui::NewFrame opened and ends it with Gui::Render. A failure
    // inside closes the frame undrawn and is rethrown.
    void Draw();

    // Keeps the places of the widgets of each drawn frame (found through ImGui's item
    // queries), so that input can be aimed at them.
    void RecordItems(bool on) { recordItems_ = on; }
    const std::vector<Item>& items() const { return items_; }
    // Shows what `source` fills instead of the SDK's face tracking (an empty one restores it),
    // for checks of states no camera here can produce.
    void SetStatusSource(std::function<void(FaceTrackingStatus&)> source) {
        statusSource_ = std::move(source);
    }

  private:
    void DrawSections();
    void DrawToggles();
    void DrawViewSettings();
    void DrawReconvergence();
    void DrawFaceTracking();
    void DrawFaces();
    void DrawDeviceConfig();
    void DrawLogging();
    void DrawNoFaceMode();

    // A button reading "{label} [true|false]"; true when clicked.
    bool ToggleButton(const char* label, bool value);
    bool Button(const char* label);
    // "label" with arrows `decrease` and `increase` and the value; returns -1, 0 or +1.
    int ArrowRow(const char* label, const char* decrease, const char* increase, const char* format,
                 double value);
    // Notes the last item under `label`.
    void Note(const std::string& label);

    ThreadedInterlacer& interlacer_;
    TavoSDK& sdk_;
    std::function<void()> customMenuCallback_;
    Gui gui_;
    MovingAverage frameTimes_;
    MovingAverage faceDelays_;
    MovingAverage blinkTimes_;
    // Read once per frame; reused so that a visible menu does not allocate every frame.
    FaceTrackingStatus status_;
    std::function<void(FaceTrackingStatus&)> statusSource_;
    bool recordItems_ = false;
    std::vector<Item> items_;
};

}  // namespace tavo::sdk
