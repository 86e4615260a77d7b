// Loading of a dynamic library by base name and typed lookup of its entry points.
#include "tavo/common/plugin.h"

#include <dlfcn.h>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "tavo/common/exception.h"
#include "tavo/common/paths.h"

namespace tavo {

namespace {

constexpr const char* kLibrarySuffix = ".so";

// The folder part of `file`: everything before its last separator, with the separators
// themselves dropped; empty when there is none.
std::string ParentFolder(const std::string& file) {
    size_t end = file.find_last_of('/');
    if (end == std::string::npos) {
        return {};
    }
    while (end > 0 && file[end - 1] == '/') {
        --end;
    }
    // The root folder keeps its one separator.
    return end == 0 ? std::string("/") : file.substr(0, end);
}

void* Open(const std::string& file) {
    // Clear a stale loader error so that the text reported is this call's.
    ::dlerror();
    return ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

PluginLibrary::PluginLibrary(const std::string& name) {
    const std::string fileName = fmt::format("{}{}", name, kLibrarySuffix);
    const std::string folder = ParentFolder(GetLibraryPath().string());
    const std::string fullPath = folder.empty()         ? fileName
                                 : folder.back() == '/' ? folder + fileName
                                                        : folder + "/" + fileName;
    handle_ = Open(fullPath);
    if (handle_ == nullptr) {
        spdlog::warn("[Plugin] Failed to load library at path \"{}\". Looking in PATH.", fullPath);
        // A name with a slash would be taken as a path relative to the current folder; the
        // system search is only meant for bare names.
        if (fileName.find('/') == std::string::npos) {
            handle_ = Open(fileName);
        }
        if (handle_ == nullptr) {
            const std::string error = fileName.find('/') == std::string::npos
                                          ? GetLastErrorAsString()
                                          : std::string("invalid library name");
            throw Exception(fmt::format("failed to load library \"{}\": {}", name, error),
                            TAVO_LOCATION("tavo::PluginLibrary::PluginLibrary"));
        }
    }
    spdlog::debug("[Plugin] Successfully loaded library \"{}\"", name);
}

PluginLibrary::~PluginLibrary() {
    if (handle_ != nullptr) {
        ::dlclose(handle_);
    }
}

void* PluginLibrary::Resolve(const std::string& symbol) const {
    ::dlerror();
    void* address = ::dlsym(handle_, symbol.c_str());
    // A symbol may legitimately have the address null; only a pending error means missing.
    const char* error = address == nullptr ? ::dlerror() : nullptr;
    if (address == nullptr) {
        throw Exception(fmt::format("failed to load symbol \"{}\": {}", symbol,
                                    error != nullptr ? std::string(error) : GetLastErrorAsString()),
                        TAVO_LOCATION("tavo::PluginFunction::PluginFunction"));
    }
    return address;
}

}  // namespace tavo
