// The Linux platform object and the library's load and unload hooks, which own logging.
#include "tavo/common/platform.h"

#include <time.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include <fmt/format.h>
#include <spdlog/cfg/helpers.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include "tavo/buildInfo.h"
#include "tavo/common/log.h"
#include "tavo/common/paths.h"

// This library's handle and the C++ runtime's exit registration, as the compiler uses them for
// static destructors.
extern "C" {
extern void* __dso_handle;
int __cxa_atexit(void (*function)(void*), void* argument, void* dso);
}

namespace tavo {

namespace {

struct LibraryDescriptor {
    const char* name;
    const char* version;
    // Lets a library of the family build its own logger instead of the default one.
    std::function<void()> createLogger;
};

const LibraryDescriptor& Descriptor() {
    static const LibraryDescriptor descriptor{"TavoSDK", "0.6.74", {}};
    return descriptor;
}

// The default logger as it was at load; keeps it alive until unload. Written only by load,
// unload and Platform::Create, which never run concurrently.
std::shared_ptr<spdlog::logger>& SavedLogger() {
    static std::shared_ptr<spdlog::logger> saved;
    return saved;
}

// spdlog's registry makes an unnamed stand-in default logger for itself; that is not logging
// a host has set up, so it counts as none.
std::shared_ptr<spdlog::logger> ConfiguredDefaultLogger() {
    auto logger = spdlog::default_logger();
    if (logger && logger->name().empty()) {
        return nullptr;
    }
    return logger;
}

void CreateLogger(const LibraryDescriptor& descriptor) {
    if (descriptor.createLogger) {
        descriptor.createLogger();
        return;
    }
    auto console =
        std::make_shared<spdlog::sinks::stdout_color_sink_mt>(spdlog::color_mode::automatic);
    console->set_pattern("[%H:%M:%S.%e] [%n] [%^%l%$] %v");
    std::vector<spdlog::sink_ptr> sinks{console};

    const std::filesystem::path directory = GetDefaultLogsDirectory();
    const std::filesystem::path file = directory / fmt::format("{}.txt", descriptor.name);
    std::string fileProblem;
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    try {
        sinks.push_back(std::make_shared<spdlog::sinks::basic_file_sink_mt>(file.string(), true));
    } catch (const std::exception& e) {
        // A library installed in a read-only folder still has to load: keep the console.
        fileProblem = ec ? fmt::format("cannot create {}: {}", directory.string(), ec.message())
                         : std::string(e.what());
    }

    auto logger = std::make_shared<spdlog::logger>(descriptor.name, sinks.begin(), sinks.end());
    spdlog::set_default_logger(logger);
    if (!fileProblem.empty()) {
        spdlog::warn("[Platform] Logging to the console only, log file {} unavailable: {}",
                     file.string(), fileProblem);
    }
}

void LoadLibraryLogging() {
    auto& saved = SavedLogger();
    saved = ConfiguredDefaultLogger();
    if (saved) {
        return;
    }
    const LibraryDescriptor& descriptor = Descriptor();
    CreateLogger(descriptor);
    saved = spdlog::default_logger();

    if (const char* levels = std::getenv("SPDLOG_LEVEL"); levels != nullptr && levels[0] != '\0') {
        spdlog::cfg::helpers::load_levels(levels);
    }
    spdlog::info("version: {} ({} - {})",
                 descriptor.version != nullptr ? descriptor.version : "UNSPECIFIED",
                 TAVO_GIT_BRANCH, TAVO_GIT_REVISION);
}

// Set once the library has let go of logging. Trivially destructible, so the loader's last
// call can still read it after every other static of the process has gone.
std::atomic<bool> loggingReleased{false};

void ReleaseLibraryLogging() {
    if (loggingReleased.exchange(true)) {
        return;
    }
    try {
        auto& saved = SavedLogger();
        if (!saved) {
            return;
        }
        saved.reset();
        auto current = spdlog::default_logger();
        // The registry holds two references and `current` one; a fourth means someone else
        // (a host or a sibling library) still uses the logger, so it must stay.
        if (!current || current.use_count() < 4) {
            current.reset();
            spdlog::set_default_logger(nullptr);
            spdlog::shutdown();
        }
    } catch (...) {
        // Nothing can be reported safely this late in unloading.
    }
}

}  // namespace

Platform::~Platform() = default;

int64_t LinuxPlatform::GetTimeNs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + static_cast<int64_t>(now.tv_nsec);
}

std::unique_ptr<Platform> Platform::Create(const PlatformInitArgs& args) {
    if (!ConfiguredDefaultLogger()) {
        LoadLibraryLogging();
    }
    spdlog::set_level(ToSpdlog(args.logLevel));
    return std::make_unique<LinuxPlatform>();
}

void Platform::OnLibraryLoad() {
    // Runs inside the loader: an escaping exception would terminate the host.
    try {
        loggingReleased.store(false);
        LoadLibraryLogging();
        // A process that exits with the library still loaded destroys spdlog's registry
        // before the loader runs the unload hook. Registered after the registry exists, this
        // runs before the registry goes; the unload hook then finds logging released.
        // Tied to this library's handle, so that unloading it first also drops the handler
        // (std::atexit is not tied to it under every runtime: sanitizers intercept it).
        __cxa_atexit([](void*) { ReleaseLibraryLogging(); }, nullptr, &__dso_handle);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "TavoSDK: logging set-up failed: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "TavoSDK: logging set-up failed\n");
    }
}

void Platform::OnLibraryUnload() {
    ReleaseLibraryLogging();
}

}  // namespace tavo
