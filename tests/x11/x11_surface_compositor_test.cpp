#include "platform/x11/x11_surface_compositor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support/x11/x_pixels.h"
#include "x11_desktop_fixture.h"

namespace tovalo::x11 {
namespace {

using testing::X11DesktopTest;

constexpr std::uint32_t kRed = 0xff0000;
constexpr std::uint32_t kBlue = 0x0000ff;
constexpr std::uint32_t kGreen = 0x00ff00;
constexpr std::uint32_t kWhite = 0xffffff;
constexpr std::uint32_t kCleared = 0x000000;  // transparent on a window without alpha

// Draws server-side frames into a plain window of its own and reads the window back.
class SurfaceCompositorTest : public X11DesktopTest {
  protected:
    void TearDown() override {
        for (const xcb_window_t window : windows_) {
            xcb_destroy_window(x(), window);
        }
        connection_->flush();
        X11DesktopTest::TearDown();
    }

    xcb_connection_t* x() const { return connection_->get(); }

    // An unmanaged white window at the root's far corner, away from other tests' windows.
    xcb_window_t makeWindow(std::uint16_t width, std::uint16_t height) {
        const xcb_window_t window = xcb_generate_id(x());
        const std::uint32_t values[] = {0xffffff, 1};
        xcb_create_window(x(), XCB_COPY_FROM_PARENT, window, connection_->root(), 1000, 600, width,
                          height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(x(), window);
        windows_.push_back(window);
        return window;
    }

    std::shared_ptr<const NamedPixmap> makePixmap(std::uint16_t width, std::uint16_t height,
                                                  std::uint32_t left, std::uint32_t right) {
        return tovalo::testing::makeSplitPixmap(connection_, width, height, left, right);
    }

    std::uint32_t pixelAt(xcb_window_t window, int px, int py) {
        return tovalo::testing::pixelAt(*connection_, window, px, py);
    }

    bool pixmapExists(xcb_pixmap_t pixmap) {
        xcb_generic_error_t* error = nullptr;
        Reply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(x(), xcb_get_geometry(x(), pixmap), &error));
        std::free(error);
        return geometry != nullptr;
    }

    std::vector<xcb_window_t> windows_;
};

struct Sample {
    int x;
    int y;
    std::uint32_t colour;
};

struct DrawCase {
    const char* name;
    std::uint16_t sourceWidth, sourceHeight;
    std::uint16_t windowWidth, windowHeight;
    SurfaceCompositor::Area target;
    double opacity;
    std::vector<Sample> samples;
};

TEST_F(SurfaceCompositorTest, DrawsTheSourceScaledIntoItsTargetAndClearsTheRest) {
    const std::vector<DrawCase> cases = {
        {"enlarged with sharp pixels, cleared above and below",
         80,
         40,
         200,
         200,
         {0, 50, 200, 100},
         1.0,
         {{99, 100, kRed},
          {100, 100, kBlue},
          {5, 55, kRed},
          {195, 145, kBlue},
          {100, 20, kCleared},
          {100, 180, kCleared}}},
        {"shrunk, cleared left and right",
         400,
         200,
         200,
         100,
         {50, 25, 100, 50},
         1.0,
         {{60, 50, kRed},
          {140, 50, kBlue},
          {20, 50, kCleared},
          {180, 50, kCleared},
          {100, 10, kCleared}}},
        {"one to one",
         120,
         60,
         120,
         60,
         {0, 0, 120, 60},
         1.0,
         {{0, 0, kRed}, {59, 59, kRed}, {60, 0, kBlue}, {119, 59, kBlue}}},
        {"half opacity scales the colour",
         100,
         100,
         100,
         100,
         {0, 0, 100, 100},
         0.5,
         {{25, 50, 0x800000}, {75, 50, 0x000080}}},
        {"no opacity only clears",
         100,
         100,
         100,
         100,
         {0, 0, 100, 100},
         0.0,
         {{25, 50, kCleared}, {75, 50, kCleared}}},
        {"empty target only clears",
         100,
         100,
         100,
         100,
         {0, 0, 0, 0},
         1.0,
         {{25, 50, kCleared}, {75, 50, kCleared}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const xcb_window_t window = makeWindow(c.windowWidth, c.windowHeight);
        SurfaceCompositor compositor(x(), window);
        ASSERT_TRUE(compositor.isUsable());
        EXPECT_EQ(pixelAt(window, 1, 1), kWhite);
        const SurfaceFrame frame(makePixmap(c.sourceWidth, c.sourceHeight, kRed, kBlue), {});
        compositor.draw(frame, c.target, {0, 0, c.windowWidth, c.windowHeight}, c.opacity);
        for (const auto& sample : c.samples) {
            const std::uint32_t seen = pixelAt(window, sample.x, sample.y);
            // Half opacity may round either way.
            for (int shift : {0, 8, 16}) {
                EXPECT_NEAR((seen >> shift) & 0xff, (sample.colour >> shift) & 0xff, 1)
                    << "at " << sample.x << "," << sample.y << std::hex << " saw " << seen;
            }
        }
    }
}

TEST_F(SurfaceCompositorTest, FollowsANewPictureAndLetsTheOldOneGo) {
    const xcb_window_t window = makeWindow(100, 100);
    auto compositor = std::make_unique<SurfaceCompositor>(x(), window);
    const SurfaceCompositor::Area whole{0, 0, 100, 100};

    auto first = makePixmap(50, 50, kRed, kRed);
    const xcb_pixmap_t firstID = first->id();
    auto frame = std::make_unique<SurfaceFrame>(std::move(first), TimePoint{});
    ASSERT_TRUE(compositor->draw(*frame, whole, whole, 1.0));
    EXPECT_EQ(pixelAt(window, 50, 50), kRed);

    // The window was resized: its next frame is another pixmap, of another size.
    frame = std::make_unique<SurfaceFrame>(makePixmap(80, 80, kGreen, kGreen), TimePoint{});
    ASSERT_TRUE(compositor->draw(*frame, whole, whole, 1.0));
    EXPECT_EQ(pixelAt(window, 50, 50), kGreen);
    // Nobody holds the first picture any more: it is freed on the server.
    EXPECT_FALSE(pixmapExists(firstID));

    const xcb_pixmap_t secondID = frame->pixmap()->id();
    frame.reset();
    EXPECT_TRUE(pixmapExists(secondID)) << "still held by the compositor that draws it";
    compositor.reset();
    EXPECT_FALSE(pixmapExists(secondID));
}

TEST_F(SurfaceCompositorTest, AWindowThatDoesNotExistIsNotUsable) {
    SurfaceCompositor compositor(x(), 0x7ffffff0);
    EXPECT_FALSE(compositor.isUsable());
    const SurfaceFrame frame(makePixmap(10, 10, kRed, kRed), {});
    EXPECT_FALSE(compositor.draw(frame, {0, 0, 10, 10}, {0, 0, 10, 10}, 1.0));
}

}  // namespace
}  // namespace tovalo::x11
