// Uses the installed SDK the way a host would: level names and a platform object.
#include <cstdio>

#include "tavo/common/log.h"
#include "tavo/common/platform.h"

int main() {
    tavo::PlatformInitArgs args;
    args.logLevel = 4;
    auto platform = tavo::Platform::Create(args);
    if (!platform || platform->GetTimeNs() <= 0) {
        return 1;
    }
    std::printf("%s\n", tavo_log_level_to_string(args.logLevel));
    return 0;
}
