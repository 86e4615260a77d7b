// Connection to the display service, configuration requests and the 3D backlight switch.
#pragma once

#include <functional>

#include "tavo/common/export.h"
#include "tavo/common/platform.h"
#include "tavo/device/config.h"

namespace tavo::device {

// These share process-wide flags without locking: Connect and RequestConfig belong to the
// host's set-up thread, SetBacklightMode to whichever thread holds the caller's backlight lock.

// With a panel description file (TAVO_PANEL_FILE when set and not empty, else
// GetAppDataPath()/tavo/panel.json when present) the file alone decides: true, and remembered,
// when it is a valid description; otherwise one error naming the file and the field is logged
// and the result is false. Without one: true, and remembered, when the service reports a panel
// and the panel's monitor is attached. `platform` is not used and may be null.
bool Connect(Platform* platform);

// Fills `config`: from the accepted panel file (read at every request, over the default panel
// and the fields a request otherwise leaves alone), else from the service when connected (read
// once per process: later requests leave `config` untouched), else with the built-in 15.6"
// default. Logs the report, then calls `callback(true)` before returning true. An empty
// callback throws std::bad_function_call after `config` has been written.
bool RequestConfig(Config& config, const std::function<void(bool)>& callback);

// Requests complete before they return, so there is nothing to cancel.
void CancelConfigRequest();

// Switches the panel's 3D backlight when connected; dropped otherwise. `platform` is unused.
void SetBacklightMode(Platform* platform, bool on);

}  // namespace tavo::device
