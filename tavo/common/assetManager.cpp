// The asset manager of this system: assets are files under an "assets" folder beside a module.
#include "tavo/common/assetManager.h"

#include <fmt/format.h>

#include <fstream>
#include <mutex>
#include <system_error>

#include "tavo/common/exception.h"
#include "tavo/common/internal/assetTesting.h"
#include "tavo/common/paths.h"

namespace tavo {

AssetManager::~AssetManager() = default;

namespace {

std::mutex testDirectoryLock;
std::filesystem::path testDirectory;

std::filesystem::path TestDirectory() {
    std::lock_guard lock(testDirectoryLock);
    return testDirectory;
}

// Both reads report under one name: they are one operation with two result types.
constexpr const char* kReadFunction = "tavo::`anonymous-namespace'::LinuxAssetManager::Read";

class LinuxAssetManager final : public AssetManager {
  public:
    AssetBuffer Read(const std::string& name, AssetRoot* root) override {
        AssetBuffer buffer;
        ReadInto(name, root, [&buffer](size_t length) {
            buffer.size = length;
            buffer.data = std::make_unique<uint8_t[]>(length);  // value-initialised: zeros
            return reinterpret_cast<char*>(buffer.data.get());
        });
        return buffer;
    }

    std::string ReadText(const std::string& name, AssetRoot* root) override {
        std::string text;
        ReadInto(name, root, [&text](size_t length) {
            text.assign(length, '\0');
            return text.data();
        });
        return text;
    }

    std::filesystem::path ResolvePath(const std::string& name, AssetRoot* root) override {
        AssetRoot& chosen = root != nullptr ? *root : root_;
        if (chosen.directory.empty()) {
            chosen.directory = TestDirectory();
        }
        if (chosen.directory.empty()) {
            const std::filesystem::path module = GetLibraryPath(chosen.moduleAddress);
            chosen.directory =
                module.empty() ? std::filesystem::path("assets") : module.parent_path() / "assets";
        }
        return chosen.directory / name;
    }

  private:
    // `allocate(length)` makes the zero-filled result and returns where its bytes go.
    template <typename Allocate>
    void ReadInto(const std::string& name, AssetRoot* root, Allocate allocate) {
        const std::filesystem::path path = ResolvePath(name, root);
        // A directory opens as a stream on this system but has no meaningful length.
        std::error_code ec;
        std::ifstream file;
        if (!std::filesystem::is_directory(path, ec)) {
            file.open(path, std::ios::binary | std::ios::ate);
        }
        if (!file.is_open()) {
            throw Exception(
                fmt::format("failed to open asset \"{}\" (\"{}\")", name, path.string()),
                TAVO_LOCATION(kReadFunction));
        }
        const std::streamoff position = file.tellg();
        if (position < 1) {
            throw Exception(fmt::format("invalid asset \"{}\" (\"{}\"): pos={}", name,
                                        path.string(), static_cast<long long>(position)),
                            TAVO_LOCATION(kReadFunction));
        }
        char* destination = allocate(static_cast<size_t>(position));
        file.seekg(0, std::ios::beg);
        file.read(destination, static_cast<std::streamsize>(position));
        if (file.fail()) {
            throw Exception(
                fmt::format("failed to read asset \"{}\" (\"{}\")", name, path.string()),
                TAVO_LOCATION(kReadFunction));
        }
    }

    AssetRoot root_;
};

}  // namespace

std::unique_ptr<AssetManager> AssetManager::Create(Platform* /*platform*/) {
    return std::make_unique<LinuxAssetManager>();
}

}  // namespace tavo

namespace tavo::internal {

void SetAssetDirectoryForTesting(const std::filesystem::path& directory) {
    std::lock_guard lock(testDirectoryLock);
    testDirectory = directory;
}

}  // namespace tavo::internal
