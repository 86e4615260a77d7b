// Uses the installed SDK the way a host would: level names, a platform object and the renderer's
// factory.
#include <cstdio>

#include "TavoRenderer/TavoRenderer.h"
#include "tavo/common/log.h"
#include "tavo/common/platform.h"

int main() {
    tavo::PlatformInitArgs args;
    args.logLevel = 4;
    auto platform = tavo::Platform::Create(args);
    if (!platform || platform->GetTimeNs() <= 0) {
        return 1;
    }
    // Only OpenGL is offered; no context is needed to be told so.
    if (TavoRenderer::CreateRenderer(static_cast<TavoRenderer::eGraphicsAPI>(1)) != nullptr) {
        return 1;
    }
    std::printf("%s\n", tavo_log_level_to_string(args.logLevel));
    return 0;
}
