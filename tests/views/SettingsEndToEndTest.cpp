// The settings page of the running tray application in a real X server
// (Xvfb, openbox, trayer): a slow drag of the slider writes the store a few
// times a second and leaves screen and file agreeing, typed coordinates and
// Set store the place, Automatic stores the flag and the filter follows the
// schedule, Quit ends the process. Where to click comes from laying the same
// pages out in this process at the panel's width. Screenshots go to the
// build's artifacts/.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <thread>

#include "ViewsTestSupport.h"
#include "support/BackgroundProcess.h"
#include "support/DesktopSession.h"
#include "support/TempDir.h"
#include "views/FrontPage.h"
#include "views/PanelWidgets.h"
#include "views/SettingsPage.h"

namespace vesperine {
namespace {

using testing::readFile;
using testing::waitUntil;

// A part's rectangle within its page, laid out here at the panel's width.
QRect boxOf(QWidget& page, const char* name) {
    QWidget& part = testing::child<QWidget>(page, name);
    return {part.mapTo(&page, QPoint(0, 0)), part.size()};
}

// The longitude where it is about noon now, as typed.
std::string longitudeAtNoon() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    const double hours = utc.tm_hour + utc.tm_min / 60.0;
    const double longitude = std::fmod(180.0 - hours * 15.0 + 540.0, 360.0) - 180.0;
    return QString::number(std::round(longitude * 10) / 10).toStdString();
}

// The most of `times` within any one second.
std::size_t mostInOneSecond(const std::vector<std::chrono::steady_clock::time_point>& times) {
    std::size_t most = 0;
    for (std::size_t first = 0, last = 0; first < times.size(); ++first) {
        while (last < times.size() && times[last] - times[first] < std::chrono::seconds(1)) {
            ++last;
        }
        most = std::max(most, last - first);
    }
    return most;
}

class SettingsEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const auto missing = testing::DesktopSession::missingProgram(
                {"xdotool", "xwininfo", "xrandr", "import"})) {
            GTEST_SKIP() << *missing << " is not installed (scripts/setup-deps installs it)";
        }
        ASSERT_TRUE(session_.startBus());
        ASSERT_TRUE(session_.startDisplay()) << session_.displayFailure();
        tray_ = session_.startTray("top", "right");
    }

    std::string run(const std::vector<std::string>& argv) { return session_.run(argv); }

    // The tray icon ("vesperine") or the panel ("Vesperine") as a rectangle.
    std::optional<QRect> window(const std::string& title) {
        const auto w = session_.window(title);
        return w ? std::optional(QRect(w->x, w->y, w->width, w->height)) : std::nullopt;
    }
    std::optional<QRect> panel() { return window("Vesperine"); }

    void click(QPoint at) { session_.click(at.x(), at.y()); }
    // Clicks the middle of `part` of a page whose top-left is the panel's.
    void click(const QRect& panelBox, const QRect& part) {
        click(panelBox.topLeft() + part.center());
    }

    void type(const std::string& text) { run({"xdotool", "type", "--delay", "20", "--", text}); }

    std::string settingsFile() { return readFile(home_.file("config/vesperine/settings.ini")); }
    std::string filterFile() { return readFile(home_.file("state/vesperine/color-filter.ini")); }
    std::vector<std::vector<unsigned short>> ramps() {
        return testing::crtcRamps(session_.display());
    }

    testing::TempDir home_;
    testing::DesktopSession session_{home_};
    std::unique_ptr<testing::BackgroundProcess> tray_;
    std::unique_ptr<testing::BackgroundProcess> app_;
};

TEST_F(SettingsEndToEndTest, StrengthPlaceAutomaticAndQuit) {
    // The same pages as the panel shows, with nothing stored.
    testing::ModelRig rig;
    AppModel& model = rig.make();
    FrontPage front(model, [] {});
    testing::showAtWidth(front);
    SettingsPage collapsed(
        model, [] {}, [] {}, false);
    testing::showAtWidth(collapsed);
    SettingsPage expanded(
        model, [] {}, [] {}, true);
    testing::showAtWidth(expanded);

    // The filter is on at 30 %, so the ramps show the strength.
    std::filesystem::create_directories(home_.file("state/vesperine"));
    testing::writeFile(home_.file("state/vesperine/color-filter.ini"),
                       "[ColorFilter]\nenabled=true\nstrength=0.3\n");
    app_ = session_.start({VESPERINE_EXECUTABLE}, "app");
    ASSERT_TRUE(waitUntil([&] { return window("vesperine").has_value(); }, 20))
        << readFile(home_.file("app.err"));
    ASSERT_TRUE(waitUntil(
        [&] { return session_.gamma() != "1.0:1.0:1.0" && !session_.gamma().empty(); }, 5));
    const auto rampsAt30 = ramps();

    // Waits for the panel at the width and height of `page` laid out here, then
    // for it to settle.
    const auto shows = [&](const QWidget& page) {
        const bool shown = waitUntil([&] { return panel() && panel()->size() == page.size(); }, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return shown;
    };
    click(window("vesperine")->center());
    ASSERT_TRUE(shows(front)) << (panel() ? panel()->height() : 0) << " for " << front.height();
    click(*panel(), boxOf(front, "settingsButton"));
    ASSERT_TRUE(shows(collapsed)) << (panel() ? panel()->height() : 0) << " for "
                                  << collapsed.height();
    const QRect box = *panel();
    session_.screenshot("settings-page.png");

    // Drag the thumb from 30 % to the right end, back to the left end and up
    // to about 40 %, a step every 10 ms, as a slow hand would.
    const QRect slider = boxOf(collapsed, "strengthSlider");
    const int y = box.top() + slider.center().y();
    const auto xAt = [&](double share) {
        return box.left() + slider.left() + 7 + static_cast<int>((slider.width() - 14) * share);
    };
    std::vector<std::string> drag = {"xdotool",         "mousemove", std::to_string(xAt(0.3)),
                                     std::to_string(y), "mousedown", "1"};
    double at = 0.3;
    for (double share : {1.05, -0.05, 0.4}) {
        for (; std::abs(at - share) > 0.004; at += share > at ? 0.005 : -0.005) {
            drag.insert(drag.end(),
                        {"mousemove", std::to_string(xAt(at)), std::to_string(y), "sleep", "0.01"});
        }
    }
    drag.insert(drag.end(), {"mouseup", "1"});
    // The store replaces the file on every write: each one is a rename into the folder.
    const int events = inotify_init1(IN_NONBLOCK);
    inotify_add_watch(events, home_.file("state/vesperine").c_str(), IN_MOVED_TO);
    std::vector<std::chrono::steady_clock::time_point> writes;
    const auto started = std::chrono::steady_clock::now();
    const auto hand = session_.start(drag, "drag");
    double dragSeconds = 0;
    for (auto end = started + std::chrono::hours(1); std::chrono::steady_clock::now() < end;) {
        if (hand->running()) {
            dragSeconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        }
        pollfd ready{events, POLLIN, 0};
        alignas(inotify_event) char buffer[4096];
        const ssize_t length = poll(&ready, 1, 10) > 0 ? read(events, buffer, sizeof buffer) : 0;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0 && std::string(event->name) == "color-filter.ini") {
                writes.push_back(std::chrono::steady_clock::now());
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    close(events);
    const std::string stored = filterFile();
    std::printf("drag of %.2f s: %zu store writes, at most %zu in one second; stored %s\n",
                dragSeconds, writes.size(), mostInOneSecond(writes),
                stored.substr(stored.find("strength=")).c_str());
    EXPECT_GT(dragSeconds, 2.0);
    EXPECT_GE(writes.size(), 2u);  // during the drag, and where it ended
    EXPECT_LE(mostInOneSecond(writes), 6u);
    EXPECT_NE(stored.find("enabled=true"), std::string::npos);
    EXPECT_EQ(stored.find("strength=0.3\n"), std::string::npos) << stored;
    // Screen and file agree: putting the stored state on screen afresh (the
    // same value again writes nothing but applies) leaves the ramps as they are.
    const auto afterDrag = ramps();
    EXPECT_NE(afterDrag, rampsAt30);
    const auto strength = stored.substr(stored.find("strength=") + 9);
    run({VESPERINE_EXECUTABLE, "--set-intensity", strength.substr(0, strength.find('\n'))});
    ASSERT_FALSE(afterDrag.empty());
    EXPECT_TRUE(ramps() == afterDrag) << "the screen shows another strength than the file";
    EXPECT_EQ(filterFile(), stored);

    // Open the coordinates row and store a place where it is noon now.
    click(box, boxOf(collapsed, "fineTuneLink"));
    ASSERT_TRUE(shows(expanded)) << (panel() ? panel()->height() : 0) << " for "
                                 << expanded.height();
    const std::string longitude = longitudeAtNoon();
    click(box, boxOf(expanded, "latitudeField"));
    type("0");
    click(box, boxOf(expanded, "longitudeField"));
    type(longitude);
    click(box, boxOf(expanded, "setButton"));
    ASSERT_TRUE(waitUntil(
        [&] {
            return settingsFile().find("latitude=0\n") != std::string::npos &&
                   settingsFile().find("longitude=" + longitude + "\n") != std::string::npos;
        },
        5))
        << settingsFile();
    // Storing a place alone does not switch the schedule on.
    EXPECT_NE(filterFile().find("enabled=true"), std::string::npos);
    session_.screenshot("settings-page-coordinates.png");

    // Automatic on: the flag is stored and the filter follows the schedule (day: off).
    const std::string decision =
        run({VESPERINE_EXECUTABLE, "--decide", "--lat", "0", "--lon", longitude});
    ASSERT_NE(decision.find("want OFF"), std::string::npos) << decision;
    click(box, boxOf(expanded, "automaticSwitch"));
    EXPECT_TRUE(waitUntil(
        [&] { return settingsFile().find("automationEnabled=true") != std::string::npos; }, 5))
        << settingsFile();
    EXPECT_TRUE(
        waitUntil([&] { return filterFile().find("enabled=false") != std::string::npos; }, 5))
        << filterFile();
    EXPECT_TRUE(waitUntil([&] { return session_.gamma() == "1.0:1.0:1.0"; }, 3))
        << session_.gamma();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    session_.screenshot("settings-page-automatic.png");

    click(box, boxOf(expanded, "quitRow"));
    EXPECT_EQ(app_->waitForExit(5), std::optional<int>(0));
}

}  // namespace
}  // namespace vesperine
