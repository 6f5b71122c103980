#include "platform/qt/qt_video_layer.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/qt/qt_surface_view.h"
#include "platform/qt/qt_video_view.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_surface_frame.h"
#include "qt_test_desktop.h"
#include "support/x11/x_pixels.h"

namespace tovalo::qt {
namespace {

// A BGRX frame: left half red, right half blue, rows padded past the width.
class TestFrame final : public VideoFrame {
  public:
    TestFrame(std::uint32_t width, std::uint32_t height, bool valid = true)
        : width_(width),
          height_(height),
          stride_(width * 4 + 16),
          valid_(valid),
          pixels_(stride_ * height, 0x77) {
        for (std::uint32_t y = 0; y < height; ++y) {
            for (std::uint32_t x = 0; x < width; ++x) {
                std::uint8_t* p = &pixels_[y * stride_ + x * 4];
                const bool left = x < width / 2;
                p[0] = left ? 0x00 : 0xff;  // B
                p[1] = 0x00;                // G
                p[2] = left ? 0xff : 0x00;  // R
                p[3] = 0x00;                // X: unused, must read as opaque
            }
        }
    }
    std::uint32_t width() const override { return width_; }
    std::uint32_t height() const override { return height_; }
    std::size_t bytesPerRow() const override { return stride_; }
    const std::uint8_t* data() const override { return pixels_.data(); }
    TimePoint timestamp() const override { return {}; }
    bool isValid() const override { return valid_; }

  private:
    std::uint32_t width_;
    std::uint32_t height_;
    std::size_t stride_;
    bool valid_;
    std::vector<std::uint8_t> pixels_;
};

// A view over a green backdrop, so the clear background shows green around the picture.
class QtVideoLayerTest : public ::testing::Test {
  protected:
    QtVideoLayerTest() {
        backdrop_.resize(200, 100);
        backdrop_.setAutoFillBackground(true);
        QPalette palette;
        palette.setColor(QPalette::Window, Qt::green);
        backdrop_.setPalette(palette);
        view_ = new QtVideoView(&backdrop_);
        view_->setGeometry(0, 0, 200, 100);
        view_->setLayer(layer_);
    }
    QRgb pixel(int x, int y) { return backdrop_.grab().toImage().pixel(x, y) & 0xffffff; }

    QWidget backdrop_;
    QtVideoView* view_ = nullptr;
    std::shared_ptr<QtVideoLayer> layer_ = std::make_shared<QtVideoLayer>();
};

TEST_F(QtVideoLayerTest, DrawsTheFramesPixelsScaledWithItsAspectCentredOverAClearBackground) {
    // 40×40 into 200×100: a 100×100 square from x = 50 to 150.
    layer_->enqueue(std::make_shared<TestFrame>(40, 40));
    const QImage image = backdrop_.grab().toImage();
    const auto at = [&](int x, int y) { return image.pixel(x, y) & 0xffffff; };
    EXPECT_EQ(at(60, 50), 0xff0000u);   // left half red
    EXPECT_EQ(at(140, 50), 0x0000ffu);  // right half blue
    EXPECT_EQ(at(60, 2), 0xff0000u);    // full height
    EXPECT_EQ(at(60, 97), 0xff0000u);
    EXPECT_EQ(at(40, 50), 0x00ff00u);  // beside the picture: the backdrop
    EXPECT_EQ(at(160, 50), 0x00ff00u);
    EXPECT_EQ(layer_->imageRect(QRectF(0, 0, 200, 100)), QRectF(50, 0, 100, 100));
}

TEST_F(QtVideoLayerTest, ShowsOnlyTheLatestFrameAndNothingOnceFlushed) {
    layer_->enqueue(std::make_shared<TestFrame>(40, 40));
    auto wide = std::make_shared<TestFrame>(80, 20);  // 200×50, from y = 25 to 75
    layer_->enqueue(wide);
    EXPECT_EQ(layer_->shownFrame(), wide);
    EXPECT_EQ(pixel(60, 10), 0x00ff00u);
    EXPECT_EQ(pixel(20, 50), 0xff0000u);

    std::weak_ptr<const VideoFrame> weak = wide;
    wide.reset();
    EXPECT_FALSE(weak.expired()) << "the shown frame must stay referenced while drawn";
    layer_->flushAndRemoveImage();
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(layer_->hasImage());
    EXPECT_EQ(pixel(20, 50), 0x00ff00u);
}

TEST_F(QtVideoLayerTest, IgnoresFramesWithoutACompletePicture) {
    auto good = std::make_shared<TestFrame>(40, 40);
    layer_->enqueue(good);
    layer_->enqueue(std::make_shared<TestFrame>(40, 40, false));
    layer_->enqueue(std::make_shared<TestFrame>(0, 40));
    layer_->enqueue(nullptr);
    EXPECT_EQ(layer_->shownFrame(), good);
    EXPECT_EQ(pixel(60, 50), 0xff0000u);
}

TEST_F(QtVideoLayerTest, TellsItsViewersOfEveryChangeUntilTheyStopWatching) {
    int changes = 0;
    auto watching = layer_->observeChanges([&] { ++changes; });
    layer_->enqueue(std::make_shared<TestFrame>(4, 4));
    layer_->flushAndRemoveImage();
    layer_->flushAndRemoveImage();  // nothing shown: no change
    watching.reset();
    layer_->enqueue(std::make_shared<TestFrame>(4, 4));
    EXPECT_EQ(changes, 2);
}

// On X11 a frame that stays on the server is composited there by the view's native child, and a
// frame of pixels is painted by Qt; the screen shows whichever came last.
class QtServerSideVideoTest : public ::testing::Test {
  protected:
    static constexpr int kLeft = 900;
    static constexpr int kTop = 500;

    void SetUp() override {
        auto* session = testing::QtTestDesktop::session();
        if (!session || !QtSurfaceView::x11Connection()) {
            GTEST_SKIP() << "needs Qt on an X server";
        }
        Error error;
        connection_ = x11::Connection::open(session->displayName(), &error);
        ASSERT_TRUE(connection_) << error.description;
        window_.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        window_.setGeometry(kLeft, kTop, 200, 100);
        view_ = new QtVideoView(&window_);
        view_->setGeometry(0, 0, 200, 100);
        view_->setLayer(layer_);
        window_.show();
        ASSERT_TRUE(testing::QtTestDesktop::pumpUntil(
            [&] { return window_.windowHandle() && window_.windowHandle()->isExposed(); }));
    }

    // A 40×40 picture on the server: left half `left`, right half blue.
    VideoFrameRef serverFrame(std::uint32_t left) {
        return std::make_shared<const x11::SurfaceFrame>(
            tovalo::testing::makeSplitPixmap(connection_, 40, 40, left, 0x0000ff), TimePoint{});
    }

    // 0xRRGGBB on screen at a point of the view.
    std::uint32_t onScreen(int x, int y) {
        return tovalo::testing::pixelAt(*connection_, connection_->root(), kLeft + x, kTop + y);
    }

    bool waitForScreen(std::vector<std::pair<QPoint, std::uint32_t>> expected) {
        return testing::QtTestDesktop::pumpUntil([&] {
            return std::all_of(expected.begin(), expected.end(), [&](const auto& sample) {
                return onScreen(sample.first.x(), sample.first.y()) == sample.second;
            });
        });
    }

    std::shared_ptr<x11::Connection> connection_;
    QWidget window_;
    QtVideoView* view_ = nullptr;
    std::shared_ptr<QtVideoLayer> layer_ = std::make_shared<QtVideoLayer>();
};

TEST_F(QtServerSideVideoTest, ServerFramesAreCompositedThereAndPixelFramesPaintedByQt) {
    // 40×40 into 200×100: a 100×100 square from x = 50 to 150, black (cleared) beside it.
    layer_->enqueue(serverFrame(0xff0000));
    EXPECT_TRUE(view_->drawsOnServer());
    EXPECT_TRUE(waitForScreen({{{60, 50}, 0xff0000}, {{140, 50}, 0x0000ff}, {{20, 50}, 0}}));

    // The next picture, and the opacity, reach the screen without Qt painting anything.
    layer_->enqueue(serverFrame(0x00ff00));
    EXPECT_TRUE(waitForScreen({{{60, 50}, 0x00ff00}}));
    view_->setOpacity(0.5);
    EXPECT_TRUE(testing::QtTestDesktop::pumpUntil([&] {
        const std::uint32_t green = (onScreen(60, 50) >> 8) & 0xff;
        return green >= 0x7f && green <= 0x80;
    }));
    view_->setOpacity(1.0);

    // A frame of pixels: Qt paints it (80×20 into 200×100: from y = 25 to 75).
    layer_->enqueue(std::make_shared<TestFrame>(80, 20));
    EXPECT_FALSE(view_->drawsOnServer());
    EXPECT_TRUE(waitForScreen({{{20, 50}, 0xff0000}, {{180, 50}, 0x0000ff}}));

    // And back.
    layer_->enqueue(serverFrame(0xff0000));
    EXPECT_TRUE(view_->drawsOnServer());
    EXPECT_TRUE(waitForScreen({{{60, 50}, 0xff0000}, {{20, 50}, 0}}));
}

TEST(QtVideoLayerFactoryTest, MakesANewEmptyLayerEachTime) {
    QtVideoLayerFactory factory;
    auto a = factory.makeVideoLayer();
    auto b = factory.makeVideoLayer();
    ASSERT_NE(a, b);
    EXPECT_FALSE(std::dynamic_pointer_cast<QtVideoLayer>(a)->hasImage());
}

}  // namespace
}  // namespace tovalo::qt
