// Tests of asset lookup beside a module and of reading assets whole.
#include "tavo/common/assetManager.h"

#include <dlfcn.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tavo/common/exception.h"
#include "tavo/common/paths.h"

namespace tavo {
namespace {

namespace fs = std::filesystem;

class AssetManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        directory_ = fs::path(::testing::TempDir()) /
                     ("assets-" + std::to_string(::getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(directory_);
        fs::create_directories(directory_ / "shaders");
        root_.directory = directory_;
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(directory_ / "locked.txt", fs::perms::owner_all, ec);
        fs::remove_all(directory_, ec);
    }
    void Write(const std::string& name, const std::string& contents) {
        std::ofstream(directory_ / name, std::ios::binary) << contents;
    }
    std::string ExpectThrow(const std::string& name) {
        try {
            manager_->Read(name, &root_);
        } catch (const Exception& error) {
            return error.what();
        }
        ADD_FAILURE() << "no exception for " << name;
        return {};
    }
    // The location every read failure carries; the line varies with the source.
    static std::string LocationPrefix() {
        return " in tavo::`anonymous-namespace'::LinuxAssetManager::Read "
               "tavo/common/assetManager.cpp:";
    }

    fs::path directory_;
    AssetRoot root_;
    std::unique_ptr<AssetManager> manager_ = AssetManager::Create(nullptr);
};

TEST_F(AssetManagerTest, ReadsBytesAndTextWhole) {
    const std::string contents("line one\n\0binary\xff", 18);
    Write("shaders/sample.pshader", contents);
    const AssetBuffer bytes = manager_->Read("shaders/sample.pshader", &root_);
    ASSERT_EQ(bytes.size, contents.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data.get()), bytes.size), contents);
    EXPECT_EQ(manager_->ReadText("shaders/sample.pshader", &root_), contents);
}

TEST_F(AssetManagerTest, MissingAssetNamesTheResolvedPath) {
    const std::string path = (directory_ / "shaders/none.vshader").string();
    const std::string message = ExpectThrow("shaders/none.vshader");
    EXPECT_EQ(message.rfind("failed to open asset \"shaders/none.vshader\" (\"" + path + "\")" +
                                LocationPrefix(),
                            0),
              0u)
        << message;
}

TEST_F(AssetManagerTest, EmptyAssetIsInvalid) {
    Write("empty.bin", "");
    const std::string path = (directory_ / "empty.bin").string();
    const std::string message = ExpectThrow("empty.bin");
    EXPECT_EQ(message.rfind(
                  "invalid asset \"empty.bin\" (\"" + path + "\"): pos=0" + LocationPrefix(), 0),
              0u)
        << message;
    EXPECT_THROW(manager_->ReadText("empty.bin", &root_), Exception);
}

TEST_F(AssetManagerTest, UnreadableAndDirectoryAssetsFailToOpen) {
    EXPECT_EQ(ExpectThrow("shaders").rfind("failed to open asset \"shaders\"", 0), 0u);
    Write("locked.txt", "secret");
    fs::permissions(directory_ / "locked.txt", fs::perms::none);
    // Permissions do not stop root: read in a child that runs as nobody when this test is root.
    fs::permissions(directory_,
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    enum Outcome { kRefused = 0, kNoPrivilegeDrop = 1, kRead = 2, kOtherMessage = 3 };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(kNoPrivilegeDrop);
        }
        try {
            manager_->Read("locked.txt", &root_);
        } catch (const Exception& error) {
            const bool expected =
                std::string(error.what()).rfind("failed to open asset \"locked.txt\"", 0) == 0;
            ::_exit(expected ? kRefused : kOtherMessage);
        }
        ::_exit(kRead);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kRefused);
}

TEST_F(AssetManagerTest, UndecidedRootIsDecidedOnceBesideTheModule) {
    // Linked statically, "this library" is the test program itself.
    const fs::path expected = GetExecutablePath().parent_path() / "assets";
    AssetRoot root;
    EXPECT_EQ(manager_->ResolvePath("a.txt", &root), expected / "a.txt");
    EXPECT_EQ(root.directory, expected);
    // Remembered: a changed module address is not looked at again.
    root.moduleAddress = reinterpret_cast<const void*>(&std::free);
    EXPECT_EQ(manager_->ResolvePath("shaders/b.txt", &root), expected / "shaders/b.txt");
    // A null root means the manager's own.
    EXPECT_EQ(manager_->ResolvePath("c.txt", nullptr), expected / "c.txt");
}

TEST_F(AssetManagerTest, LooksBesideTheModuleHoldingTheAddress) {
    const char* library = std::getenv("TAVO_TEST_LIBRARY");
    ASSERT_NE(library, nullptr) << "TAVO_TEST_LIBRARY is not set";
    void* handle = ::dlopen(library, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    void* symbol = ::dlsym(handle, "tavo_log_level_to_string");
    ASSERT_NE(symbol, nullptr);
    AssetRoot root;
    root.moduleAddress = symbol;
    const fs::path expected = fs::absolute(library).parent_path() / "assets";
    EXPECT_EQ(manager_->ResolvePath("x.tga", &root), expected / "x.tga");
    // The build copies the repository's assets folder there.
    EXPECT_TRUE(fs::is_directory(expected));
    const std::string message = [&] {
        try {
            manager_->Read("no-such-asset.bin", &root);
        } catch (const Exception& error) {
            return std::string(error.what());
        }
        return std::string();
    }();
    EXPECT_EQ(message.rfind("failed to open asset \"no-such-asset.bin\" (\"" +
                                (expected / "no-such-asset.bin").string() + "\")",
                            0),
              0u)
        << message;
    ::dlclose(handle);
}

}  // namespace
}  // namespace tavo
