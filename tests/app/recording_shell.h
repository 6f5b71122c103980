#pragma once

// Recording stand-ins for the shell's parts that later subsystems build (status item, global
// shortcuts, main window, updater, pinning commands) and for the per-window stream controller.
// Each writes its calls into a shared CallJournal. Main thread only.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/call_journal.h"
#include "app/global_shortcuts.h"
#include "app/main_window_controller.h"
#include "app/pinning_commands.h"
#include "app/status_item_controller.h"
#include "app/update_controller.h"
#include "capture/window_stream_controller_factory.h"
#include "capture/window_stream_controlling.h"

namespace tovalo {

class RecordingStatusItemController final : public StatusItemController {
  public:
    explicit RecordingStatusItemController(std::shared_ptr<CallJournal> journal)
        : journal_(std::move(journal)) {}
    void configureStatusItem() override { journal_->record("statusItem.configure"); }
    void observeStatusBarIconToggle() override { journal_->record("statusItem.observeIconToggle"); }

  private:
    std::shared_ptr<CallJournal> journal_;
};

class RecordingGlobalShortcuts final : public GlobalShortcuts {
  public:
    explicit RecordingGlobalShortcuts(std::shared_ptr<CallJournal> journal)
        : journal_(std::move(journal)) {}

    void registerShortcut(const std::string& name, KeyUpHandler onKeyUp) override {
        journal_->record("shortcuts.register " + name);
        handlers_[name] = std::move(onKeyUp);
    }
    void observePreferenceChanges() override {
        journal_->record("shortcuts.observePreferenceChanges");
    }

    // Releases the recorded combination of `name`; false when nothing is registered under it.
    bool release(const std::string& name) const {
        const auto it = handlers_.find(name);
        if (it == handlers_.end()) {
            return false;
        }
        it->second();
        return true;
    }

  private:
    std::shared_ptr<CallJournal> journal_;
    std::map<std::string, KeyUpHandler> handlers_;
};

class RecordingMainWindowController final : public MainWindowController {
  public:
    explicit RecordingMainWindowController(std::shared_ptr<CallJournal> journal)
        : journal_(std::move(journal)) {}

    void showMainWindow() override {
        journal_->record("mainWindow.show");
        visible = true;
    }
    bool isMainWindowVisible() const override { return visible; }
    ObserverToken observeWindowsBecomingKey() override {
        journal_->record("mainWindow.observeWindowsBecomingKey");
        return ObserverToken(
            [journal = journal_] { journal->record("mainWindow.windowObserverRemoved"); });
    }
    void applyThemeToMainWindow() override { journal_->record("mainWindow.applyTheme"); }

    bool visible = false;

  private:
    std::shared_ptr<CallJournal> journal_;
};

class RecordingUpdateController final : public UpdateController {
  public:
    explicit RecordingUpdateController(std::shared_ptr<CallJournal> journal)
        : journal_(std::move(journal)) {}
    void configureUpdatePreferences() override { journal_->record("updates.configure"); }
    void checkForUpdatesAtLaunch() override { journal_->record("updates.checkAtLaunch"); }

  private:
    std::shared_ptr<CallJournal> journal_;
};

class RecordingPinningCommands final : public PinningCommands {
  public:
    explicit RecordingPinningCommands(std::shared_ptr<CallJournal> journal)
        : journal_(std::move(journal)) {}
    void startSelectionFromShortcut() override {
        journal_->record("commands.startSelectionFromShortcut");
    }
    void togglePinnedWindows(const std::string& source) override {
        journal_->record("commands.togglePinnedWindows " + source);
    }

  private:
    std::shared_ptr<CallJournal> journal_;
};

}  // namespace tovalo
