#include "platform/qt/qt_main_thread_executor.h"

#include <QCoreApplication>
#include <QEvent>
#include <utility>

namespace tovalo::qt {

namespace {

const QEvent::Type kJobEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class JobEvent final : public QEvent {
  public:
    explicit JobEvent(std::function<void()> job) : QEvent(kJobEventType), job_(std::move(job)) {}
    void run() {
        if (job_) {
            std::exchange(job_, nullptr)();
        }
    }

  private:
    std::function<void()> job_;
};

}  // namespace

// Lives on the GUI thread; Qt delivers the posted job events to it there.
class QtMainThreadExecutor::Receiver final : public QObject {
  public:
    bool event(QEvent* event) override {
        if (event->type() == kJobEventType) {
            static_cast<JobEvent*>(event)->run();
            return true;
        }
        return QObject::event(event);
    }
};

QtMainThreadExecutor::QtMainThreadExecutor()
    : threadId_(std::this_thread::get_id()), receiver_(std::make_unique<Receiver>()) {}

// Qt removes the events still posted to the receiver when it is deleted.
QtMainThreadExecutor::~QtMainThreadExecutor() = default;

void QtMainThreadExecutor::post(std::function<void()> job) {
    // postEvent is thread-safe and takes ownership of the event.
    QCoreApplication::postEvent(receiver_.get(), new JobEvent(std::move(job)));
}

}  // namespace tovalo::qt
