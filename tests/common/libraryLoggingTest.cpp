// Tests of the shared library's load and unload hooks: logger, log file, levels and banner.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include "tavo/common/platform.h"

namespace fs = std::filesystem;

namespace {

// Checks inside a forked child end it with the failing line as its exit status.
#define CHILD_CHECK(condition)       \
    do {                             \
        if (!(condition)) {          \
            ::_exit(__LINE__ % 250); \
        }                            \
    } while (false)

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class LibraryLogging : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* built = std::getenv("TAVO_TEST_LIBRARY");
        ASSERT_NE(built, nullptr) << "TAVO_TEST_LIBRARY not set";
        char pattern[] = "/tmp/tavoLibraryXXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        library_ = dir_ / fs::path(built).filename();
        fs::copy_file(built, library_);
        logFile_ = dir_ / "ORBIXLogs" / "TavoSDK.txt";
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Each scenario needs a process whose spdlog registry the library has never touched.
    static void InChild(const std::function<void()>& body) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            body();
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status)) << "child crashed";
        EXPECT_EQ(WEXITSTATUS(status), 0)
            << "child check failed at line (mod 250) " << WEXITSTATUS(status);
    }

    void* Load() const { return ::dlopen(library_.c_str(), RTLD_NOW | RTLD_LOCAL); }
    bool IsMapped() const {
        void* handle = ::dlopen(library_.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle != nullptr) {
            ::dlclose(handle);
        }
        return handle != nullptr;
    }

    fs::path dir_;
    fs::path library_;
    fs::path logFile_;
};

TEST_F(LibraryLogging, OwnLoggerBannerAndFreshFileOnEveryLoad) {
    InChild([&] {
        ::unsetenv("SPDLOG_LEVEL");
        void* handle = Load();
        CHILD_CHECK(handle != nullptr);
        auto logger = spdlog::default_logger();
        CHILD_CHECK(logger && logger->name() == "TavoSDK");
        CHILD_CHECK(logger->sinks().size() == 2);
        logger.reset();
        spdlog::info("[Test] first load");
        CHILD_CHECK(::dlclose(handle) == 0);
        CHILD_CHECK(!IsMapped());
        CHILD_CHECK(spdlog::default_logger() == nullptr);
        const std::string first = ReadFile(logFile_);
        CHILD_CHECK(first.find("version: 0.6.74 (") != std::string::npos);
        CHILD_CHECK(first.find("[Test] first load") != std::string::npos);

        handle = Load();
        CHILD_CHECK(handle != nullptr);
        spdlog::default_logger()->flush();
        const std::string second = ReadFile(logFile_);
        CHILD_CHECK(second.find("[Test] first load") == std::string::npos);
        CHILD_CHECK(second.find("version: 0.6.74 (") != std::string::npos);
        CHILD_CHECK(::dlclose(handle) == 0);
    });
}

TEST_F(LibraryLogging, HostLoggerIsKeptAndNoFileWritten) {
    InChild([&] {
        auto host = std::make_shared<spdlog::logger>(
            "host", std::make_shared<spdlog::sinks::null_sink_mt>());
        spdlog::set_default_logger(host);
        void* handle = Load();
        CHILD_CHECK(handle != nullptr);
        CHILD_CHECK(spdlog::default_logger() == host);
        CHILD_CHECK(spdlog::get("TavoSDK") == nullptr);
        CHILD_CHECK(!fs::exists(logFile_.parent_path()));
        CHILD_CHECK(::dlclose(handle) == 0);
        // The host still holds its logger, so unloading must leave it in place.
        CHILD_CHECK(spdlog::default_logger() == host);
    });
}

TEST_F(LibraryLogging, UnwritableLogFolderStillLoadsWithConsoleOnly) {
    // Tests run as root, so a file in the folder's place is what makes it impossible.
    std::ofstream(dir_ / "ORBIXLogs") << "not a folder";
    InChild([&] {
        void* handle = Load();
        CHILD_CHECK(handle != nullptr);
        auto logger = spdlog::default_logger();
        CHILD_CHECK(logger && logger->name() == "TavoSDK");
        CHILD_CHECK(logger->sinks().size() == 1);
        logger.reset();
        CHILD_CHECK(::dlclose(handle) == 0);
    });
}

TEST_F(LibraryLogging, EnvironmentLevelAppliesToOwnLogger) {
    InChild([&] {
        ::setenv("SPDLOG_LEVEL", "warn", 1);
        void* handle = Load();
        CHILD_CHECK(handle != nullptr);
        CHILD_CHECK(spdlog::default_logger()->level() == spdlog::level::warn);
        CHILD_CHECK(::dlclose(handle) == 0);
        // The banner is an info line, below the requested level.
        CHILD_CHECK(ReadFile(logFile_).find("version:") == std::string::npos);
    });
}

TEST_F(LibraryLogging, CreateSetsGlobalLevel) {
    InChild([&] {
        ::unsetenv("SPDLOG_LEVEL");
        void* handle = Load();
        CHILD_CHECK(handle != nullptr);
        using CreateFn = std::unique_ptr<tavo::Platform> (*)(const tavo::PlatformInitArgs&);
        auto create = reinterpret_cast<CreateFn>(
            ::dlsym(handle, "_ZN4tavo8Platform6CreateERKNS_16PlatformInitArgsE"));
        CHILD_CHECK(create != nullptr);
        const struct {
            int32_t level;
            spdlog::level::level_enum expected;
        } cases[] = {{5, spdlog::level::err},  {0, spdlog::level::info}, {1, spdlog::level::trace},
                     {8, spdlog::level::info}, {7, spdlog::level::off},  {-1, spdlog::level::info}};
        for (const auto& c : cases) {
            tavo::PlatformInitArgs args;
            args.logLevel = c.level;
            auto platform = create(args);
            CHILD_CHECK(platform != nullptr);
            CHILD_CHECK(spdlog::default_logger()->level() == c.expected);
            const int64_t ns = platform->GetTimeNs();
            CHILD_CHECK(ns / 1'000'000'000 >= ::time(nullptr) - 2);
        }
        CHILD_CHECK(::dlclose(handle) == 0);
    });
}

// A host that never unloads the library: the process's exit tears spdlog down before the
// loader runs the library's unload hook, which must then leave spdlog alone.
TEST_F(LibraryLogging, ExitWithTheLibraryStillLoadedIsClean) {
    InChild([&] {
        void* handle = Load();
        CHILD_CHECK(handle != nullptr);
        spdlog::info("[Test] exiting with the library loaded");
        // A normal exit runs every exit handler and the loader's unload hooks; a sanitizer
        // report there turns the status non-zero.
        std::exit(0);
    });
}

}  // namespace
