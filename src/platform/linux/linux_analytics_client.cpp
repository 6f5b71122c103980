#include "platform/linux/linux_analytics_client.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "base/debug_log.h"
#include "base/dispatch_group.h"
#include "base/repeating_timer.h"
#include "base/uuid.h"
#include "platform/linux/analytics_event_queue.h"
#include "platform/linux/analytics_identity_store.h"
#include "platform/linux/analytics_json.h"
#include "platform/linux/analytics_property_sanitizer.h"
#include "platform/linux/analytics_uploader.h"

// Log lines only while the client's logging is on; the arguments are not evaluated otherwise.
#define ANALYTICS_LOG(core, message, ...)                                       \
    do {                                                                        \
        if ((core).loggingEnabled()) {                                          \
            TOVALO_DEBUG_LOG("Analytics", (message)__VA_OPT__(, ) __VA_ARGS__); \
        }                                                                       \
    } while (false)

namespace tovalo {

namespace {

constexpr Duration kDefaultFlushInterval = seconds(60);
// time() for names that are never tracked must not grow without end.
constexpr std::size_t kMaxTimedEvents = 256;

std::int64_t epochMilliseconds(WallTime time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

// Whole milliseconds: finer digits are clock noise and only lengthen the JSON.
double roundedSeconds(Duration d) {
    return std::round(toSeconds(d) * 1000.0) / 1000.0;
}

ValueMap overlaid(ValueMap base, const ValueMap& overlay) {
    for (const auto& [key, value] : overlay) {
        base.insert_or_assign(key, value);
    }
    return base;
}

const char* endpointName(AnalyticsUploader::Endpoint endpoint) {
    return endpoint == AnalyticsUploader::Endpoint::events ? "track" : "engage";
}

}  // namespace

// Everything the queued work shares. Members under "state queue" are touched only by tasks of
// `stateQueue_`; the rest are safe from any thread.
class LinuxAnalyticsClient::Core : public std::enable_shared_from_this<Core> {
  public:
    Core(const std::shared_ptr<DispatchRuntime>& runtime, HttpClient& http, Settings settings)
        : settings_(normalized(std::move(settings))),
          clock_(runtime->clock()),
          stateQueue_(runtime->makeSerialQueue("tovalo.analytics")),
          uploadQueue_(runtime->makeSerialQueue("tovalo.analytics.upload")),
          loaded_(runtime->sharedExecutor()),
          uploader_(http),
          identity_(filePath("identity.json")),
          events_(std::make_unique<AnalyticsEventQueue>(filePath("events.journal"),
                                                        settings_.maxQueuedEvents)),
          profileUpdates_(std::make_unique<AnalyticsEventQueue>(
              filePath("profile_updates.journal"), settings_.maxQueuedProfileUpdates)) {
        loaded_.enter();
    }

    // ---- Any thread

    bool loggingEnabled() const { return logging_.load(std::memory_order_relaxed); }
    void setLoggingEnabled(bool enabled) { logging_.store(enabled, std::memory_order_relaxed); }
    const AnalyticsPropertySanitizer& sanitizer() const { return sanitizer_; }
    const std::shared_ptr<DispatchQueue>& stateQueue() const { return stateQueue_; }
    AnalyticsUploader& uploader() { return uploader_; }

    // Runs `work` on the state queue unless the client has closed by then.
    void post(std::function<void(Core&)> work) {
        stateQueue_->async([self = shared_from_this(), work = std::move(work)] {
            if (!self->closed_) {
                work(*self);
            }
        });
    }

    std::string distinctId() {
        {
            std::lock_guard lock(mirrorMutex_);
            if (mirrorReady_) {
                return mirror_;
            }
        }
        // Only at start-up, before the identity file was read.
        loaded_.wait();
        std::lock_guard lock(mirrorMutex_);
        return mirror_;
    }

    // The caller's identify() or createAlias() is later than anything in the file.
    void callerIdentified(const std::string& id) {
        std::lock_guard lock(mirrorMutex_);
        mirror_ = id;
        mirrorReady_ = true;
        identifiedByCaller_ = true;
    }

    void stopTimer() {
        std::lock_guard lock(timerMutex_);
        timerStopped_ = true;
        if (timer_) {
            timer_->cancel();
        }
    }

    // ---- State queue

    void load() {
        identity_.load(settings_.deviceSeed);
        // The file may come from an older or damaged run: hold it to today's bounds.
        identity_.setSuperProperties(sanitizer_.sanitizeProperties(identity_.superProperties()));
        identity_.setHeldPeopleProperties(
            sanitizer_.sanitizeProperties(identity_.heldPeopleProperties()));
        events_->load();
        profileUpdates_->load();
        ANALYTICS_LOG(*this, "loaded",
                      {{"events", events_->size()},
                       {"profile_updates", profileUpdates_->size()},
                       {"persistent", events_->isPersistent() && identity_.isPersistent()}});
        {
            std::lock_guard lock(mirrorMutex_);
            if (!identifiedByCaller_) {
                mirror_ = identity_.distinctId();
            }
            mirrorReady_ = true;
        }
        loaded_.leave();
    }

    void initialize(const AnalyticsClientOptions& options) {
        if (initialized_) {
            ANALYTICS_LOG(*this, "initialize called again, ignored");
            return;
        }
        token_ = options.token;
        serverUrl_ = options.serverUrl.value_or(settings_.defaultServerUrl);
        optedOut_ = options.optOutTrackingByDefault;
        if (!options.superProperties.empty()) {
            registerSuperProperties(options.superProperties);
        }
        initialized_ = true;
        const Duration interval = options.flushInterval > Duration::zero() ? options.flushInterval
                                                                           : kDefaultFlushInterval;
        ANALYTICS_LOG(*this, "initialized",
                      {{"server", serverUrl_},
                       {"flush_interval_s", toSeconds(interval)},
                       {"held", held_.size()}});
        std::deque<Pending> held;
        held.swap(held_);
        for (Pending& pending : held) {
            enqueue(std::move(pending));
        }
        startTimer(interval);
    }

    void recordEvent(const std::string& name, const ValueMap& properties, WallTime wall,
                     TimePoint at) {
        std::string event = sanitizer_.sanitizeName(name);
        if (event.empty()) {
            ANALYTICS_LOG(*this, "event without a name dropped");
            return;
        }
        ValueMap props =
            sanitizer_.sanitizeProperties(overlaid(identity_.superProperties(), properties));
        props.insert_or_assign("distinct_id", identity_.distinctId());
        props.insert_or_assign("time", epochMilliseconds(wall));
        props.insert_or_assign("$insert_id", Uuid::random().toString());
        if (auto it = timedEvents_.find(event); it != timedEvents_.end()) {
            props.insert_or_assign("$duration", roundedSeconds(at - it->second));
            timedEvents_.erase(it);
        }
        enqueue(Pending{Kind::event, std::move(event), std::move(props)});
    }

    void startTiming(const std::string& name, TimePoint at) {
        std::string event = sanitizer_.sanitizeName(name);
        if (event.empty()) {
            return;
        }
        if (timedEvents_.size() >= kMaxTimedEvents && !timedEvents_.contains(event)) {
            ANALYTICS_LOG(*this, "too many timed events, ignored", {{"event", event}});
            return;
        }
        timedEvents_.insert_or_assign(std::move(event), at);
    }

    void createAlias(const std::string& alias, const std::string& original, WallTime wall) {
        ValueMap props{{"alias", alias},
                       {"distinct_id", original},
                       {"time", epochMilliseconds(wall)},
                       {"$insert_id", Uuid::random().toString()}};
        enqueue(Pending{Kind::event, "$create_alias", std::move(props)});
        identify(alias, wall);
    }

    void identify(const std::string& id, WallTime wall) {
        if (id.empty() || identity_.identifiedId() == id) {
            return;
        }
        const bool wasAnonymous = !identity_.identifiedId();
        identity_.identify(id);
        ANALYTICS_LOG(*this, "identified", {{"distinct_id", id}});
        if (wasAnonymous && !identity_.heldPeopleProperties().empty()) {
            // Queued before the held set is cleared: a crash in between sends it twice,
            // which a "$set" tolerates, rather than never.
            enqueueProfileUpdate(identity_.heldPeopleProperties(), wall);
            identity_.setHeldPeopleProperties({});
        }
    }

    void registerSuperProperties(const ValueMap& properties) {
        identity_.setSuperProperties(
            sanitizer_.sanitizeProperties(overlaid(identity_.superProperties(), properties)));
    }

    void setPeopleProperties(const ValueMap& properties, WallTime wall) {
        ValueMap clean = sanitizer_.sanitizeProperties(properties);
        if (clean.empty()) {
            return;
        }
        if (!identity_.identifiedId()) {
            // A profile keyed by the anonymous id would be lost to the person it describes.
            identity_.setHeldPeopleProperties(
                sanitizer_.sanitizeProperties(overlaid(identity_.heldPeopleProperties(), clean)));
            ANALYTICS_LOG(*this, "profile properties held until identify");
            return;
        }
        enqueueProfileUpdate(clean, wall);
    }

    // Uploads batch after batch until the queues are empty or an upload fails; `done` learns
    // whether everything went out. `force` overrides a back-off in progress.
    void requestDrain(bool force, std::function<void(bool)> done) {
        if (done) {
            drainWaiters_.push_back(std::move(done));
        }
        if (draining_) {
            return;  // the drain under way answers the waiters
        }
        if (!initialized_ || (backingOff_ && !force)) {
            notifyDrainWaiters(events_->empty() && profileUpdates_->empty());
            return;
        }
        if (backingOff_) {
            retry_.cancel();
            backingOff_ = false;
        }
        draining_ = true;
        sendNextBatch();
    }

    void beginShutdown(TimePoint deadline, std::function<void(bool)> done) {
        shuttingDown_ = true;
        shutdownDeadline_ = deadline;
        events_->sync();
        profileUpdates_->sync();
        requestDrain(true, std::move(done));
    }

    void close() {
        closed_ = true;
        retry_.cancel();
        events_->sync();
        profileUpdates_->sync();
        // Release the journals now: a new client may open the same directory at once.
        events_.reset();
        profileUpdates_.reset();
        draining_ = false;
        notifyDrainWaiters(false);
    }

  private:
    enum class Kind { event, profileUpdate };

    // A record without the token, which only initialize() brings.
    struct Pending {
        Kind kind;
        std::string event;  // events only
        ValueMap fields;    // the event's properties, or the whole profile update
    };

    static Settings normalized(Settings settings) {
        settings.batchSize = std::max<std::size_t>(settings.batchSize, 1);
        settings.maxQueuedEvents = std::max<std::size_t>(settings.maxQueuedEvents, 1);
        settings.maxQueuedProfileUpdates =
            std::max<std::size_t>(settings.maxQueuedProfileUpdates, 1);
        settings.maxRetryDelay = std::max(settings.maxRetryDelay, settings.initialRetryDelay);
        return settings;
    }

    std::string filePath(const char* name) const {
        if (settings_.stateDirectory.empty()) {
            return {};  // memory only
        }
        return settings_.stateDirectory + "/" + name;
    }

    AnalyticsEventQueue& queueFor(Kind kind) {
        return kind == Kind::event ? *events_ : *profileUpdates_;
    }

    void enqueueProfileUpdate(const ValueMap& set, WallTime wall) {
        ValueMap fields{{"$distinct_id", identity_.distinctId()},
                        {"$time", epochMilliseconds(wall)},
                        {"$set", set}};
        enqueue(Pending{Kind::profileUpdate, {}, std::move(fields)});
    }

    void enqueue(Pending pending) {
        if (optedOut_) {
            return;
        }
        if (!initialized_) {
            if (held_.size() >= settings_.maxQueuedEvents) {
                held_.pop_front();
                ANALYTICS_LOG(*this, "too many calls before initialize, dropped the oldest");
            }
            held_.push_back(std::move(pending));
            return;
        }
        ValueMap record;
        if (pending.kind == Kind::event) {
            pending.fields.insert_or_assign("token", token_);
            record.emplace("event", std::move(pending.event));
            record.emplace("properties", std::move(pending.fields));
        } else {
            record = std::move(pending.fields);
            record.insert_or_assign("$token", token_);
        }
        AnalyticsEventQueue& queue = queueFor(pending.kind);
        const auto droppedBefore = queue.droppedCount();
        const bool wasPersistent = queue.isPersistent();
        queue.append(AnalyticsJson::serialize(Value(std::move(record))));
        if (queue.droppedCount() != droppedBefore) {
            ANALYTICS_LOG(*this, "queue full, dropped the oldest", {{"path", queue.path()}});
        }
        if (wasPersistent != queue.isPersistent()) {
            ANALYTICS_LOG(*this,
                          queue.isPersistent() ? "journal writable again"
                                               : "journal not writable, keeping records in memory",
                          {{"path", queue.path()}});
        }
        scheduleSync();
        if (!shuttingDown_ && !backingOff_ && queue.size() >= settings_.batchSize) {
            requestDrain(false, {});
        }
    }

    // One disk flush for a burst of appends rather than one per record.
    void scheduleSync() {
        if (syncScheduled_) {
            return;
        }
        syncScheduled_ = true;
        post([](Core& core) {
            core.syncScheduled_ = false;
            core.events_->sync();
            core.profileUpdates_->sync();
        });
    }

    void startTimer(Duration interval) {
        std::weak_ptr<Core> weak = weak_from_this();
        std::lock_guard lock(timerMutex_);
        if (timerStopped_) {
            return;
        }
        timer_ = std::make_unique<RepeatingTimer>(stateQueue_, interval, interval / 10, [weak] {
            auto self = weak.lock();
            if (self && !self->closed_ && !self->shuttingDown_) {
                self->requestDrain(false, {});
            }
        });
    }

    void sendNextBatch() {
        Kind kind = Kind::event;
        if (events_->empty()) {
            if (profileUpdates_->empty()) {
                draining_ = false;
                notifyDrainWaiters(true);
                return;
            }
            kind = Kind::profileUpdate;
        }
        const auto endpoint = kind == Kind::event ? AnalyticsUploader::Endpoint::events
                                                  : AnalyticsUploader::Endpoint::profileUpdates;
        std::vector<AnalyticsEventQueue::Record> batch = queueFor(kind).peek(settings_.batchSize);
        const std::uint64_t last = batch.back().sequence;
        std::vector<std::string> records;
        records.reserve(batch.size());
        for (auto& record : batch) {
            records.push_back(std::move(record.json));
        }
        Duration timeout = settings_.requestTimeout;
        if (shutdownDeadline_) {
            // The exit path must not wait on a request longer than it was granted.
            timeout = std::min(std::max<Duration>(*shutdownDeadline_ - clock_.now(), seconds(1)),
                               timeout);
        }
        uploadQueue_->async([self = shared_from_this(), endpoint, records = std::move(records),
                             last, server = serverUrl_, timeout] {
            const auto result = self->uploader_.upload(server, endpoint, records, timeout);
            const std::size_t count = records.size();
            self->post([endpoint, last, count, result](Core& core) {
                core.finishBatch(endpoint, last, count, result);
            });
        });
    }

    void finishBatch(AnalyticsUploader::Endpoint endpoint, std::uint64_t last, std::size_t count,
                     const AnalyticsUploader::Result& result) {
        AnalyticsEventQueue& queue =
            endpoint == AnalyticsUploader::Endpoint::events ? *events_ : *profileUpdates_;
        switch (result.outcome) {
            case AnalyticsUploader::Outcome::delivered:
                queue.removeThrough(last);
                consecutiveFailures_ = 0;
                ANALYTICS_LOG(*this, "uploaded",
                              {{"endpoint", endpointName(endpoint)}, {"count", count}});
                sendNextBatch();
                return;
            case AnalyticsUploader::Outcome::refused:
                queue.removeThrough(last);
                ANALYTICS_LOG(*this, "batch refused, dropped",
                              {{"endpoint", endpointName(endpoint)},
                               {"count", count},
                               {"status", result.status}});
                sendNextBatch();
                return;
            case AnalyticsUploader::Outcome::retryLater:
                ++consecutiveFailures_;
                ANALYTICS_LOG(*this, "upload failed, kept for later",
                              {{"endpoint", endpointName(endpoint)},
                               {"count", count},
                               {"status", result.status},
                               {"error", result.error}});
                if (!shuttingDown_) {
                    scheduleRetry();
                }
                draining_ = false;
                notifyDrainWaiters(false);
                return;
        }
    }

    void scheduleRetry() {
        backingOff_ = true;
        const Duration delay = AnalyticsUploader::retryDelay(
            consecutiveFailures_, settings_.initialRetryDelay, settings_.maxRetryDelay);
        std::weak_ptr<Core> weak = weak_from_this();
        retry_ = stateQueue_->asyncAfter(delay, [weak] {
            auto self = weak.lock();
            if (self && !self->closed_) {
                self->backingOff_ = false;
                self->requestDrain(false, {});
            }
        });
    }

    void notifyDrainWaiters(bool delivered) {
        auto waiters = std::move(drainWaiters_);
        drainWaiters_.clear();
        for (auto& waiter : waiters) {
            waiter(delivered);
        }
    }

    Settings settings_;
    const Clock& clock_;
    const std::shared_ptr<DispatchQueue> stateQueue_;
    const std::shared_ptr<DispatchQueue> uploadQueue_;
    const AnalyticsPropertySanitizer sanitizer_;
    std::atomic<bool> logging_{false};
    DispatchGroup loaded_;  // left once the identity is read
    AnalyticsUploader uploader_;

    std::mutex mirrorMutex_;  // guards the three below
    std::string mirror_;      // distinctId() as callers see it
    bool mirrorReady_ = false;
    bool identifiedByCaller_ = false;

    std::mutex timerMutex_;  // guards the two below
    std::unique_ptr<RepeatingTimer> timer_;
    bool timerStopped_ = false;

    // ---- State queue
    AnalyticsIdentityStore identity_;
    std::unique_ptr<AnalyticsEventQueue> events_;
    std::unique_ptr<AnalyticsEventQueue> profileUpdates_;
    std::deque<Pending> held_;  // before initialize()
    std::map<std::string, TimePoint, std::less<>> timedEvents_;
    std::string token_;
    std::string serverUrl_;
    bool initialized_ = false;
    bool optedOut_ = false;
    bool closed_ = false;
    bool shuttingDown_ = false;
    std::optional<TimePoint> shutdownDeadline_;
    bool draining_ = false;
    bool backingOff_ = false;
    bool syncScheduled_ = false;
    int consecutiveFailures_ = 0;
    TaskHandle retry_;
    std::vector<std::function<void(bool)>> drainWaiters_;
};

LinuxAnalyticsClient::LinuxAnalyticsClient(std::shared_ptr<DispatchRuntime> runtime,
                                           HttpClient& http, Settings settings)
    : runtime_(std::move(runtime)),
      core_(std::make_shared<Core>(runtime_, http, std::move(settings))) {
    core_->post([](Core& core) { core.load(); });
}

LinuxAnalyticsClient::~LinuxAnalyticsClient() {
    core_->stopTimer();
    // From here on no request starts, so the owner may destroy the HTTP client after us.
    core_->uploader().close();
    core_->stateQueue()->sync([core = core_] { core->close(); });
}

void LinuxAnalyticsClient::initialize(const AnalyticsClientOptions& options) {
    core_->post([options](Core& core) { core.initialize(options); });
}

void LinuxAnalyticsClient::setLoggingEnabled(bool enabled) {
    core_->setLoggingEnabled(enabled);
}

void LinuxAnalyticsClient::track(const std::string& event, const ValueMap& properties) {
    const WallTime wall = runtime_->clock().wallNow();
    const TimePoint at = runtime_->now();
    core_->post([event, properties, wall, at](Core& core) {
        core.recordEvent(event, properties, wall, at);
    });
}

void LinuxAnalyticsClient::time(const std::string& event) {
    const TimePoint at = runtime_->now();
    core_->post([event, at](Core& core) { core.startTiming(event, at); });
}

std::string LinuxAnalyticsClient::distinctId() const {
    return core_->distinctId();
}

void LinuxAnalyticsClient::createAlias(const std::string& alias, const std::string& distinctId) {
    const auto& sanitizer = core_->sanitizer();
    std::string newId = sanitizer.sanitizeName(alias);
    std::string original = sanitizer.sanitizeName(distinctId);
    if (newId.empty() || original.empty() || newId == original) {
        ANALYTICS_LOG(*core_, "alias ignored: empty or equal to the id");
        return;
    }
    const WallTime wall = runtime_->clock().wallNow();
    core_->callerIdentified(newId);
    core_->post([newId, original, wall](Core& core) { core.createAlias(newId, original, wall); });
}

void LinuxAnalyticsClient::identify(const std::string& distinctId) {
    std::string id = core_->sanitizer().sanitizeName(distinctId);
    if (id.empty()) {
        return;
    }
    const WallTime wall = runtime_->clock().wallNow();
    core_->callerIdentified(id);
    core_->post([id, wall](Core& core) { core.identify(id, wall); });
}

void LinuxAnalyticsClient::registerSuperProperties(const ValueMap& properties) {
    core_->post([properties](Core& core) { core.registerSuperProperties(properties); });
}

void LinuxAnalyticsClient::setPeopleProperties(const ValueMap& properties) {
    const WallTime wall = runtime_->clock().wallNow();
    core_->post([properties, wall](Core& core) { core.setPeopleProperties(properties, wall); });
}

void LinuxAnalyticsClient::flush() {
    core_->post([](Core& core) { core.requestDrain(true, {}); });
}

bool LinuxAnalyticsClient::shutdown(Duration timeout) {
    core_->stopTimer();
    auto finished = std::make_shared<DispatchGroup>(runtime_->sharedExecutor());
    auto delivered = std::make_shared<std::atomic<bool>>(false);
    const TimePoint deadline = runtime_->now() + timeout;
    finished->enter();
    core_->post([finished, delivered, deadline](Core& core) {
        core.beginShutdown(deadline, [finished, delivered](bool ok) {
            delivered->store(ok);
            finished->leave();
        });
    });
    return finished->wait(timeout) && delivered->load();
}

}  // namespace tovalo
