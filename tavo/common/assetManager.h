// Named data files read whole from an asset directory beside a module.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "tavo/common/export.h"

namespace tavo {

class Platform;

// Where assets are looked for. An empty `directory` is decided on first use: the folder of the
// module holding `moduleAddress` (this library when null) joined with "assets".
struct AssetRoot {
    std::filesystem::path directory;
    const void* moduleAddress = nullptr;
};

// A whole asset file's bytes.
struct AssetBuffer {
    uint64_t size = 0;
    std::unique_ptr<uint8_t[]> data;
};

// Maps asset names such as "shaders/interlace.vshader" to files and reads them. Not locked: the
// first call with an undecided root writes its directory, so make that call on one thread
// before sharing the manager; afterwards reads may run on any thread. A null `root` means the
// manager's own root. Read failures throw tavo::Exception; nothing is logged here.
class TAVO_API AssetManager {
  public:
    virtual ~AssetManager();
    virtual AssetBuffer Read(const std::string& name, AssetRoot* root) = 0;
    // The same bytes as text of the same length.
    virtual std::string ReadText(const std::string& name, AssetRoot* root) = 0;
    // Decides the root's directory if needed and joins `name` to it; the file need not exist.
    virtual std::filesystem::path ResolvePath(const std::string& name, AssetRoot* root) = 0;

    // `platform` is not used on this system and may be null.
    static std::unique_ptr<AssetManager> Create(Platform* platform);
};

}  // namespace tavo
