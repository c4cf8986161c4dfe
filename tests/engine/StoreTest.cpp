// The key-file stores, the typed readings of the settings and the filter state
// over them, and the engine's gate.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>
#include <regex>
#include <utility>

#include "engine/ColorFilterState.h"
#include "engine/KeyFileStore.h"
#include "engine/ReconcileEngine.h"
#include "engine/Settings.h"
#include "support/Fakes.h"
#include "support/TempDir.h"

namespace vesperine {
namespace {

using testing::readFile;
using testing::writeFile;

class RecordingDisplay final : public DisplayBackend {
  public:
    DisplayOutcome apply(bool enabled, double strength) override {
        calls.emplace_back(enabled, strength);
        lockHeld.push_back(testing::lockHeld(lock));  // whether a writer holds it now
        return DisplayOutcome::reachedScreen();
    }
    std::string_view name() const override { return "recording"; }
    std::vector<std::pair<bool, double>> calls;
    std::string lock;
    std::vector<bool> lockHeld;
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
        return testing::filesIn(std::filesystem::path(path).parent_path());
    }
    // What writers left beside the settings file and its lock.
    std::vector<std::string> strayFiles() const {
        auto names = filesBeside(settingsPath());
        std::erase_if(names, [](const auto& name) {
            return name == "settings.ini" || name == "settings.ini.lock";
        });
        return names;
    }
    template <typename Body>
    static pid_t child(Body body) {
        const pid_t pid = fork();
        if (pid == 0) {
            _exit(body());
        }
        return pid;
    }

    testing::TempDir dir;
    KeyFileStore settingsStore{settingsPath(), "vesperine"};
    KeyFileStore stateStore{statePath(), "ColorFilter"};
    RecordingDisplay display;
    ColorFilterState filter{stateStore, display};
};

TEST_F(KeyFileTest, AutomationFlagAndCoordinateReadings) {
    const std::pair<const char*, bool> flags[] = {
        {"TRUE", true}, {"yes", true}, {"on", false}, {"2", false}, {"", false}};
    for (const auto& [text, expected] : flags) {
        EXPECT_EQ(settingsFrom(std::string("automationEnabled=") + text).automationEnabled(),
                  expected)
            << text;
    }
    // A typo is no place: no number is absent. Null: no such line.
    const std::tuple<const char*, const char*, bool> places[] = {
        {"0", "0", true},        {"90", "-180", true}, {"90.000001", "0", false},
        {"0", "180.5", false},   {"nan", "0", false},  {"38.7", nullptr, false},
        {"north", "-9.1", false}};
    for (const auto& [latitude, longitude, valid] : places) {
        const std::string lines = std::string("latitude=") + latitude +
                                  (longitude ? std::string("\nlongitude=") + longitude : "");
        EXPECT_EQ(settingsFrom(lines).hasValidLocation(), valid) << latitude;
    }
    const auto unreadable = settingsFrom("sunriseOffsetMinutes=inf\nsunsetOffsetMinutes=nan");
    EXPECT_EQ(unreadable.sunriseOffsetMinutes(), 0.0);
    EXPECT_EQ(unreadable.sunsetOffsetMinutes(), 0.0);
}

TEST_F(KeyFileTest, WritesRoundTripAndKeepTheUsersComments) {
    writeFile(settingsPath(),
              "# my offsets, tuned by hand\n[vesperine]\n# a quarter hour later\n"
              "sunriseOffsetMinutes=15\n");
    Settings settings(settingsStore);
    settings.setLongitude(-9.1393);
    settings.setLocationName("  ");
    EXPECT_EQ(settings.longitude(), -9.1393);
    EXPECT_EQ(settings.locationName(), "  ");
    EXPECT_EQ(settings.sunriseOffsetMinutes(), 15.0);
    const std::string text = readFile(settingsPath());
    EXPECT_NE(text.find("# my offsets, tuned by hand\n"), std::string::npos) << text;
    EXPECT_NE(text.find("# a quarter hour later\nsunriseOffsetMinutes=15\n"), std::string::npos);

    settings.setLocationName("Lisboa\nPortugal [PT]");
    EXPECT_EQ(settings.locationName(), "Lisboa\nPortugal [PT]");
    writeFile(settingsPath(), "[vesperine]\nlocationName=a\nlocationName=b\n");  // by hand
    settings.setLocationName("");
    EXPECT_EQ(settingsStore.value(Settings::locationNameKey), std::nullopt);
}

TEST_F(KeyFileTest, AnUnparseableFileIsMovedAsideByTheNextWrite) {
    const std::string garbage = "[vesperine]\nautomationEnabled=true\nlatitude 38\n\x01\xff";
    for (const std::size_t setAside : {1u, 2u}) {  // the second one mostly in the same second
        writeFile(settingsPath(), garbage);
        Settings(settingsStore).setLongitude(5.0);
        const auto names = strayFiles();
        ASSERT_EQ(names.size(), setAside);
        for (const auto& name : names) {
            ASSERT_EQ(name.rfind("settings.ini.broken-", 0), 0u) << name;
            EXPECT_EQ(readFile(dir.file("config/vesperine/" + name)), garbage);
        }
        EXPECT_EQ(readFile(settingsPath()), "[vesperine]\nlongitude=5\n");
    }
}

TEST_F(KeyFileTest, AByteOrderMarkReadsAndAnEqualValueIsNotRewritten) {
    const std::string text = "\xEF\xBB\xBF[vesperine]\nautomationEnabled=1\nlatitude=38.720\n";
    writeFile(settingsPath(), text);
    Settings settings(settingsStore);
    EXPECT_TRUE(settings.setAutomationEnabled(true).stored);
    EXPECT_TRUE(settings.setLatitude(38.72).stored);
    writeFile(statePath(), "[ColorFilter]\nenabled=yes\nstrength=.5\n");
    EXPECT_TRUE(filter.setEnabled(true).succeeded());
    EXPECT_TRUE(filter.setStrength(0.5).succeeded());
    EXPECT_EQ(readFile(settingsPath()), text);
    EXPECT_EQ(readFile(statePath()), "[ColorFilter]\nenabled=yes\nstrength=.5\n");
    EXPECT_EQ(display.calls.size(), 2u);  // the screen is still brought in line
}

// Several processes on one store file: no write lost, files and folders
// private whatever the umask, no torn file whenever a writer is killed.
TEST_F(KeyFileTest, ConcurrentWritersLoseNothingAndKeepTheirFilesPrivate) {
    constexpr int kWriters = 4;
    constexpr int kWrites = 150;
    const mode_t previous = umask(0);
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.push_back(child([&, w] {
            bool stored = true;
            for (int count = 1; count <= kWrites; ++count) {
                const std::string key = "writer" + std::to_string(w);
                stored &= settingsStore.setValue(key, std::to_string(count)).stored;
            }
            return stored ? 0 : 1;
        }));
    }
    umask(previous);
    for (const pid_t pid : writers) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int w = 0; w < kWriters; ++w) {
        EXPECT_EQ(settingsStore.value("writer" + std::to_string(w)), std::to_string(kWrites)) << w;
    }
    EXPECT_TRUE(strayFiles().empty());
    for (const std::string& path : {dir.file("config"), dir.file("config/vesperine"),
                                    settingsPath(), settingsPath() + ".lock"}) {
        struct stat info {};
        stat(path.c_str(), &info);
        EXPECT_EQ(info.st_mode & 07777, S_ISDIR(info.st_mode) ? 0700u : 0600u) << path;
    }
}

TEST_F(KeyFileTest, WritersKilledAtAnyMomentLeaveAWholeFile) {
    std::mt19937 random(20240115);
    std::uniform_int_distribution<int> delayMicroseconds(0, 15000);
    const std::regex written("round[0-9]+-[0-9]+");
    settingsStore.setValue("value", "round0-0");
    for (int round = 0; round < 60; ++round) {
        const pid_t writer = child([&] {
            for (int k = 0;; ++k) {
                settingsStore.setValue("value",
                                       "round" + std::to_string(round) + "-" + std::to_string(k));
            }
            return 0;
        });
        usleep(static_cast<useconds_t>(delayMicroseconds(random)));
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);

        const auto value = settingsStore.value("value");
        ASSERT_TRUE(value) << "round " << round;
        EXPECT_TRUE(std::regex_match(*value, written)) << *value;
        // A killed writer leaves at most its temporary file, never a torn store.
        const auto stray = strayFiles();
        EXPECT_TRUE(stray.empty() ||
                    (stray.size() == 1 && stray[0].rfind("settings.ini.tmp-", 0) == 0))
            << ::testing::PrintToString(stray);
    }
    settingsStore.setValue("after", "1");  // takes the lock: leftovers go
    EXPECT_TRUE(strayFiles().empty());
}

// Whatever cannot be read or is not the user's own, or a lock held too long:
// the write fails with a reason (never writes unlocked) and every file stays.
TEST_F(KeyFileTest, RefusedStoresAreLeftAlone) {
    const std::string folder = dir.file("state/vesperine");
    const std::string dotfile = dir.file("profile");
    const std::string lock = statePath() + ".lock";
    const auto link = [&](const std::string& to, const std::string& at) {
        return symlink(to.c_str(), at.c_str()) == 0;
    };
    const auto nobodys = [](const std::string& path) {
        return chown(path.c_str(), 65534, 65534) == 0;
    };
    int held = -1;  // a lock of another writer's
    const auto fresh = [&] {
        close(std::exchange(held, -1));
        std::filesystem::remove_all(dir.file("state"));
        std::filesystem::remove(dotfile);
        std::filesystem::create_directories(folder);
        writeFile(dotfile, "[ColorFilter]\n");
    };
    const std::pair<const char*, std::function<bool()>> cases[] = {
        {"a link to a file that is no key file",
         [&] {
             writeFile(dotfile, "export EDITOR=vi\n");
             return link(dotfile, statePath());
         }},
        {"a link to another user's key file",
         [&] { return link(dotfile, statePath()) && nobodys(dotfile); }},
        {"a folder others may write to", [&] { return chmod(folder.c_str(), 0757) == 0; }},
        {"a folder its group may write to", [&] { return chmod(folder.c_str(), 0775) == 0; }},
        {"a folder of another user", [&] { return nobodys(folder); }},
        {"a lock that is a dangling link", [&] { return link(dir.file("planted"), lock); }},
        {"a lock of another user",
         [&] {
             writeFile(lock, "");
             return nobodys(lock);
         }},
        {"a lock held too long",
         [&] {
             held = open(lock.c_str(), O_RDWR | O_CREAT, 0600);
             return flock(held, LOCK_EX) == 0;
         }},
    };
    KeyFileStore impatient(statePath(), "ColorFilter", std::chrono::milliseconds(200));
    for (const auto& [name, plant] : cases) {
        fresh();
        ASSERT_TRUE(plant()) << name;
        auto before = filesBeside(statePath());
        const std::string dotfileBefore = readFile(dotfile);
        const StoreOutcome outcome = impatient.setValue("enabled", "true");
        EXPECT_FALSE(outcome.stored || outcome.error.empty()) << name;
        auto after = filesBeside(statePath());
        std::erase(before, "color-filter.ini.lock");  // a lock may be made
        std::erase(after, "color-filter.ini.lock");
        EXPECT_EQ(after, before) << name;
        EXPECT_EQ(readFile(dotfile), dotfileBefore) << name;
        EXPECT_FALSE(testing::fileExists(dir.file("planted"))) << name;
    }
    // A link to a key file of the user's is followed, and stays a link.
    fresh();
    ASSERT_TRUE(link(dotfile, statePath()));
    EXPECT_EQ(stateStore.setValue("enabled", "true").error, "");
    EXPECT_TRUE(std::filesystem::is_symlink(statePath()));
    EXPECT_EQ(readFile(dotfile), "[ColorFilter]\nenabled=true\n");
}

// Reading draws nothing; a change is drawn, clamped, while the store's lock is
// held, so that applies follow the writes' order.
TEST_F(KeyFileTest, FilterStateDefaultsClampingAndDisplay) {
    display.lock = statePath() + ".lock";
    EXPECT_FALSE(filter.enabled());
    EXPECT_EQ(filter.type(), 1);
    const std::pair<const char*, double> strengths[] = {{"-2", 0.0}, {"nan", 0.0}, {"soft", 0.5}};
    for (const auto& [text, expected] : strengths) {
        writeFile(statePath(), std::string("[ColorFilter]\nstrength=") + text + "\ntype=warm\n");
        EXPECT_EQ(filter.strength(), expected) << text;
        EXPECT_EQ(filter.type(), 1);
    }
    std::filesystem::remove(statePath());

    filter.setStrength(0.8);  // off: nothing to redraw
    EXPECT_TRUE(display.calls.empty());
    filter.setEnabled(true);
    filter.setStrength(2.0);
    filter.setEnabled(false);
    EXPECT_EQ(display.calls,
              (std::vector<std::pair<bool, double>>{{true, 0.8}, {true, 1}, {false, 0}}));
    EXPECT_EQ(display.lockHeld, std::vector<bool>({true, true, true}));
    EXPECT_EQ(readFile(statePath()), "[ColorFilter]\nstrength=1\nenabled=false\n");
}

// With automation off the engine neither reads nor writes the live state; the
// engine commands' test closes the gate with no valid place too.
TEST(ReconcileEngine, AClosedGateTouchesNothingLive) {
    InMemoryStore settingsStore;
    Settings settings(settingsStore);
    settings.setLatitude(38.72);
    settings.setLongitude(-9.14);
    testing::RecordingStore live;
    NullDisplay display;
    ColorFilterState filter(live, display);
    const auto pass = ReconcileEngine::reconcile(settings, filter, Instant{});
    EXPECT_FALSE(pass.gateOpen || pass.write);
    EXPECT_TRUE(live.reads.empty() && live.writes.empty());
}

}  // namespace
}  // namespace vesperine
