#include "platform/qt/qt_screen_geometry.h"

#include <gtest/gtest.h>

namespace tovalo::qt {
namespace {

struct Case {
    const char* name;
    QRect primary;
    Rect screen;
    QRect qt;
};

class QtScreenGeometryTest : public ::testing::TestWithParam<Case> {};

TEST_P(QtScreenGeometryTest, FlipsAgainstThePrimaryScreenBothWays) {
    const auto& c = GetParam();
    EXPECT_EQ(QtScreenGeometry::toQt(c.screen, c.primary), c.qt);
    EXPECT_EQ(QtScreenGeometry::fromQt(c.qt, c.primary), c.screen);
}

INSTANTIATE_TEST_SUITE_P(
    Rects, QtScreenGeometryTest,
    ::testing::Values(
        Case{"top_left_corner", QRect(0, 0, 1920, 1080), Rect(0, 980, 200, 100),
             QRect(0, 0, 200, 100)},
        Case{"bottom_left_corner", QRect(0, 0, 1920, 1080), Rect(0, 0, 200, 100),
             QRect(0, 980, 200, 100)},
        Case{"middle", QRect(0, 0, 1920, 1080), Rect(300, 500, 640, 480),
             QRect(300, 100, 640, 480)},
        // A screen beside or above the primary one keeps the primary's bottom edge as y = 0.
        Case{"above_the_primary", QRect(0, 0, 1920, 1080), Rect(100, 1100, 50, 50),
             QRect(100, -70, 50, 50)},
        Case{"primary_not_at_origin", QRect(0, 200, 800, 600), Rect(10, 20, 30, 40),
             QRect(10, 740, 30, 40)}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(QtScreenGeometryPointTest, FlipsPointsLikeTheTopEdgeOfARect) {
    const QRect primary(0, 0, 1920, 1080);
    EXPECT_EQ(QtScreenGeometry::pointFromQt(QPoint(5, 0), primary), (Point{5, 1080}));
    EXPECT_EQ(QtScreenGeometry::pointFromQt(QPoint(7, 1080), primary), (Point{7, 0}));
}

}  // namespace
}  // namespace tovalo::qt
