// The walk demo's probe: which views count as each eye's own when the eye share is measured.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "apps/walk/walk.h"

namespace {

using tavo::apps::walk::ProbeValues;

struct ProbeCase {
    const char* what;
    int views, leftView, rightView;
    std::vector<uint8_t> expected;
};

TEST(WalkProbe, ViewsAreSplitHalfwayBetweenTheViewsTheEyesSee) {
    constexpr uint8_t W = 255, B = 0, G = 128;
    const ProbeCase cases[] = {
        {"stereo: the left image is white", 2, 1, 0, {W, B}},
        {"eyes two views apart: the view between is nobody's",
         12,
         8,
         10,
         {W, W, W, W, W, W, W, W, W, G, B, B}},
        {"eyes on neighbouring views: no view is midway",
         12,
         3,
         4,
         {W, W, W, W, B, B, B, B, B, B, B, B}},
        {"left eye on the higher view: the sides swap",
         12,
         6,
         3,
         {B, B, B, B, B, W, W, W, W, W, W, W}},
        {"both eyes on one view: that view is nobody's",
         12,
         0,
         0,
         {G, B, B, B, B, B, B, B, B, B, B, B}},
    };
    for (const ProbeCase& c : cases) {
        EXPECT_EQ(ProbeValues(c.views, c.leftView, c.rightView), c.expected) << c.what;
    }
}

}  // namespace
