#include "platform/x11/x11_desktop_entry_index.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace tovalo::x11 {
namespace {

namespace fs = std::filesystem;

class DesktopEntryIndexTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tovalo-desktop-entries-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    void write(const std::string& dir, const std::string& relative, const std::string& text) {
        const auto path = root_ / dir / "applications" / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }
    std::string dir(const std::string& name) const { return (root_ / name).string(); }

    fs::path root_;
};

TEST_F(DesktopEntryIndexTest, IndexesApplicationsByIdWithEarlierDirectoriesWinning) {
    write("home", "org.example.Editor.desktop",
          "[Desktop Entry]\nType=Application\nName=Editor (mine)\nIcon=editor-mine\n");
    write("system", "org.example.Editor.desktop",
          "[Desktop Entry]\nType=Application\nName=Editor\nIcon=editor\n");
    write("system", "kde/konsole.desktop",
          "# comment\n[Desktop Entry]\nType=Application\nName=Console\\sApp\n"
          "Name[de]=Konsole\n[Desktop Action new]\nName=New window\n");
    write("system", "link.desktop", "[Desktop Entry]\nType=Link\nName=A link\n");
    write("system", "broken.desktop", "Name=No group\n");

    const auto index = DesktopEntryIndex::load({dir("home"), dir("system")});
    ASSERT_EQ(index->size(), 2u);
    const auto* editor = index->find("org.example.Editor");
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->name, "Editor (mine)");
    EXPECT_EQ(editor->icon, "editor-mine");
    // A sub-folder becomes part of the id; the localised name and later groups are ignored.
    const auto* console = index->find("kde-konsole.desktop");
    ASSERT_NE(console, nullptr);
    EXPECT_EQ(console->name, "Console App");
    EXPECT_EQ(index->find("link"), nullptr);
    EXPECT_EQ(index->findByName("Console App"), console);
}

TEST_F(DesktopEntryIndexTest, FindsTheEntryOfAWindowClass) {
    write("data", "org.example.Terminal.desktop",
          "[Desktop Entry]\nType=Application\nName=Terminal\nStartupWMClass=XTerm\n");
    write("data", "org.gnome.Calculator.desktop",
          "[Desktop Entry]\nType=Application\nName=Calculator\n");
    write("data", "firefox.desktop", "[Desktop Entry]\nType=Application\nName=Firefox\n");
    const auto index = DesktopEntryIndex::load({dir("data")});
    struct Case {
        const char* instance;
        const char* wmClass;
        const char* expectedID;  // nullptr: no entry
    };
    const Case cases[] = {
        {"xterm", "XTerm", "org.example.Terminal"},                  // StartupWMClass
        {"Navigator", "firefox", "firefox"},                         // file name
        {"navigator", "Firefox", "firefox"},                         // ignoring case
        {"gnome-calculator", "Calculator", "org.gnome.Calculator"},  // last part of the id
        {"xclock", "XClock", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wmClass);
        const auto* entry = index->findByWMClass(c.instance, c.wmClass);
        if (c.expectedID) {
            ASSERT_NE(entry, nullptr);
            EXPECT_EQ(entry->id, c.expectedID);
        } else {
            EXPECT_EQ(entry, nullptr);
        }
    }
}

TEST(DesktopEntryIndexDirectoriesTest, FollowTheXdgVariablesAndTheirDefaults) {
    auto lookup = [](std::map<std::string, std::string> env) {
        return [env](const char* name) -> std::optional<std::string> {
            auto it = env.find(name);
            return it == env.end() ? std::nullopt : std::optional<std::string>(it->second);
        };
    };
    using Dirs = std::vector<std::string>;
    EXPECT_EQ(DesktopEntryIndex::dataDirectories(lookup({{"HOME", "/home/u"}})),
              (Dirs{"/home/u/.local/share", "/usr/local/share", "/usr/share"}));
    EXPECT_EQ(DesktopEntryIndex::dataDirectories(
                  lookup({{"HOME", "/home/u"},
                          {"XDG_DATA_HOME", "/data"},
                          {"XDG_DATA_DIRS", "/opt/share/:relative:/usr/share"}})),
              (Dirs{"/data", "/opt/share", "/usr/share"}));
}

}  // namespace
}  // namespace tovalo::x11
