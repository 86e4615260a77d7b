// Controls of the stand-in display library: install or remove a display, read backlight requests.
#pragma once

#include <string>
#include <vector>

#include "TavoDisplaySdkCpp.h"

namespace TavoDisplaySdk::control {

// Installs a connected display. The record is copied deeply: texts, arrays (as many entries as
// each count says, none for a negative count) and matrix rows are copied; null pointers stay
// null and counts are kept as given, so callers can present malformed records on purpose.
// The caller's storage need not outlive the call. Clears the log of backlight requests.
TAVO_DISPLAY_SDK_API void installDisplay(const DisplayConfig& record,
                                         const std::string& platformVersion, int backlightMode);
// Back to the start state: no display, empty request log.
TAVO_DISPLAY_SDK_API void removeDisplay();
// Every requestBacklightMode argument since the last install or removal, oldest first, including
// requests made while no display was connected.
TAVO_DISPLAY_SDK_API std::vector<bool> backlightRequests();

}  // namespace TavoDisplaySdk::control
