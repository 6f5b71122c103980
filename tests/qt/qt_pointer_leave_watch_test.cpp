#include "platform/qt/qt_pointer_leave_watch.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QWidget>

#include "qt_test_desktop.h"

namespace tovalo::qt {
namespace {

using testing::QtTestDesktop;

// A panel that lets clicks through gets a leave from X although the pointer is still over it;
// only the pointer really leaving may end the hover.
TEST(QtPointerLeaveWatchTest, ALeaveWhileThePointerIsStillOverThePanelWaitsForTheRealOne) {
    if (!QtTestDesktop::session()) {
        GTEST_SKIP() << QtTestDesktop::skipReason();
    }
    QWidget panel(nullptr, Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    panel.setGeometry(100, 100, 200, 150);
    panel.show();
    ASSERT_TRUE(QtTestDesktop::pumpUntil([&] { return panel.isVisible(); }));
    int leaves = 0;
    QtPointerLeaveWatch watch(&panel, [&] { ++leaves; });

    QCursor::setPos(150, 150);
    ASSERT_TRUE(QtTestDesktop::pumpUntil([] { return QCursor::pos() == QPoint(150, 150); }));
    watch.leaveReported();
    EXPECT_EQ(leaves, 0);
    EXPECT_TRUE(watch.isWatching());

    QCursor::setPos(600, 600);
    EXPECT_TRUE(QtTestDesktop::pumpUntil([&] { return leaves == 1; }));
    EXPECT_FALSE(watch.isWatching());

    // A real leave is reported at once; an enter ends any watching.
    watch.leaveReported();
    EXPECT_EQ(leaves, 2);
    QCursor::setPos(150, 150);
    ASSERT_TRUE(QtTestDesktop::pumpUntil([] { return QCursor::pos() == QPoint(150, 150); }));
    watch.leaveReported();
    EXPECT_TRUE(watch.isWatching());
    watch.enterReported();
    EXPECT_FALSE(watch.isWatching());
    EXPECT_EQ(leaves, 2);
}

}  // namespace
}  // namespace tovalo::qt
