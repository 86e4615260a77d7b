// The debug menu: one ImGui window of timing, tracking results and run-time settings.
#include "tavo/sdk/internal/debugMenu.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>

#include <fmt/format.h>
#include <imgui.h>
#include <spdlog/spdlog.h>

#include "tavo/common/log.h"
#include "tavo/sdk/interlacer.h"
#include "tavo/sdk/tavoSDK.h"

namespace tavo::sdk {

namespace {

constexpr double kNsPerSecond = 1e9;
constexpr double kNsPerMs = 1e6;
constexpr int kLogLevelCount = 8;

const char* BackendName(uint32_t bit) {
    switch (bit) {
        case kTavoFaceDetectorBackendCPU:
            return "CPU";
        case kTavoFaceDetectorBackendGPU:
            return "GPU";
        default:
            return "Unknown";
    }
}

const char* TrueFalse(bool value) {
    return value ? "true" : "false";
}

}  // namespace

void MovingAverage::Add(double sample) {
    sum_ += sample;
    if (count_ < kSamples) {
        samples_[count_++] = sample;
        next_ = count_ % kSamples;
        return;
    }
    sum_ -= samples_[next_];
    samples_[next_] = sample;
    next_ = (next_ + 1) % kSamples;
}

void MovingAverage::Clear() {
    next_ = 0;
    count_ = 0;
    sum_ = 0.0;
}

DebugMenu::DebugMenu(ThreadedInterlacer& interlacer, TavoSDK& sdk, const DebugMenuInitArgs& args)
    : interlacer_(interlacer),
      sdk_(sdk),
      customMenuCallback_(args.customMenuCallback),
      gui_(args) {}

void DebugMenu::Note(const std::string& label) {
    if (recordItems_) {
        const ImVec2 min = ImGui::GetItemRectMin();
        const ImVec2 max = ImGui::GetItemRectMax();
        items_.push_back(Item{label, min.x, min.y, max.x, max.y});
    }
}

bool DebugMenu::Button(const char* label) {
    const bool pressed = ImGui::Button(label);
    Note(label);
    return pressed;
}

bool DebugMenu::ToggleButton(const char* label, bool value) {
    return Button(fmt::format("{} [{}]", label, TrueFalse(value)).c_str());
}

int DebugMenu::ArrowRow(const char* label, const char* decrease, const char* increase,
                        const char* format, double value) {
    int step = 0;
    ImGui::TextUnformatted(label);
    ImGui::SameLine();
    if (ImGui::ArrowButton(decrease, ImGuiDir_Left)) {
        step = -1;
    }
    Note(decrease);
    ImGui::SameLine();
    if (ImGui::ArrowButton(increase, ImGuiDir_Right)) {
        step = 1;
    }
    Note(increase);
    ImGui::SameLine();
    ImGui::Text(format, value);
    return step;
}

void DebugMenu::Draw() {
    items_.clear();
    try {
        const std::string title = fmt::format("{} [{}]", "TavoSDK", tavoSdkGetVersion());
        bool open = gui_.IsVisible();
        // Begin's result only says whether the contents are worth drawing; End always follows.
        if (ImGui::Begin(title.c_str(), &open, ImGuiWindowFlags_AlwaysAutoResize)) {
            if (recordItems_) {
                const ImVec2 pos = ImGui::GetWindowPos();
                const ImVec2 size = ImGui::GetWindowSize();
                items_.push_back(Item{title, pos.x, pos.y, pos.x + size.x, pos.y + size.y});
            }
            DrawSections();
        }
        ImGui::End();
        // The window's close button hides the overlay until the host toggles it again.
        if (!open) {
            gui_.SetVisible(false);
        }
    } catch (...) {
        gui_.AbandonFrame();
        throw;
    }
    gui_.Render();
}

void DebugMenu::DrawSections() {
    const int64_t now = SteadyNowNs();
    const double frameSeconds =
        static_cast<double>(now - interlacer_.lastRenderTime()) / kNsPerSecond;
    frameTimes_.Add(frameSeconds);
    const double frameTime = frameTimes_.Value();
    // A zero or absurdly short average has no meaningful rate (and no int to hold it).
    const double rate = frameTime > 0.0 ? std::min(1.0 / frameTime, double{INT_MAX}) : 0.0;
    ImGui::Text("FPS [%d] Time[%.1f]", static_cast<int>(rate), frameTime * 1000.0);

    if (statusSource_) {
        statusSource_(status_);
    } else {
        sdk_.ReadFaceTrackingStatus(status_);
    }
    const head::FrameProfiling profiling = status_.frame.profiling();
    if (status_.hasFrame && profiling.apiTimestamp != 0) {
        Platform* platform = sdk_.platform();
        const int64_t wallNow = platform != nullptr ? platform->GetTimeNs() : 0;
        faceDelays_.Add(static_cast<double>(wallNow - profiling.cameraExposureTime) / kNsPerMs);
        ImGui::Text("Face Delay [%.1f]", faceDelays_.Value());
        Note("Face Delay");
        blinkTimes_.Add(
            static_cast<double>(profiling.faceDetectorEndTime - profiling.faceDetectorStartTime) /
            kNsPerMs);
        ImGui::Text("Blink Proc [%.1f]", blinkTimes_.Value());
    } else {
        faceDelays_.Clear();
        blinkTimes_.Clear();
    }

    DrawToggles();
    DrawViewSettings();
    DrawReconvergence();
    DrawFaceTracking();
    DrawDeviceConfig();
    DrawLogging();
    DrawNoFaceMode();
    if (customMenuCallback_) {
        customMenuCallback_();
    }
}

void DebugMenu::DrawToggles() {
    const bool open = ImGui::CollapsingHeader("Toggles");
    Note("Toggles");
    if (!open) {
        return;
    }
    if (ToggleButton("Backlight", sdk_.backlightOn())) {
        sdk_.SetBacklight(!sdk_.backlightOn());
    }
    if (ToggleButton("ACT/Sharpening", sdk_.IsSharpeningEnabled())) {
        sdk_.EnableSharpening(!sdk_.IsSharpeningEnabled());
    }
    if (ToggleButton("New ACT", sdk_.newAct())) {
        sdk_.SetNewAct(!sdk_.newAct());
    }
    if (ToggleButton("Bilinear Filtering", sdk_.IsBilinearFilteringEnabled())) {
        sdk_.SetBilinearFiltering(!sdk_.IsBilinearFilteringEnabled());
    }
    if (ToggleButton("Profiling", sdk_.profiling())) {
        sdk_.SetProfiling(!sdk_.profiling());
    }
    if (ToggleButton("Med Shader Prec", interlacer_.mediumPrecision_)) {
        interlacer_.mediumPrecision_ = !interlacer_.mediumPrecision_;
    }
    if (ToggleButton("Single View Mode", interlacer_.singleViewMode_.load())) {
        interlacer_.SetSingleViewMode(!interlacer_.singleViewMode_.load());
    }
    const eTavoShaderDebugMode debugMode = interlacer_.GetShaderDebugMode();
    if (debugMode == kTavoShaderDebugModeStereoImage ||
        debugMode == kTavoShaderDebugModeStereoVideo) {
        const int fit = interlacer_.GetFitMode();
        if (Button(fmt::format("{} [{}]", "ScaleType", fit).c_str())) {
            ImGui::OpenPopup("scaleTypeSwitch");
        }
        if (ImGui::BeginPopup("scaleTypeSwitch")) {
            constexpr const char* kFitNames[] = {"Fill", "FitCenter", "CropFill", "CropFitSquare"};
            for (int mode = 0; mode < 4; ++mode) {
                if (ToggleButton(kFitNames[mode], fit == mode)) {
                    interlacer_.SetFitMode(static_cast<eFitMode>(mode));
                    ImGui::CloseCurrentPopup();
                }
            }
            ImGui::EndPopup();
        }
    }
}

void DebugMenu::DrawViewSettings() {
    if (interlacer_.GetShaderDebugMode() == kTavoShaderDebugModeOff) {
        const eTavoInterlaceMode current = interlacer_.GetInterlaceMode();
        if (Button(fmt::format("{} [{}]", "Interlace Mode", static_cast<int>(current)).c_str())) {
            ImGui::OpenPopup("interlaceMode");
        }
        if (ImGui::BeginPopup("interlaceMode")) {
            for (int mode = 0; mode < 3; ++mode) {
                if (Button(ToUiStr(static_cast<eTavoInterlaceMode>(mode)))) {
                    interlacer_.SetInterlaceMode(static_cast<eTavoInterlaceMode>(mode));
                    ImGui::CloseCurrentPopup();
                }
            }
            ImGui::EndPopup();
        }
    }

    const float centerView = sdk_.GetCenterView();
    if (const int step = ArrowRow("Center View", "centerViewDecrease", "centerViewIncrease", "%.3f",
                                  centerView)) {
        sdk_.SetCenterView(centerView + static_cast<float>(step) * 0.05f);
    }
    const float baseline = sdk_.GetBaselineScaling();
    // The increasing arrow's identifier reads "Decrease" too; hosts' scripts know it so.
    if (const int step = ArrowRow("Baseline Scaling", "baselineScalingDecrease",
                                  "baseLineScalingDecrease", "%.3f", baseline)) {
        sdk_.SetBaselineScaling(baseline + static_cast<float>(step) * 0.1f);
    }
}

void DebugMenu::DrawReconvergence() {
    const bool open = ImGui::CollapsingHeader("Reconvergence");
    Note("Reconvergence");
    if (!open) {
        return;
    }
    const bool zoomX = interlacer_.reconvergenceZoomX_.load();
    const bool zoomXY = interlacer_.reconvergenceZoomXY_.load();
    if (ToggleButton("ZoomX", zoomX)) {
        interlacer_.SetReconvergenceZoom(!zoomX, zoomXY);
        interlacer_.EnableReconvergence(true);
    }
    if (ToggleButton("ZoomXY", zoomXY)) {
        interlacer_.SetReconvergenceZoom(zoomX, !zoomXY);
        interlacer_.EnableReconvergence(true);
    }
    const float amount = interlacer_.GetReconvergence();
    if (const int step =
            ArrowRow("Amount", "reconvergenceDecrease", "reconvergenceIncrease", "%.3f", amount)) {
        interlacer_.SetReconvergence(amount + static_cast<float>(step) * 0.01f);
        interlacer_.EnableReconvergence(true);
    }
}

void DebugMenu::DrawFaceTracking() {
    const bool open = ImGui::CollapsingHeader("Face Tracking");
    Note("Face Tracking");
    if (!open) {
        return;
    }
    const char* version = tavoSdkGetVersion();
    ImGui::Text("%s [%s]", "In-App", version != nullptr ? version : "unknown");

    const bool enabled = status_.enabled;
    if (Button(enabled ? "Disable" : "Enable")) {
        sdk_.EnableFaceTracking(!enabled);
    }
    if (Button(status_.running ? "Stop" : "Start")) {
        if (status_.running) {
            sdk_.StopTracking();
        } else {
            sdk_.StartTracking();
        }
    }

    if (status_.hasBackend) {
        const uint32_t supported = status_.supportedBackends;
        if (std::popcount(supported) == 1) {
            ImGui::Text("Backend: %s", BackendName(static_cast<uint32_t>(status_.backend)));
        } else if (supported != 0) {
            if (Button("Backend")) {
                ImGui::OpenPopup("faceTrackingBackendSwitch");
            }
            ImGui::SameLine();
            ImGui::TextUnformatted(BackendName(static_cast<uint32_t>(status_.backend)));
            if (ImGui::BeginPopup("faceTrackingBackendSwitch")) {
                for (uint32_t bit = 1; bit != 0; bit <<= 1) {
                    if ((supported & bit) == 0) {
                        continue;
                    }
                    ImGui::PushID(static_cast<int>(bit));
                    if (Button(BackendName(bit))) {
                        sdk_.SetFaceDetectorBackend(static_cast<tavo_face_detector_backend_e>(bit));
                        ImGui::CloseCurrentPopup();
                    }
                    ImGui::PopID();
                }
                ImGui::EndPopup();
            }
        }
    }

    float delay = sdk_.faceDelay();
    if (ImGui::SliderFloat("Delay", &delay, 0.0f, 100.0f, "%.0f ms")) {
        sdk_.SetFaceDelay(delay);
    }
    Note("Delay");
    ImGui::SameLine();
    if (ImGui::ArrowButton("faceDelayDecrease", ImGuiDir_Left)) {
        sdk_.SetFaceDelay(sdk_.faceDelay() - 1.0f);
    }
    Note("faceDelayDecrease");
    ImGui::SameLine();
    if (ImGui::ArrowButton("faceDelayIncrease", ImGuiDir_Right)) {
        sdk_.SetFaceDelay(sdk_.faceDelay() + 1.0f);
    }
    Note("faceDelayIncrease");

    if (status_.cameraFps != 0) {
        if (status_.supportedCameraFps.empty()) {
            ImGui::Text("Camera FPS: %d", status_.cameraFps);
        } else {
            if (Button("Camera FPS")) {
                ImGui::OpenPopup("cameraFps");
            }
            ImGui::SameLine();
            ImGui::Text("%d", status_.cameraFps);
            if (ImGui::BeginPopup("cameraFps")) {
                const auto& rates = status_.supportedCameraFps;
                for (size_t i = 0; i < rates.size(); ++i) {
                    ImGui::PushID(static_cast<int>(i));
                    if (Button(fmt::format("{}", rates[i]).c_str())) {
                        sdk_.SetCameraFps(rates[i]);
                        ImGui::CloseCurrentPopup();
                    }
                    ImGui::PopID();
                    // Rows of four, then three: a new row after the buttons 3, 6, 9, ...
                    if (i + 1 < rates.size() && !(i > 0 && i % 3 == 0)) {
                        ImGui::SameLine();
                    }
                }
                ImGui::EndPopup();
            }
        }
    }

    if (enabled) {
        DrawFaces();
    }
}

void DebugMenu::DrawFaces() {
    const bool open = ImGui::TreeNode("Faces");
    Note("Faces");
    if (!open) {
        return;
    }
    const head::BufferedFrame& frame = status_.frame;
    const Slice<const head::Face> faces = frame.faces();
    const Slice<const head::RawFace> rawFaces = frame.rawFaces();
    const Slice<const head::DetectedFace> detections = frame.detectedFaces();
    ImGui::Text("Num Faces: %zu", static_cast<size_t>(faces.size));
    if (recordItems_) {
        Note(fmt::format("Num Faces: {}", faces.size));
    }
    for (int64_t i = 0; i < faces.size; ++i) {
        const head::Face& face = faces[i];
        ImGui::Separator();
        ImGui::Text("#%zu", static_cast<size_t>(i));
        ImGui::Indent();
        ImGui::Text("XYZ: %.1f %.1f %.1f", face.position.x, face.position.y, face.position.z);
        // Indices come from the frame; one out of range shows nothing rather than garbage.
        if (face.rawFaceIndex >= 0 && face.rawFaceIndex < rawFaces.size) {
            const head::RawFace& raw = rawFaces[face.rawFaceIndex];
            ImGui::Text("Right 3D: %.1f %.1f %.1f", raw.rightEye.x, raw.rightEye.y, raw.rightEye.z);
            ImGui::Text("Left 3D: %.1f %.1f %.1f", raw.leftEye.x, raw.leftEye.y, raw.leftEye.z);
            if (raw.detectionIndex >= 0 && raw.detectionIndex < detections.size) {
                const head::DetectedFace& detection = detections[raw.detectionIndex];
                ImGui::Text("Right 2D: %.1f %.1f", detection.rightEyePixel.x,
                            detection.rightEyePixel.y);
                ImGui::Text("Left 2D: %.1f %.1f", detection.leftEyePixel.x,
                            detection.leftEyePixel.y);
            }
        }
        ImGui::Unindent();
    }
    ImGui::Separator();
    ImGui::TreePop();
}

void DebugMenu::DrawDeviceConfig() {
    const bool open = ImGui::CollapsingHeader("Device Config");
    Note("Device Config");
    if (!open) {
        return;
    }
    const device::Config& config = sdk_.config();
    ImGui::Text(
        "Tracking Camera Position:\nX: %.2f \nY: %.2f \nZ: %.2f\nTracking Camera Rotation:\nX: "
        "%.2f \nY: %.2f \nZ: %.2f",
        config.cameraCenter.x, config.cameraCenter.y, config.cameraCenter.z, config.cameraTheta.x,
        config.cameraTheta.y, config.cameraTheta.z);
}

void DebugMenu::DrawLogging() {
    const bool open = ImGui::CollapsingHeader("Logging");
    Note("Logging");
    if (!open) {
        return;
    }
    const int current = FromSpdlog(spdlog::get_level());
    int chosen = current;
    const ImGuiStyle& style = ImGui::GetStyle();
    const float spacing = style.ItemInnerSpacing.x;
    const float button = ImGui::GetFrameHeight();
    ImGui::PushID("SDK Log Level");
    ImGui::PushItemWidth(ImGui::CalcItemWidth() - spacing * 2.0f - button * 2.0f);
    const bool comboOpen = ImGui::BeginCombo("##logLevelCombo", tavo_log_level_to_string(current),
                                             ImGuiComboFlags_NoArrowButton);
    Note("##logLevelCombo");
    if (comboOpen) {
        for (int level = 0; level < kLogLevelCount; ++level) {
            const bool selected = level == current;
            if (ImGui::Selectable(tavo_log_level_to_string(level), selected)) {
                chosen = level;
            }
            Note(tavo_log_level_to_string(level));
            if (selected) {
                ImGui::SetItemDefaultFocus();
            }
        }
        ImGui::EndCombo();
    }
    ImGui::PopItemWidth();
    ImGui::SameLine(0.0f, spacing);
    if (ImGui::ArrowButton("##l", ImGuiDir_Left)) {
        chosen = std::max(0, current - 1);
    }
    Note("##l");
    ImGui::SameLine(0.0f, spacing);
    if (ImGui::ArrowButton("##r", ImGuiDir_Right)) {
        chosen = std::min(kLogLevelCount - 1, current + 1);
    }
    Note("##r");
    ImGui::SameLine(0.0f, spacing);
    ImGui::TextUnformatted("SDK Log Level");
    ImGui::PopID();
    if (chosen != current) {
        spdlog::set_level(ToSpdlog(chosen));
    }
}

void DebugMenu::DrawNoFaceMode() {
    const bool open = ImGui::CollapsingHeader("NoFace Mode");
    Note("NoFace Mode");
    if (!open) {
        return;
    }
    const int64_t now = SteadyNowNs();
    const bool enabled = sdk_.noFaceModeEnabled();
    if (enabled) {
        ImGui::Text("No Faces: %.1f sec",
                    static_cast<double>(now - interlacer_.lastFaceTime()) / kNsPerSecond);
        Note("No Faces");
    }
    if (ToggleButton("Enabled", enabled)) {
        sdk_.SetNoFaceModeEnabled(!enabled);
        interlacer_.ResetLastFaceTime(now);
    }
    ImGui::Text("FaceZ %.1f", interlacer_.face_.z);
    const double threshold = sdk_.noFaceTimeThreshold();
    if (const int step = ArrowRow("Time Threshold", "noFaceTimeDecrease", "noFaceTimeIncrease",
                                  "%.1f", threshold)) {
        sdk_.SetNoFaceTimeThreshold(threshold + step * 1.0);
    }
    const double range = sdk_.noFaceRange();
    if (const int step =
            ArrowRow("Range (k)", "noFaceRangeDecrease", "noFaceRangeIncrease", "%.1f", range)) {
        sdk_.SetNoFaceRange(range + step * 0.1);
    }
}

}  // namespace tavo::sdk
