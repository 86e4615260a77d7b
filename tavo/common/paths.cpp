// Paths of the running process and of this library, and the last system error text.
#include "tavo/common/paths.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include <spdlog/spdlog.h>

namespace tavo {

namespace {

// Any function of this archive identifies the module it was linked into.
void AnchorOfThisModule() {}

}  // namespace

std::filesystem::path GetExecutablePath() {
    std::vector<char> buffer(1024);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length <= 0) {
            spdlog::error("Failed to query module filename: ec={}", errno);
            return {};
        }
        // readlink truncates silently; an answer filling the buffer may be cut short.
        if (static_cast<size_t>(length) < buffer.size()) {
            return std::filesystem::path(std::string(buffer.data(), static_cast<size_t>(length)));
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::filesystem::path GetLibraryPath(const void* address) {
    if (address == nullptr) {
        address = reinterpret_cast<const void*>(&AnchorOfThisModule);
    }
    Dl_info info{};
    link_map* map = nullptr;
    errno = 0;
    if (::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
        info.dli_fname == nullptr) {
        spdlog::error("Failed to query module handle: ec={}", errno);
        return {};
    }
    // The main program's link map has an empty name and the loader reports argv[0] for it,
    // which need not be a path to the file at all.
    if (map != nullptr && (map->l_name == nullptr || map->l_name[0] == '\0')) {
        return GetExecutablePath();
    }
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(info.dli_fname, ec);
    if (ec) {
        spdlog::error("Failed to query module filename: ec={}", ec.value());
        return {};
    }
    return path;
}

std::filesystem::path GetLibraryPath() {
    return GetLibraryPath(nullptr);
}

std::filesystem::path GetDefaultLogsDirectory() {
    return GetLibraryPath(nullptr).parent_path() / "ORBIXLogs";
}

std::filesystem::path GetAppDataPath() {
    return "/var/lib";
}

std::string GetLastErrorAsString() {
    const int savedErrno = errno;
    if (const char* loaderError = ::dlerror(); loaderError != nullptr) {
        return loaderError;
    }
    if (savedErrno == 0) {
        return {};
    }
    return std::system_category().message(savedErrno);
}

}  // namespace tavo
