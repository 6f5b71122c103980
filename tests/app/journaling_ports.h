#pragma once

// Ports that forward to the simulated ones and write the calls the start-up makes into a shared
// CallJournal, so the order of those calls can be checked against the shell's own calls. Reads
// that happen all the time (preference reads, the analytics identity) are not written.

#include <memory>
#include <string>

#include "app/call_journal.h"
#include "base/preferences_store.h"
#include "platform/analytics_client.h"
#include "platform/bundle_info.h"
#include "platform/error_reporting_client.h"
#include "platform/hardware_identity.h"
#include "platform/operating_system_info.h"
#include "platform/uncaught_exception_hooks.h"

namespace tovalo {

class JournalingPreferencesStore final : public PreferencesStore {
  public:
    JournalingPreferencesStore(std::shared_ptr<PreferencesStore> inner,
                               std::shared_ptr<CallJournal> journal)
        : inner_(std::move(inner)), journal_(std::move(journal)) {}

    std::optional<Value> object(std::string_view key) const override { return inner_->object(key); }
    void set(std::string_view key, Value value) override {
        journal_->record("prefs.set " + std::string(key));
        inner_->set(key, std::move(value));
    }
    void remove(std::string_view key) override {
        journal_->record("prefs.remove " + std::string(key));
        inner_->remove(key);
    }
    bool synchronize() override { return inner_->synchronize(); }

  private:
    std::shared_ptr<PreferencesStore> inner_;
    std::shared_ptr<CallJournal> journal_;
};

class JournalingOperatingSystemInfo final : public OperatingSystemInfo {
  public:
    JournalingOperatingSystemInfo(std::shared_ptr<OperatingSystemInfo> inner,
                                  std::shared_ptr<CallJournal> journal)
        : inner_(std::move(inner)), journal_(std::move(journal)) {}

    OperatingSystemVersion version() const override {
        journal_->record("os.version");
        return inner_->version();
    }

  private:
    std::shared_ptr<OperatingSystemInfo> inner_;
    std::shared_ptr<CallJournal> journal_;
};

class JournalingBundleInfo final : public BundleInfo {
  public:
    JournalingBundleInfo(std::shared_ptr<BundleInfo> inner, std::shared_ptr<CallJournal> journal)
        : inner_(std::move(inner)), journal_(std::move(journal)) {}

    std::optional<Value> infoValue(std::string_view key) const override {
        journal_->record("bundle " + std::string(key));
        return inner_->infoValue(key);
    }

  private:
    std::shared_ptr<BundleInfo> inner_;
    std::shared_ptr<CallJournal> journal_;
};

class JournalingHardwareIdentity final : public HardwareIdentity {
  public:
    JournalingHardwareIdentity(std::shared_ptr<HardwareIdentity> inner,
                               std::shared_ptr<CallJournal> journal)
        : inner_(std::move(inner)), journal_(std::move(journal)) {}

    std::optional<std::string> platformUuid() const override {
        journal_->record("hardware.platformUuid");
        return inner_->platformUuid();
    }

  private:
    std::shared_ptr<HardwareIdentity> inner_;
    std::shared_ptr<CallJournal> journal_;
};

class JournalingErrorReportingClient final : public ErrorReportingClient {
  public:
    JournalingErrorReportingClient(std::shared_ptr<ErrorReportingClient> inner,
                                   std::shared_ptr<CallJournal> journal)
        : inner_(std::move(inner)), journal_(std::move(journal)) {}

    void start(const ErrorReportingOptions& options) override {
        journal_->record("errorReporting.start");
        inner_->start(options);
    }
    void setUser(const ReportUser& user) override {
        journal_->record("errorReporting.setUser");
        inner_->setUser(user);
    }
    void captureError(const Error& error, const ScopeConfiguration& configure) override {
        journal_->record("errorReporting.captureError");
        inner_->captureError(error, configure);
    }
    void captureMessage(const std::string& message, const ScopeConfiguration& configure) override {
        journal_->record("errorReporting.captureMessage " + message);
        inner_->captureMessage(message, configure);
    }

  private:
    std::shared_ptr<ErrorReportingClient> inner_;
    std::shared_ptr<CallJournal> journal_;
};

class JournalingAnalyticsClient final : public AnalyticsClient {
  public:
    JournalingAnalyticsClient(std::shared_ptr<AnalyticsClient> inner,
                              std::shared_ptr<CallJournal> journal)
        : inner_(std::move(inner)), journal_(std::move(journal)) {}

    void initialize(const AnalyticsClientOptions& options) override {
        journal_->record("analytics.initialize");
        inner_->initialize(options);
    }
    void setLoggingEnabled(bool enabled) override {
        journal_->record(enabled ? "analytics.logging on" : "analytics.logging off");
        inner_->setLoggingEnabled(enabled);
    }
    void track(const std::string& event, const ValueMap& properties) override {
        journal_->record("analytics.track " + event);
        inner_->track(event, properties);
    }
    void time(const std::string& event) override { inner_->time(event); }
    std::string distinctId() const override { return inner_->distinctId(); }
    void createAlias(const std::string& alias, const std::string& distinctId) override {
        inner_->createAlias(alias, distinctId);
    }
    void identify(const std::string& distinctId) override {
        journal_->record("analytics.identify");
        inner_->identify(distinctId);
    }
    void registerSuperProperties(const ValueMap& properties) override {
        inner_->registerSuperProperties(properties);
    }
    void setPeopleProperties(const ValueMap& properties) override {
        inner_->setPeopleProperties(properties);
    }

  private:
    std::shared_ptr<AnalyticsClient> inner_;
    std::shared_ptr<CallJournal> journal_;
};

class JournalingExceptionHooks final : public UncaughtExceptionHooks {
  public:
    JournalingExceptionHooks(std::shared_ptr<UncaughtExceptionHooks> inner,
                             std::shared_ptr<CallJournal> journal)
        : inner_(std::move(inner)), journal_(std::move(journal)) {}

    UncaughtExceptionHandler currentHandler() const override { return inner_->currentHandler(); }
    void setHandler(UncaughtExceptionHandler handler) override {
        journal_->record("exceptionHooks.setHandler");
        inner_->setHandler(std::move(handler));
    }

  private:
    std::shared_ptr<UncaughtExceptionHooks> inner_;
    std::shared_ptr<CallJournal> journal_;
};

}  // namespace tovalo
