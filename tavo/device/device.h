// Connection to the display service, configuration requests and the 3D backlight switch.
#pragma once

#include <functional>

#include "tavo/common/export.h"
#include "tavo/common/platform.h"
#include "tavo/device/config.h"

namespace tavo::device {

// These share process-wide flags without locking: Connect and RequestConfig belong to the
// host's set-up thread, SetBacklightMode to whichever thread holds the caller's backlight lock.

// True, and remembered, when the service reports a panel and the panel's monitor is attached.
// `platform` is not used and may be null.
bool Connect(Platform* platform);

// Fills `config` from the service when connected (read once per process: later requests leave
// `config` untouched), else with the built-in 15.6" default; logs the report, then calls
// `callback(true)` before returning true. An empty callback throws std::bad_function_call
// after `config` has been written.
bool RequestConfig(Config& config, const std::function<void(bool)>& callback);

// The built-in 15.6" panel's values, as a request writes them when no display is connected;
// the fields a request leaves alone are zero.
TAVO_API Config DefaultConfig();
// Requests complete before they return, so there is nothing to cancel.
void CancelConfigRequest();

// Switches the panel's 3D backlight when connected; dropped otherwise. `platform` is unused.
void SetBacklightMode(Platform* platform, bool on);

}  // namespace tavo::device

// Version of the display component, "0.1.1". Exported unmangled.
TAVO_EXTERN_C TAVO_API const char* tavoDeviceGetVersion();
