# The headers a host includes, the one list of them: installed, compiled alone by the install
# consumer test and read by the API reference. Everything else (the SDK's and face tracking's
# implementation classes, the display connection, internal/ folders) is the library's own and
# its symbols stay hidden.
set(TAVO_PUBLIC_HEADERS
  tavo/common/assetManager.h
  tavo/common/exception.h
  tavo/common/export.h
  tavo/common/log.h
  tavo/common/logRateLimiter.h
  tavo/common/paths.h
  tavo/common/platform.h
  tavo/common/plugin.h
  tavo/common/tga.h
  tavo/common/utilities.h
  tavo/common/waitable.h
  tavo/device/config.h
  tavo/device/panelDescription.h
  tavo/headTracking/camera/realsenseCamera.h
  tavo/headTracking/camera/sharedCamera.h
  tavo/headTracking/common/frameAdapter.h
  tavo/headTracking/common/types.h
  tavo/headTracking/engine/blinkDetector.h
  tavo/headTracking/engine/blinkDetectorPlugin.h
  tavo/headTracking/engine/core/engineConfiguration.h
  tavo/headTracking/engine/core/faceTracker.h
  tavo/headTracking/engine/core/kalmanFilter.h
  tavo/headTracking/engine/engine.h
  tavo/headTracking/engine/tavoHeadTracking.h
  tavo/opengl/gl.h
  tavo/opengl/glFunctionList.h
  tavo/opengl/glHelpers.h
  tavo/opengl/glLoader.h
  tavo/opengl/shader.h
  tavo/sdk/faceTrackingCallback.h
  tavo/sdk/gui.h
  tavo/sdk/interlacer.h
  tavo/sdk/tavoSDK.h
  tavo/sdk/windowMessages.h
  TavoRenderer/TavoRenderer.h
)
