// The key-file stores, and the typed readings of the settings and the filter
// state over them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "engine/ColorFilterState.h"
#include "engine/KeyFileStore.h"
#include "engine/Settings.h"
#include "support/TempDir.h"

namespace vesperine {
namespace {

using testing::fileExists;
using testing::readFile;
using testing::writeFile;

class RecordingDisplay final : public DisplayBackend {
  public:
    struct Call {
        bool enabled;
        double strength;
    };
    void apply(bool enabled, double strength) override { calls.push_back({enabled, strength}); }
    std::vector<Call> calls;
};

class KeyFileTest : public ::testing::Test {
  protected:
    std::string settingsPath() const { return dir.file("config/vesperine/settings.ini"); }
    std::string statePath() const { return dir.file("state/vesperine/color-filter.ini"); }
    Settings settingsFrom(const std::string& contents) {
        writeFile(settingsPath(), contents);
        return Settings(settingsStore);
    }
    std::vector<std::string> filesBeside(const std::string& path) const {
        std::vector<std::string> names;
        for (const auto& entry :
             std::filesystem::directory_iterator(std::filesystem::path(path).parent_path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    testing::TempDir dir;
    KeyFileStore settingsStore{settingsPath(), "vesperine"};
    KeyFileStore stateStore{statePath(), "ColorFilter"};
};

TEST_F(KeyFileTest, BooleanReadingOfAutomation) {
    const std::pair<const char*, bool> cases[] = {
        {"true", true}, {"TRUE", true}, {"1", true},  {"yes", true},    {"Yes", true},
        {"on", false},  {"0", false},   {"2", false}, {"false", false}, {"", false},
    };
    for (const auto& [text, expected] : cases) {
        const auto settings = settingsFrom(std::string("[vesperine]\nautomationEnabled=") + text);
        EXPECT_EQ(settings.automationEnabled(), expected) << text;
    }
    EXPECT_FALSE(settingsFrom("[vesperine]\n").automationEnabled());
}

TEST_F(KeyFileTest, CoordinatesAbsenceZeroAndValidity) {
    struct Case {
        const char* lines;
        bool valid;
    };
    const Case cases[] = {
        {"latitude=0\nlongitude=0", true},
        {"latitude=90\nlongitude=-180", true},
        {"latitude=-90\nlongitude=180", true},
        {"latitude=90.000001\nlongitude=0", false},
        {"latitude=0\nlongitude=180.5", false},
        {"latitude=inf\nlongitude=0", false},
        {"latitude=nan\nlongitude=0", false},
        {"latitude=38.7", false},
        {"longitude=-9.1", false},
        {"latitude=north\nlongitude=-9.1", true},  // no number: present, 0
    };
    for (const auto& c : cases) {
        const auto settings = settingsFrom(std::string("[vesperine]\n") + c.lines + "\n");
        EXPECT_EQ(settings.hasValidLocation(), c.valid) << c.lines;
    }
    const auto unreadable = settingsFrom("[vesperine]\nlatitude=north\n");
    EXPECT_EQ(unreadable.latitude(), 0.0);
    EXPECT_EQ(unreadable.longitude(), std::nullopt);
    EXPECT_EQ(unreadable.sunriseOffsetMinutes(), 0.0);
    EXPECT_EQ(settingsFrom("[vesperine]\nsunsetOffsetMinutes=-12.5\n").sunsetOffsetMinutes(),
              -12.5);
}

TEST_F(KeyFileTest, WritesRoundTripAndKeepTheUsersComments) {
    writeFile(settingsPath(),
              "# my offsets, tuned by hand\n[vesperine]\n# a quarter hour later\n"
              "sunriseOffsetMinutes=15\n");
    Settings settings(settingsStore);
    settings.setLatitude(38.72);
    settings.setLongitude(-9.1393);
    settings.setAutomationEnabled(true);
    settings.setLocationName("  ");
    EXPECT_EQ(settings.latitude(), 38.72);
    EXPECT_EQ(settings.longitude(), -9.1393);
    EXPECT_TRUE(settings.automationEnabled());
    EXPECT_EQ(settings.locationName(), "  ");
    EXPECT_EQ(settings.sunriseOffsetMinutes(), 15.0);
    const std::string text = readFile(settingsPath());
    EXPECT_NE(text.find("# my offsets, tuned by hand\n"), std::string::npos) << text;
    EXPECT_NE(text.find("# a quarter hour later\nsunriseOffsetMinutes=15\n"), std::string::npos);

    settings.setLocationName("Lisboa\nPortugal [PT]");
    EXPECT_EQ(settings.locationName(), "Lisboa\nPortugal [PT]");
    settings.setLocationName("");
    EXPECT_EQ(settingsStore.value(Settings::locationNameKey), std::nullopt);
    settings.setLatitude(std::nullopt);
    EXPECT_EQ(settings.latitude(), std::nullopt);
    EXPECT_FALSE(settings.hasValidLocation());
}

TEST_F(KeyFileTest, ReadingAndNoOpWritesChangeNothing) {
    EXPECT_EQ(settingsStore.value("latitude"), std::nullopt);
    Settings(settingsStore).setLocationName(std::nullopt);
    NullDisplay display;
    EXPECT_FALSE(ColorFilterState(stateStore, display).enabled());
    EXPECT_FALSE(fileExists(dir.file("config")));
    EXPECT_FALSE(fileExists(dir.file("state")));

    const std::string handWritten = "[vesperine]\n# mine\nautomationEnabled = true\n\n\n";
    Settings settings = settingsFrom(handWritten);
    settings.setAutomationEnabled(true);
    settings.setLocationName(std::nullopt);
    EXPECT_EQ(readFile(settingsPath()), handWritten);
}

TEST_F(KeyFileTest, FilesAndFoldersArePrivateWhateverTheUmask) {
    const mode_t previous = umask(0);
    settingsStore.setValue("latitude", "1");
    umask(previous);
    const auto mode = [](const std::string& path) {
        struct stat info {};
        stat(path.c_str(), &info);
        return info.st_mode & 07777;
    };
    EXPECT_EQ(mode(dir.file("config")), 0700u);
    EXPECT_EQ(mode(dir.file("config/vesperine")), 0700u);
    EXPECT_EQ(mode(settingsPath()), 0600u);
    EXPECT_EQ(mode(settingsPath() + ".lock"), 0600u);
    EXPECT_EQ(filesBeside(settingsPath()),
              (std::vector<std::string>{"settings.ini", "settings.ini.lock"}));
}

TEST_F(KeyFileTest, AnUnparseableFileReadsEmptyAndIsMovedAsideByTheNextWrite) {
    const std::string garbage = "[vesperine]\nautomationEnabled=true\nlatitude 38\n\x01\xff";
    writeFile(settingsPath(), garbage);
    Settings settings(settingsStore);
    EXPECT_FALSE(settings.automationEnabled());
    EXPECT_EQ(settings.latitude(), std::nullopt);
    EXPECT_EQ(readFile(settingsPath()), garbage);  // reading leaves it alone

    settings.setLongitude(5.0);
    const auto names = filesBeside(settingsPath());
    ASSERT_EQ(names.size(), 3u);
    ASSERT_EQ(names[1].rfind("settings.ini.broken-", 0), 0u) << names[1];
    EXPECT_EQ(names[1].size(), std::string("settings.ini.broken-20250101T000000Z").size());
    EXPECT_EQ(readFile(dir.file("config/vesperine/" + names[1])), garbage);
    EXPECT_EQ(readFile(settingsPath()), "[vesperine]\nlongitude=5\n");
}

TEST_F(KeyFileTest, ASymlinkedStoreStaysALink) {
    writeFile(dir.file("dotfiles/vesperine.ini"), "[vesperine]\nlatitude=1\n");
    std::filesystem::create_directories(dir.file("config/vesperine"));
    std::filesystem::create_symlink(dir.file("dotfiles/vesperine.ini"), settingsPath());
    settingsStore.setValue("longitude", "2");
    EXPECT_TRUE(std::filesystem::is_symlink(settingsPath()));
    EXPECT_EQ(readFile(dir.file("dotfiles/vesperine.ini")),
              "[vesperine]\nlatitude=1\nlongitude=2\n");
}

TEST_F(KeyFileTest, FilterStateDefaultsClampingAndType) {
    RecordingDisplay display;
    ColorFilterState filter(stateStore, display);
    EXPECT_FALSE(filter.enabled());
    EXPECT_EQ(filter.type(), 1);
    EXPECT_EQ(filter.strength(), 0.5);

    const std::pair<const char*, double> strengths[] = {
        {"7", 1.0}, {"-2", 0.0}, {"nan", 0.0}, {"0.25", 0.25}, {"soft", 0.5}};
    for (const auto& [text, expected] : strengths) {
        writeFile(statePath(), std::string("[ColorFilter]\nstrength=") + text + "\n");
        EXPECT_EQ(filter.strength(), expected) << text;
    }
    writeFile(statePath(), "[ColorFilter]\ntype=-3\nenabled=TRUE\n");
    EXPECT_EQ(filter.type(), -3);
    EXPECT_TRUE(filter.enabled());
    writeFile(statePath(), "[ColorFilter]\ntype=warm\n");
    EXPECT_EQ(filter.type(), 1);
    EXPECT_TRUE(display.calls.empty());
}

TEST_F(KeyFileTest, FilterChangesReachTheDisplay) {
    RecordingDisplay display;
    ColorFilterState filter(stateStore, display);
    filter.setStrength(0.8);  // off: nothing to redraw
    EXPECT_TRUE(display.calls.empty());
    filter.setEnabled(true);
    filter.setStrength(2.0);  // clamped before it is stored
    filter.setEnabled(false);
    filter.applyCurrentState();
    ASSERT_EQ(display.calls.size(), 4u);
    EXPECT_TRUE(display.calls[0].enabled);
    EXPECT_EQ(display.calls[0].strength, 0.8);
    EXPECT_EQ(display.calls[1].strength, 1.0);
    EXPECT_FALSE(display.calls[2].enabled);
    EXPECT_FALSE(display.calls[3].enabled);
    EXPECT_EQ(filter.strength(), 1.0);
    EXPECT_EQ(readFile(statePath()), "[ColorFilter]\nstrength=1\nenabled=false\n");
}

}  // namespace
}  // namespace vesperine
