// Plug-in layouts: a copy of the running test program in a temporary folder with "beside",
// "path" and "cwd" sub-folders, run as a child process, so that a case chooses which plug-ins
// the loader finds beside the program, on the search path and in the working folder.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "tavo/common/paths.h"

namespace tavo::test {

class PluginLayout : public ::testing::Test {
  protected:
    // The child runs with `childVariable` set, as `programName`, the case `childSuite`.<name>.
    PluginLayout(std::string childVariable, std::string programName, std::string childSuite)
        : childVariable_(std::move(childVariable)),
          programName_(std::move(programName)),
          childSuite_(std::move(childSuite)) {}

    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() /
                ("tavo-" + programName_ + "-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root_);
        for (const char* folder : {"beside", "path", "cwd"}) {
            std::filesystem::create_directories(root_ / folder);
        }
        std::filesystem::copy_file(GetExecutablePath(), root_ / "beside" / programName_);
        std::filesystem::permissions(root_ / "beside" / programName_,
                                     std::filesystem::perms::owner_all);
    }
    void TearDown() override {
        if (!root_.empty()) {
            std::filesystem::remove_all(root_);
        }
    }

    void Place(const std::string& plugin, const std::string& folder, const std::string& name) {
        std::filesystem::copy_file(plugin, root_ / folder / name);
    }

    // Runs the child case `name` and expects it to pass. Child cases sit in a disabled suite, so
    // that ordinary runs leave them out instead of skipping them.
    void RunChild(const std::string& name) {
        const std::filesystem::path output = root_ / "output.txt";
        const std::string command =
            "cd '" + (root_ / "cwd").string() + "' && " + childVariable_ + "=1 LD_LIBRARY_PATH='" +
            (root_ / "path").string() + "' '" + (root_ / "beside" / programName_).string() +
            "' --gtest_also_run_disabled_tests --gtest_filter=" + childSuite_ + "." + name +
            " > '" + output.string() + "' 2>&1";
        const int status = std::system(command.c_str());
        std::ifstream stream(output);
        std::stringstream text;
        text << stream.rdbuf();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text.str();
        EXPECT_NE(text.str().find("[  PASSED  ] 1 test"), std::string::npos) << text.str();
    }

    std::filesystem::path root_;

  private:
    std::string childVariable_;
    std::string programName_;
    std::string childSuite_;
};

}  // namespace tavo::test
