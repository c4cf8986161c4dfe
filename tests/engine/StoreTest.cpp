// The key-file stores, and the typed readings of the settings and the filter
// state over them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "engine/ColorFilterState.h"
#include "engine/KeyFileStore.h"
#include "engine/Settings.h"
#include "support/TempDir.h"

namespace vesperine {
namespace {

using testing::readFile;
using testing::writeFile;

class RecordingDisplay final : public DisplayBackend {
  public:
    DisplayOutcome apply(bool enabled, double strength) override {
        calls.emplace_back(enabled, strength);
        return DisplayOutcome::reachedScreen();
    }
    std::string_view name() const override { return "recording"; }
    std::vector<std::pair<bool, double>> calls;
};

class KeyFileTest : public ::testing::Test {
  protected:
    std::string settingsPath() const { return dir.file("config/vesperine/settings.ini"); }
    std::string statePath() const { return dir.file("state/vesperine/color-filter.ini"); }
    Settings settingsFrom(const std::string& lines) {
        writeFile(settingsPath(), "[vesperine]\n" + lines + "\n");
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

TEST_F(KeyFileTest, AutomationFlagAndCoordinateReadings) {
    const std::pair<const char*, bool> flags[] = {{"true", true}, {"TRUE", true},  {"1", true},
                                                  {"yes", true},  {"on", false},   {"2", false},
                                                  {"", false},    {"false", false}};
    for (const auto& [text, expected] : flags) {
        EXPECT_EQ(settingsFrom(std::string("automationEnabled=") + text).automationEnabled(),
                  expected)
            << text;
    }
    const std::pair<const char*, bool> places[] = {
        {"latitude=0\nlongitude=0", true},
        {"latitude=90\nlongitude=-180", true},
        {"latitude=90.000001\nlongitude=0", false},
        {"latitude=0\nlongitude=180.5", false},
        {"latitude=inf\nlongitude=0", false},
        {"latitude=nan\nlongitude=0", false},
        {"latitude=38.7", false},
        {"latitude=north\nlongitude=-9.1", true},  // no number: present, 0
    };
    for (const auto& [lines, valid] : places) {
        EXPECT_EQ(settingsFrom(lines).hasValidLocation(), valid) << lines;
    }
    const auto unreadable = settingsFrom("latitude=north");
    EXPECT_EQ(unreadable.latitude(), 0.0);
    EXPECT_EQ(unreadable.longitude(), std::nullopt);
    EXPECT_EQ(unreadable.sunriseOffsetMinutes(), 0.0);
    EXPECT_EQ(unreadable.sunsetOffsetMinutes(), 0.0);
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
    Settings reread(settingsStore);
    EXPECT_EQ(reread.latitude(), 38.72);
    EXPECT_EQ(reread.longitude(), -9.1393);
    EXPECT_TRUE(reread.automationEnabled());
    EXPECT_EQ(reread.locationName(), "  ");
    EXPECT_EQ(reread.sunriseOffsetMinutes(), 15.0);
    const std::string text = readFile(settingsPath());
    EXPECT_NE(text.find("# my offsets, tuned by hand\n"), std::string::npos) << text;
    EXPECT_NE(text.find("# a quarter hour later\nsunriseOffsetMinutes=15\n"), std::string::npos);

    settings.setLocationName("Lisboa\nPortugal [PT]");
    EXPECT_EQ(settings.locationName(), "Lisboa\nPortugal [PT]");
    settings.setLocationName("");
    EXPECT_EQ(settingsStore.value(Settings::locationNameKey), std::nullopt);
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
    EXPECT_EQ(readFile(dir.file("config/vesperine/" + names[1])), garbage);
    EXPECT_EQ(readFile(settingsPath()), "[vesperine]\nlongitude=5\n");
}

TEST_F(KeyFileTest, FilterStateDefaultsClampingAndDisplay) {
    RecordingDisplay display;
    ColorFilterState filter(stateStore, display);
    EXPECT_FALSE(filter.enabled());
    EXPECT_EQ(filter.type(), 1);
    const std::pair<const char*, double> strengths[] = {
        {"7", 1.0}, {"-2", 0.0}, {"nan", 0.0}, {"0.25", 0.25}, {"soft", 0.5}};
    for (const auto& [text, expected] : strengths) {
        writeFile(statePath(), std::string("[ColorFilter]\nstrength=") + text + "\n");
        EXPECT_EQ(filter.strength(), expected) << text;
    }
    writeFile(statePath(), "[ColorFilter]\ntype=warm\n");
    EXPECT_EQ(filter.type(), 1);
    EXPECT_TRUE(display.calls.empty());  // reading draws nothing
    std::filesystem::remove(statePath());

    filter.setStrength(0.8);  // off: nothing to redraw
    EXPECT_TRUE(display.calls.empty());
    filter.setEnabled(true);
    filter.setStrength(2.0);  // clamped before it is stored
    filter.setEnabled(false);
    ASSERT_EQ(display.calls.size(), 3u);
    EXPECT_EQ(display.calls[0], std::make_pair(true, 0.8));
    EXPECT_EQ(display.calls[1], std::make_pair(true, 1.0));
    EXPECT_FALSE(display.calls[2].first);
    EXPECT_EQ(readFile(statePath()), "[ColorFilter]\nstrength=1\nenabled=false\n");
}

}  // namespace
}  // namespace vesperine
