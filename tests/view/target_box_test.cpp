#include "view/core/target_box.h"

#include <gtest/gtest.h>

namespace {

TargetParams Pane(int32_t w, int32_t h, int mode) {
    TargetParams p;
    p.viewWidth = w;
    p.viewHeight = h;
    p.mode = mode;
    p.verticalBarWidth = 17;
    p.horizontalBarHeight = 17;
    return p;
}

void ExpectBox(const TargetBox& box, int32_t w, int32_t h, bool upscale = false) {
    EXPECT_TRUE(box.valid);
    EXPECT_EQ(box.width, w);
    EXPECT_EQ(box.height, h);
    EXPECT_EQ(box.upscale, upscale);
}

TEST(TargetBoxTest, HorizontalFitsTheWidthAndMakesRoomForAScrollBarOnlyWhenOneStaysNeeded) {
    // Fits the width without overflowing: the height follows.
    ExpectBox(ComputeTargetBox(Pane(1000, 800, kResampleHorizontal), 2000, 1000), 1000, 0);
    // Overflows the height: fit the width beside the scroll bar it will need.
    ExpectBox(ComputeTargetBox(Pane(1000, 800, kResampleHorizontal), 1000, 2000), 983, 0);
    // Overflows only slightly, and would fit beside the bar: fit the whole window instead.
    ExpectBox(ComputeTargetBox(Pane(1000, 800, kResampleHorizontal), 1000, 805), 1000, 800);
    // Fullscreen has no scroll bars.
    TargetParams full = Pane(1000, 800, kResampleHorizontal);
    full.fullscreen = true;
    ExpectBox(ComputeTargetBox(full, 1000, 2000), 1000, 0);
}

TEST(TargetBoxTest, VerticalIsHorizontalWithTheRolesExchanged) {
    ExpectBox(ComputeTargetBox(Pane(800, 1000, kResampleVertical), 1000, 2000), 0, 1000);
    ExpectBox(ComputeTargetBox(Pane(800, 1000, kResampleVertical), 2000, 1000), 0, 983);
    ExpectBox(ComputeTargetBox(Pane(800, 1000, kResampleVertical), 805, 1000), 800, 1000);
}

TEST(TargetBoxTest, AutoFitsTheSideThatLimits) {
    // A window wider than the image's aspect fits the height, so a panorama scrolls sideways.
    ExpectBox(ComputeTargetBox(Pane(1000, 800, kResampleAuto), 3000, 1000), 0, 783);
    ExpectBox(ComputeTargetBox(Pane(1000, 800, kResampleAuto), 1000, 3000), 983, 0);
    // Equal aspects count as fitting the width.
    ExpectBox(ComputeTargetBox(Pane(1000, 800, kResampleAuto), 2000, 1600), 1000, 0);
}

TEST(TargetBoxTest, NoneKeepsTheSourceSizeAndBothFillsTheWindow) {
    ExpectBox(ComputeTargetBox(Pane(1000, 800, kResampleNone), 3000, 1000), 3000, 1000);
    ExpectBox(ComputeTargetBox(Pane(1000, 800, kResampleBoth), 3000, 1000), 1000, 800);
    // Unknown modes behave as None.
    ExpectBox(ComputeTargetBox(Pane(1000, 800, 9), 30, 10), 30, 10);
}

TEST(TargetBoxTest, TheAdjustPercentageEnlargesTheFittedSidesByItsType) {
    TargetParams p = Pane(400, 300, kResampleBoth);
    p.adjust = 50;
    ExpectBox(ComputeTargetBox(p, 800, 600), 600, 450);
    ExpectBox(ComputeTargetBox(p, 1600, 1200), 600, 450);
    p.adjustType = 1;  // of the image: half way from the window's size to the image's
    ExpectBox(ComputeTargetBox(p, 800, 600), 600, 450);
    ExpectBox(ComputeTargetBox(p, 1600, 1200), 1000, 750);
    TargetParams q = Pane(1000, 750, kResampleBoth);
    q.adjust = 50;
    q.adjustType = 1;
    ExpectBox(ComputeTargetBox(q, 4000, 3000), 2500, 1875);
    // An image smaller than the window is not enlarged by it.
    ExpectBox(ComputeTargetBox(q, 500, 300), 1000, 750);
    // None ignores the percentage; Horizontal enlarges the width only.
    q.adjustType = 0;
    q.mode = kResampleNone;
    ExpectBox(ComputeTargetBox(q, 4000, 3000), 4000, 3000);
    q.mode = kResampleHorizontal;
    ExpectBox(ComputeTargetBox(q, 1000, 500), 1500, 0);
}

TEST(TargetBoxTest, TheUpscaleRuleEnlargesSmallImagesUpToItsLimit) {
    TargetParams p = Pane(800, 600, kResampleNone);
    p.upscale = true;
    p.maxUpscale = 150;
    ExpectBox(ComputeTargetBox(p, 100, 100), 0, 150, true);
    p.maxUpscale = 1000;  // the limit allows more than the window: fit the window
    ExpectBox(ComputeTargetBox(p, 100, 100), 0, 600, true);
    ExpectBox(ComputeTargetBox(p, 100, 30), 800, 0, true);
    p.maxUpscale = 100;  // no enlargement at all: the mode applies
    ExpectBox(ComputeTargetBox(p, 100, 100), 100, 100);
    p.maxUpscale = 150;  // an image as wide as the window is not small
    ExpectBox(ComputeTargetBox(p, 800, 100), 800, 100);
}

TEST(TargetBoxTest, ATinyPaneKeepsThePreviousBoxAndAnUnknownSourceGetsAnEmptyOne) {
    EXPECT_FALSE(ComputeTargetBox(Pane(4, 800, kResampleBoth), 100, 100).valid);
    EXPECT_FALSE(ComputeTargetBox(Pane(800, 4, kResampleBoth), 100, 100).valid);
    // A header that only the decode reveals: nothing to divide by yet.
    for (int mode = kResampleNone; mode <= kResampleAuto; ++mode) {
        TargetParams p = Pane(800, 600, mode);
        p.upscale = true;
        p.adjustType = 1;
        ExpectBox(ComputeTargetBox(p, 0, 0), 0, 0);
    }
}

}  // namespace
