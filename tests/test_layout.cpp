// The registry and frame records are shared with C applications: the same
// layout must come out of a C and a C++ compiler, on every processor.
#include <gtest/gtest.h>

#include "layout.h"
#include "support.h"

namespace {

TEST(Layout, CAndCppAgreeFieldByField) {
    const size_t cpp[] = {TWINCAM_LAYOUT_VALUES};
    size_t c[std::size(cpp)] = {};
    ASSERT_EQ(twincam_c_layout(c, std::size(c)), std::size(cpp));
    for (size_t i = 0; i < std::size(cpp); ++i) EXPECT_EQ(c[i], cpp[i]) << "layout value " << i;
}

TEST(Layout, NaturalAlignmentWithoutPacking) {
    EXPECT_EQ(offsetof(CameraRecord, id), 4u);
    EXPECT_EQ(offsetof(CameraRecord, frameSize), 20u);
    EXPECT_EQ(sizeof(CameraRecord), 24u);
    EXPECT_EQ(offsetof(CameraManager, cameras), 4u);
    EXPECT_EQ(sizeof(CameraManager), 52u);
    EXPECT_EQ(offsetof(CameraFrame, data), sizeof(void *));
    EXPECT_EQ(sizeof(CameraFrame), 2 * sizeof(void *));
}

}  // namespace
