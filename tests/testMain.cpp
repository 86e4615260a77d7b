// Entry point of every GoogleTest program. A run in which cases skipped, and none failed, exits
// with a code of its own so that ctest reports the program as skipped instead of passed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    const int result = RUN_ALL_TESTS();
    if (result == 0 && ::testing::UnitTest::GetInstance()->skipped_test_count() > 0) {
        return TAVO_TEST_SKIP_CODE;
    }
    return result;
}
