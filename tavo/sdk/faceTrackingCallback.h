// The host's per-frame callback of face tracking.
#pragma once

#include "tavo/common/export.h"
#include "tavo/headTracking/common/types.h"

namespace tavo::sdk {

// Implemented by the host and handed to the SDK by pointer; not owned, it must outlive its
// registration. OnFrame runs on the engine's delivery thread (the camera's capture thread, or
// the host thread pushing into a shared camera sink) under face tracking's callback lock, so
// removing the callback waits for a running call to return. `frame` lives only during the
// call: copy what is kept. OnFrame must not start, stop or destroy face tracking.
class TAVO_API CTavoSDKFaceTrackingCallback {
  public:
    virtual void OnFrame(const tavo::head::Frame& /*frame*/) {}

  protected:
    // Never deleted through this interface: the host owns its implementation.
    ~CTavoSDKFaceTrackingCallback() = default;
};

}  // namespace tavo::sdk
