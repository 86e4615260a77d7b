// Test seam of the asset manager: where assets are looked for when no folder is named.
#pragma once

#include <filesystem>

#include "tavo/common/export.h"

namespace tavo::internal {

// Every asset root decided after this call (an AssetRoot with an empty directory) uses
// `directory` instead of the "assets" folder beside the module; an empty path restores that
// default. Exported so that tests linking the shared library can load altered assets, such as
// deliberately wrong shaders. Any thread.
TAVO_API void SetAssetDirectoryForTesting(const std::filesystem::path& directory);

}  // namespace tavo::internal
