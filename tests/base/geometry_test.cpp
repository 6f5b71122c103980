#include "base/geometry.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace tovalo {
namespace {

// Two displays side by side, sharing the edge x = 1440, and a window straddling that edge.
const Rect kLeftDisplay{0, 0, 1440, 900};
const Rect kRightDisplay{1440, 0, 1920, 1080};
const Rect kStraddlingWindow{1200, 100, 600, 400};

TEST(RectTest, EdgesAndMidpoints) {
    const Rect r{10, 20, 30, 40};
    EXPECT_EQ(r.minX(), 10);
    EXPECT_EQ(r.maxX(), 40);
    EXPECT_EQ(r.midX(), 25);
    EXPECT_EQ(r.minY(), 20);
    EXPECT_EQ(r.maxY(), 60);
    EXPECT_EQ(r.midY(), 40);
    EXPECT_EQ(r.width(), 30);
    EXPECT_EQ(r.height(), 40);
}

TEST(RectTest, EmptyWhenEitherSideIsNotPositive) {
    EXPECT_TRUE(Rect{}.isEmpty());
    EXPECT_TRUE((Rect{0, 0, 10, 0}).isEmpty());
    EXPECT_TRUE((Rect{0, 0, -10, 10}).isEmpty());
    EXPECT_TRUE((Rect{0, 0, std::numeric_limits<double>::quiet_NaN(), 10}).isEmpty());
    EXPECT_FALSE((Rect{-5, -5, 0.5, 0.5}).isEmpty());
}

TEST(RectTest, ContainsPointIsHalfOpen) {
    const Rect r{0, 0, 10, 10};
    EXPECT_TRUE(r.contains(Point{0, 0}));
    EXPECT_TRUE(r.contains(Point{9.999, 9.999}));
    EXPECT_FALSE(r.contains(Point{10, 5}));
    EXPECT_FALSE(r.contains(Point{5, 10}));
    EXPECT_FALSE(r.contains(Point{-0.001, 5}));
    // The shared edge of two adjacent displays belongs to the right-hand one only.
    EXPECT_FALSE(kLeftDisplay.contains(Point{1440, 10}));
    EXPECT_TRUE(kRightDisplay.contains(Point{1440, 10}));
    EXPECT_FALSE((Rect{5, 5, 0, 0}).contains(Point{5, 5}));
}

TEST(RectTest, ContainsRectAllowsTouchingEdgesButNotEmptyRects) {
    const Rect outer{0, 0, 100, 100};
    EXPECT_TRUE(outer.contains(outer));
    EXPECT_TRUE(outer.contains(Rect{10, 10, 90, 90}));
    EXPECT_FALSE(outer.contains(Rect{10, 10, 91, 10}));
    EXPECT_FALSE(outer.contains(Rect{-1, 0, 10, 10}));
    EXPECT_FALSE(outer.contains(Rect{10, 10, 0, 0}));
    EXPECT_FALSE(Rect{}.contains(Rect{}));
}

TEST(RectTest, IntersectionOfOverlappingRects) {
    EXPECT_EQ(intersection(kLeftDisplay, kStraddlingWindow), (Rect{1200, 100, 240, 400}));
    EXPECT_EQ(intersection(kRightDisplay, kStraddlingWindow), (Rect{1440, 100, 360, 400}));
    EXPECT_EQ(intersection(kStraddlingWindow, kRightDisplay),
              intersection(kRightDisplay, kStraddlingWindow));
    EXPECT_TRUE(intersects(kLeftDisplay, kStraddlingWindow));
    EXPECT_EQ(intersection(kLeftDisplay, Rect{10, 10, 5, 5}), (Rect{10, 10, 5, 5}));
}

TEST(RectTest, NoSharedAreaGivesTheZeroRect) {
    struct Case {
        const char* name;
        Rect a;
        Rect b;
    };
    const std::vector<Case> cases = {
        {"adjacent displays", kLeftDisplay, kRightDisplay},
        {"touching at a corner", Rect{0, 0, 10, 10}, Rect{10, 10, 10, 10}},
        {"far apart", Rect{0, 0, 10, 10}, Rect{50, 50, 10, 10}},
        {"apart on y only", Rect{0, 0, 10, 10}, Rect{0, 20, 10, 10}},
        {"empty inside the other", Rect{0, 0, 10, 10}, Rect{5, 5, 0, 0}},
        {"negative size", Rect{0, 0, 10, 10}, Rect{5, 5, -2, -2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(intersection(c.a, c.b), Rect{});
        EXPECT_EQ(intersection(c.b, c.a), Rect{});
        EXPECT_FALSE(intersects(c.a, c.b));
        EXPECT_FALSE(intersects(c.b, c.a));
    }
}

TEST(RectTest, OffsetInsetAndUnion) {
    const Rect r{10, 10, 100, 50};
    EXPECT_EQ(r.offsetBy(-10, 5), (Rect{0, 15, 100, 50}));
    EXPECT_EQ(r.insetBy(5, 10), (Rect{15, 20, 90, 30}));
    EXPECT_EQ(r.insetBy(-5, 0), (Rect{5, 10, 110, 50}));
    EXPECT_EQ(r.insetBy(50, 0), (Rect{60, 10, 0, 50}));
    EXPECT_EQ(r.insetBy(51, 0), Rect{});

    EXPECT_EQ(kLeftDisplay.unionWith(kRightDisplay), (Rect{0, 0, 3360, 1080}));
    EXPECT_EQ(r.unionWith(Rect{500, 500, 0, 0}), r);
    EXPECT_EQ(Rect{}.unionWith(r), r);
    EXPECT_EQ(Rect{}.unionWith(Rect{7, 7, -1, 3}), Rect{});
}

TEST(RectStringTest, Formats) {
    struct Case {
        Rect rect;
        std::string text;
    };
    const std::vector<Case> cases = {
        {Rect{0, 0, 800, 600}, "{{0, 0}, {800, 600}}"},
        {Rect{10.5, -20, 1, 2}, "{{10.5, -20}, {1, 2}}"},
        {Rect{-0.0, -0.0, 0.1, 1e-7}, "{{0, 0}, {0.1, 1e-07}}"},
        {Rect{320, 180, 1e15, 123456.789}, "{{320, 180}, {1e+15, 123456.789}}"},
        {Rect{0, 0, -5, -0.25}, "{{0, 0}, {-5, -0.25}}"},
        {Rect{1.0 / 3, 0, 0, 0}, "{{0.3333333333333333, 0}, {0, 0}}"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rectToString(c.rect), c.text);
    }
}

TEST(RectStringTest, ParsesWrittenAndLooselySpacedText) {
    struct Case {
        const char* text;
        Rect rect;
    };
    const std::vector<Case> cases = {
        {"{{0, 0}, {800, 600}}", Rect{0, 0, 800, 600}},
        {"{{1,2},{3,4}}", Rect{1, 2, 3, 4}},
        {"  { { 1 , 2 } ,\t{ 3 ,\n4 } }  ", Rect{1, 2, 3, 4}},
        {"{{10.5, -20}, {1e+15, 1E-7}}", Rect{10.5, -20, 1e15, 1e-7}},
        {"{{-0, 0.5}, {.5, 2.}}", Rect{0, 0.5, 0.5, 2}},
        {"{{0, 0}, {-5, -3}}", Rect{0, 0, -5, -3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(rectFromString(c.text), c.rect);
    }
}

TEST(RectStringTest, UnreadableTextGivesTheZeroRect) {
    const std::vector<std::string> cases = {
        "",
        "   ",
        "garbage",
        "{{1, 2}, {3}}",
        "{{1, 2}, {3, }}",
        "{{1, 2}, {3, 4}",
        "{{1, 2} {3, 4}}",
        "{1, 2, 3, 4}",
        "{{1, 2}, {3, 4}} x",
        "{{1, 2}, {3, 4}}}",
        "{{1, 2}, {3, 4, 5}}",
        "{{nan, 2}, {3, 4}}",
        "{{1, inf}, {3, 4}}",
        "{{1, 2}, {-infinity, 4}}",
        "{{1e400, 2}, {3, 4}}",
        "{{1, 2}, {3, 4x}}",
        "{{0x10, 2}, {3, 4}}",
        "{{+1, 2}, {3, 4}}",
        std::string("{{1, 2}, {3, 4}}\0", 17),
    };
    for (const auto& text : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(rectFromString(text), Rect{});
    }
}

TEST(RectStringTest, RoundTripIsExact) {
    const std::vector<double> values = {0.1,
                                        1e-7,
                                        1e15,
                                        -0.0,
                                        123456.789,
                                        -2.5e-300,
                                        1.0 / 3,
                                        9007199254740993.0,
                                        std::numeric_limits<double>::max(),
                                        std::numeric_limits<double>::denorm_min()};
    for (double a : values) {
        for (double b : values) {
            const Rect rect{a, -b, b, a};
            const Rect back = rectFromString(rectToString(rect));
            SCOPED_TRACE(rectToString(rect));
            EXPECT_EQ(back, rect);
            // Beyond ==: the same bits, except that negative zero comes back as zero.
            const auto bits = [](double d) { return std::bit_cast<std::uint64_t>(d + 0.0); };
            EXPECT_EQ(bits(back.origin.x), bits(rect.origin.x));
            EXPECT_EQ(bits(back.origin.y), bits(rect.origin.y));
            EXPECT_EQ(bits(back.size.width), bits(rect.size.width));
            EXPECT_EQ(bits(back.size.height), bits(rect.size.height));
        }
    }
}

}  // namespace
}  // namespace tovalo
