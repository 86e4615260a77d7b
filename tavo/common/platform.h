// The platform object, its creation arguments and the library's load/unload hooks.
#pragma once

#include <cstdint>
#include <memory>

#include "tavo/common/export.h"

namespace tavo {

struct PlatformInitArgs {
    // Platform handles of other systems; unused here and passed null by every caller.
    void* reserved0 = nullptr;
    void* reserved1 = nullptr;
    void* reserved2 = nullptr;
    int32_t logLevel = 0;
};

// Stateless clock and set-up object. Create, OnLibraryLoad and OnLibraryUnload belong to the
// host's set-up thread (and the loader); GetTimeNs may be called from any thread.
class TAVO_API Platform {
  public:
    virtual ~Platform();
    // Wall clock, nanoseconds since 1970-01-01 00:00 UTC.
    virtual int64_t GetTimeNs() = 0;

    static std::unique_ptr<Platform> Create(const PlatformInitArgs& args);
    static void OnLibraryLoad();
    static void OnLibraryUnload();
};

// The platform of this system; holds no state, so any thread may read its clock.
class TAVO_API LinuxPlatform final : public Platform {
  public:
    int64_t GetTimeNs() override;
};

}  // namespace tavo
