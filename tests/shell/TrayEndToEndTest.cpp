// The tray application in a real X server: Xvfb and openbox with trayer, a
// panel of the desktops people use or no tray at all, and GNOME Shell; and its
// settings page driven there. Screenshots go to the build's artifacts/.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include "support/BackgroundProcess.h"
#include "support/DesktopSession.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "views/FrontPage.h"
#include "views/PanelWidgets.h"
#include "views/SettingsPage.h"
#include "views/ViewsTestSupport.h"

namespace vesperine {
namespace {

using testing::readFile;
using testing::waitUntil;
using testing::WindowBox;

constexpr int kScreenWidth = testing::DesktopSession::kScreenWidth;
constexpr int kScreenHeight = testing::DesktopSession::kScreenHeight;

// The contrast of two pixels of a screenshot by their linear luminance; 3:1
// is the least for a symbol.
double contrast(const std::string& shot, int x1, int y1, int x2, int y2) {
    const auto luma = [&](int x, int y) {
        const double c =
            std::stod(testing::runProcess({"convert", shot, "-crop",
                                           "1x1+" + std::to_string(x) + "+" + std::to_string(y),
                                           "-colorspace", "Gray", "-format", "%[fx:mean]", "info:"})
                          .out);
        return (c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4)) + 0.05;
    };
    const auto [dark, light] = std::minmax({luma(x1, y1), luma(x2, y2)});
    return light / dark;
}

// Xvfb and openbox on a desktop of a colour the panel never uses, so that its
// corners show it; the application's files in the session's home.
class X11DesktopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const auto missing = testing::DesktopSession::missingProgram(
                {"xdotool", "xwininfo", "xrandr", "import", "convert", "xmessage", "xcompmgr",
                 "xsetroot"})) {
            GTEST_SKIP() << *missing << " is not installed (scripts/setup-deps installs it)";
        }
        ASSERT_TRUE(session_.startBus());
        ASSERT_TRUE(session_.startDisplay()) << session_.displayFailure();
        run({"xsetroot", "-solid", "#3a6ea5"});
    }

    std::string run(const std::vector<std::string>& argv) { return session_.run(argv); }
    std::string appErr() const { return readFile(home_.file("app.err")); }
    bool panelViewable() { return session_.window("Vesperine").has_value(); }
    std::string storedFilter() { return readFile(home_.file("state/vesperine/color-filter.ini")); }
    bool storedEnabled(bool on) {
        const std::string line = on ? "enabled=true" : "enabled=false";
        return waitUntil([&] { return storedFilter().find(line) != std::string::npos; }, 5);
    }
    // Whether the screen's gamma is other than the identity, within 3 s.
    bool gammaShows(bool on) {
        return waitUntil([&] { return (session_.gamma() != "1.0:1.0:1.0") == on; }, 3);
    }

    testing::TempDir home_;
    testing::DesktopSession session_{home_};
};

struct TrayHost {
    const char* name;
    const char* panel;  // "trayer", "xfce4-panel", "lxqt-panel" or "" for none
    const char* edge;
    const char* align;  // trayer's
    bool dark;          // the bar's colour scheme
    bool composited;    // a compositor runs (lxqt-panel starts its own)
};

void PrintTo(const TrayHost& host, std::ostream* out) {
    *out << host.name;
}

class TrayHostTest : public X11DesktopTest, public ::testing::WithParamInterface<TrayHost> {
  protected:
    void openPanel(const WindowBox& icon) {
        session_.click(icon.midX(), icon.midY());
        ASSERT_TRUE(waitUntil([&] { return panelViewable(); }, 5)) << "the panel did not open";
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // painted
    }
    // A click on the icon right after a close by a resign is taken for the
    // one that took the focus, and ignored: the next click waits.
    bool waitClosed() {
        const bool closed = waitUntil([&] { return !panelViewable(); }, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return closed;
    }
    // The run/pause entry, Settings… or Quit.
    void menuEntry(const WindowBox& icon, int downs) {
        session_.click(icon.midX(), icon.midY(), "3");
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        for (int i = 0; i < downs; ++i) {
            run({"xdotool", "key", "Down"});
        }
        run({"xdotool", "key", "Return"});
    }

    // The corners of the open panel show the desktop; its inside does not.
    void expectRoundedCorners(const std::string& shot, const WindowBox& box) {
        const auto pixel = [&](int x, int y) {
            return run({"convert", shot, "-format",
                        "%[pixel:p{" + std::to_string(x) + "," + std::to_string(y) + "}]",
                        "info:"});
        };
        const std::string desktop = pixel(5, kScreenHeight / 2);
        EXPECT_EQ(pixel(box.x, box.y + box.height - 1), desktop);
        EXPECT_EQ(pixel(box.x + 1, box.y + 1), desktop);
        EXPECT_NE(pixel(box.x + 12, box.midY()), desktop);
    }

    // The screen's band the bar takes: between its edge and the work area.
    std::pair<int, int> barBand(const std::string& edge) {
        std::smatch m;
        const std::string area = run({"xprop", "-root", "_NET_WORKAREA"});
        if (!std::regex_search(area, m, std::regex(R"(= (\d+), (\d+), (\d+), (\d+))"))) {
            return {0, 0};
        }
        const int top = std::stoi(m[2]);
        const int bottom = top + std::stoi(m[4]);
        return edge == "top" ? std::pair{0, top} : std::pair{bottom, kScreenHeight};
    }
    // The icon's box in the right end of the bar: what differs from the bar
    // (the crop keeps its offset on the screen, and the trim adds to it).
    std::optional<WindowBox> iconInBar(const std::string& shot, std::pair<int, int> band) {
        std::istringstream in(
            run({"convert", shot, "-crop",
                 "160x" + std::to_string(band.second - band.first - 6) + "+" +
                     std::to_string(kScreenWidth - 160) + "+" + std::to_string(band.first + 3),
                 "-fuzz", "25%", "-trim", "-format", "%w %h %X %Y", "info:"}));
        WindowBox icon;
        if (!(in >> icon.width >> icon.height >> icon.x >> icon.y) || icon.width > 40 ||
            icon.width < 6) {
            return std::nullopt;
        }
        return icon;
    }
};

TEST_P(TrayHostTest, TheIconOpensThePanelBesideTheBarItsControlsAndMenuWorkAndEveryWayClosesIt) {
    const TrayHost host = GetParam();
    const std::string name = host.name;
    const bool trayer = std::string(host.panel) == "trayer";
    const auto barShown = [&] {
        return waitUntil([&] { return barBand(host.edge).second > barBand(host.edge).first; }, 15);
    };
    std::unique_ptr<testing::BackgroundProcess> compositor;
    if (trayer && host.composited) {
        compositor = session_.start({"xcompmgr", "-n"}, "xcompmgr");
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ASSERT_TRUE(compositor->running()) << readFile(home_.file("xcompmgr.err"));
    }
    if (trayer) {
        ASSERT_TRUE(session_.startTray(host.edge, host.align)) << session_.displayFailure();
    } else if (*host.panel) {
        ASSERT_TRUE(session_.startPanel(host.panel, host.edge, host.dark))
            << session_.displayFailure();
        ASSERT_TRUE(barShown()) << readFile(home_.file("panel.err"));
    }
    auto app = session_.start({VESPERINE_EXECUTABLE}, "app");
    ASSERT_TRUE(waitUntil([&] { return appErr().find('\n') != std::string::npos; }, 20))
        << appErr();
    EXPECT_TRUE(gammaShows(false));

    if (!*host.panel) {
        EXPECT_TRUE(waitUntil(
            [&] {
                return appErr() ==
                       "vesperine: menu-bar item created\nvesperine: no system tray here; the icon "
                       "appears when one starts, and running vesperine again opens the panel\n";
            },
            3))
            << appErr();
        const auto second = testing::runVesperine({}, {session_.environment(), "", 60});
        EXPECT_EQ(second.exitStatus, 0) << second.err;
        ASSERT_TRUE(waitUntil([&] { return panelViewable(); }, 5)) << "the second start";
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        session_.screenshot("tray-" + name + ".png");
        EXPECT_EQ(session_.window("Vesperine")->x + 288, kScreenWidth);
        EXPECT_EQ(session_.window("Vesperine")->y, 6);
        // A tray started later takes the icon.
        ASSERT_TRUE(session_.startTray("top", "right")) << session_.displayFailure();
        EXPECT_TRUE(waitUntil([&] { return session_.window("vesperine").has_value(); }, 10));
        return;
    }

    ASSERT_TRUE(barShown());  // trayer takes its strut with its first icon
    const auto band = barBand(host.edge);
    // trayer embeds the icon's own window (XEmbed); the panels draw the notifier item.
    std::string shot;
    std::optional<WindowBox> icon;
    std::optional<WindowBox> previous;
    ASSERT_TRUE(waitUntil(
        [&] {
            shot = session_.screenshot("tray-" + name + "-icon.png");
            previous = icon;
            icon = trayer ? session_.window("vesperine") : iconInBar(shot, band);
            // Found, and settled where the tray leaves it after growing for it.
            return icon && previous && icon->x == previous->x && icon->y == previous->y;
        },
        10))
        << "no icon in the bar " << band.first << "-" << band.second;
    // The filled right half against the bar at the corner of its box.
    EXPECT_GE(contrast(shot, icon->x + icon->width * 5 / 8, icon->midY(), icon->x, icon->y), 3.0)
        << "the icon is hard to see on this bar";

    openPanel(*icon);
    const std::string open = session_.screenshot("tray-" + name + ".png");
    const WindowBox box = *session_.window("Vesperine");
    expectRoundedCorners(open, box);
    if (host.composited) {
        EXPECT_NE(run({"xwininfo", "-id", box.id}).find("Depth: 32"), std::string::npos)
            << "no translucent window under the compositor";
    }
    EXPECT_EQ(box.width, 288);
    EXPECT_NEAR(box.x, std::clamp(icon->midX() - 144, 0, kScreenWidth - 288), 1);
    // 6 from the bar, whatever the icon's height.
    EXPECT_EQ(
        std::string(host.edge) == "top" ? box.y - band.second : band.first - box.y - box.height, 6);
    const std::string state = run({"xprop", "-id", box.id, "_NET_WM_STATE"});
    EXPECT_NE(state.find("_NET_WM_STATE_SKIP_TASKBAR"), std::string::npos) << state;
    EXPECT_NE(state.find("_NET_WM_STATE_ABOVE"), std::string::npos) << state;
    session_.click(icon->midX(), icon->midY());
    EXPECT_TRUE(waitClosed()) << "second click on the icon";

    menuEntry(*icon, 1);
    EXPECT_TRUE(storedEnabled(true)) << "the menu's run entry";
    // Another process rewrites the stored state, as the store does (a rename
    // over the file): the running tray puts it on screen by itself.
    for (const bool on : {false, true}) {
        testing::writeFile(home_.file("state/vesperine/written"),
                           std::regex_replace(storedFilter(), std::regex("enabled=\\w+"),
                                              on ? "enabled=true" : "enabled=false"));
        std::rename(home_.file("state/vesperine/written").c_str(),
                    home_.file("state/vesperine/color-filter.ini").c_str());
        EXPECT_TRUE(gammaShows(on)) << storedFilter();
    }

    openPanel(*icon);
    session_.click(200, (band.first + band.second) / 2);
    // trayer is only as wide as its icon: there the click lands on the desktop.
    EXPECT_TRUE(waitClosed()) << "a click on the empty bar or the desktop";
    auto other = session_.start({"xmessage", "-geometry", "300x100+100+400", "elsewhere"}, "xmsg");
    ASSERT_NE(run({"xdotool", "search", "--sync", "--name", "^xmessage$"}), "");
    openPanel(*icon);
    session_.click(250, 450);
    EXPECT_TRUE(waitClosed()) << "a click on another window";

    // The run/pause control spans the panel below the title row.
    openPanel(*icon);
    for (const bool on : {false, true}) {
        session_.click(box.x + 144, box.y + 82);
        ASSERT_TRUE(storedEnabled(on)) << storedFilter();
        EXPECT_TRUE(gammaShows(on));
        EXPECT_TRUE(panelViewable()) << "a click on a control keeps the panel open";
    }
    run({"xdotool", "key", "Escape"});
    EXPECT_TRUE(waitClosed()) << "Escape";

    // "Settings…" opens the panel on its taller settings page; "Quit" ends.
    menuEntry(*icon, 2);
    EXPECT_TRUE(waitUntil(
        [&] { return session_.window("Vesperine").value_or(WindowBox{}).height > box.height; }, 5))
        << "the menu's settings entry";
    run({"xdotool", "key", "Escape"});
    EXPECT_TRUE(waitClosed());
    if (trayer) {
        EXPECT_EQ(appErr(), "vesperine: menu-bar item created\n");
    }
    menuEntry(*icon, 3);
    EXPECT_EQ(app->waitForExit(5), std::optional<int>(0)) << "the menu's quit entry";
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, TrayHostTest,
    ::testing::Values(TrayHost{"trayer_top_composited", "trayer", "top", "center", false, true},
                      TrayHost{"trayer_bottom", "trayer", "bottom", "right", false, false},
                      TrayHost{"xfce_top_dark", "xfce4-panel", "top", "", true, false},
                      TrayHost{"xfce_bottom_light", "xfce4-panel", "bottom", "", false, false},
                      TrayHost{"lxqt", "lxqt-panel", "top", "", true, true},
                      TrayHost{"none", "", "top", "", false, false}),
    [](const ::testing::TestParamInfo<TrayHost>& info) { return std::string(info.param.name); });

// GNOME Shell with its indicator extension, headless: the icon shows on the
// shell's dark bar, a click opens the exported menu, and Activate (a double
// click there) opens the panel under the indicator.
TEST(GnomeShellTrayTest, TheIndicatorShowsTheIconItsMenuAndOpensThePanelBelowIt) {
    if (const auto missing =
            testing::DesktopSession::missingProgram({"gnome-shell", "gdbus", "xwininfo"})) {
        GTEST_SKIP() << *missing << " is not installed (scripts/setup-deps installs it)";
    }
    testing::TempDir home;
    testing::DesktopSession session(home);
    ASSERT_TRUE(session.startBus());
    ASSERT_TRUE(session.startGnomeShell()) << readFile(home.file("shell.err"));
    auto app = session.start({VESPERINE_EXECUTABLE}, "app");

    const std::string indicator =
        "Main.panel.statusArea[Object.keys(Main.panel.statusArea).find(k => "
        "k.startsWith('appindicator-'))]";
    std::string found;
    std::string previous;
    ASSERT_TRUE(waitUntil(
        [&] {
            previous = found;
            found = session.shellEval("(() => { const a = " + indicator +
                                      "; if (!a) return ''; const [x, y] = "
                                      "a.get_transformed_position(); const [w, h] = "
                                      "a.get_transformed_size(); return [x, y, w, h, "
                                      "Main.panel.height].map(Math.round).join(' '); })()");
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            // Laid out, and settled where the other indicators leave it.
            return found == previous && !found.empty() && found.find("NaN") == std::string::npos;
        },
        10))
        << readFile(home.file("app.err"));
    int x = 0, y = 0, width = 0, height = 0, barHeight = 0;
    std::istringstream(found) >> x >> y >> width >> height >> barHeight;
    ASSERT_GT(width, 0) << found;
    SCOPED_TRACE("indicator at " + found);
    const auto click = [&] {
        session.shellEval(
            "(() => { const Clutter = imports.gi.Clutter; const GLib = imports.gi.GLib; "
            "global._vesperinePointer = global._vesperinePointer || Clutter.get_default_backend()"
            ".get_default_seat().create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE); "
            "const p = global._vesperinePointer; const t = GLib.get_monotonic_time(); "
            "p.notify_absolute_motion(t, " +
            std::to_string(x + width / 2) + ", " + std::to_string(y + height / 2) +
            "); p.notify_button(t + 10, Clutter.BUTTON_PRIMARY, Clutter.ButtonState.PRESSED); "
            "p.notify_button(t + 20, Clutter.BUTTON_PRIMARY, Clutter.ButtonState.RELEASED); })()");
    };
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // drawn
    // The icon's filled half at the middle of the indicator, against the bar.
    EXPECT_GE(contrast(session.screenshot("tray-gnome-shell-icon.png"), x + width / 2 + 3,
                       y + height / 2, x + 1, y + height / 2),
              3.0)
        << "the icon is hard to see on the shell's bar";

    const auto menu = [&] {
        return session.shellEval("(() => { const m = " + indicator +
                                 ".menu; return m.isOpen + ' ' + m._getMenuItems().map(i => "
                                 "i.label ? i.label.text : '').join('|'); })()");
    };
    // The extension reads the exported menu over the bus after the item
    // appears (seen after over 10 s on a busy machine); a click before it has
    // the menu is taken for Activate.
    ASSERT_TRUE(waitUntil([&] { return menu() == "false Run · Filter off|Settings…||Quit"; }, 20))
        << menu();
    click();
    EXPECT_TRUE(waitUntil([&] { return menu() == "true Run · Filter off|Settings…||Quit"; }, 5))
        << "the menu on a click: " << menu();
    session.shellEval(indicator + ".menu.close()");
    // Past the double-click time, or the next click pairs with the last one.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));

    // The extension sends Activate on a double click.
    click();
    click();
    std::optional<WindowBox> panel;
    ASSERT_TRUE(waitUntil([&] { return (panel = session.window("Vesperine")).has_value(); }, 5))
        << "the panel did not open";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    session.screenshot("tray-gnome-shell.png");
    EXPECT_EQ(panel->width, 288);
    EXPECT_EQ(panel->y, barHeight + 6) << "6 below the shell's bar";
    EXPECT_LE(std::abs(panel->midX() - (x + width / 2)), 144) << "under the indicator";
}

// How often `file` in `folder` was replaced (the store renames each write
// into place) while `process` ran and half a second after: in all, and the
// most within one second; how long it ran.
std::pair<std::size_t, std::size_t> replacements(const std::string& folder, const std::string& file,
                                                 testing::BackgroundProcess& process,
                                                 double& seconds) {
    using Clock = std::chrono::steady_clock;
    const int events = inotify_init1(IN_NONBLOCK);
    inotify_add_watch(events, folder.c_str(), IN_MOVED_TO);
    std::vector<Clock::time_point> times;
    const auto started = Clock::now();
    for (auto end = started + std::chrono::hours(1); Clock::now() < end;) {
        if (process.running()) {
            seconds = std::chrono::duration<double>(Clock::now() - started).count();
            end = Clock::now() + std::chrono::milliseconds(500);
        }
        pollfd ready{events, POLLIN, 0};
        alignas(inotify_event) char buffer[4096];
        const ssize_t length = poll(&ready, 1, 10) > 0 ? read(events, buffer, sizeof buffer) : 0;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0 && event->name == file) {
                times.push_back(Clock::now());
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    close(events);
    std::size_t most = 0;
    for (auto first = times.begin(); first != times.end(); ++first) {
        const auto last = std::lower_bound(first, times.end(), *first + std::chrono::seconds(1));
        most = std::max(most, static_cast<std::size_t>(last - first));
    }
    return {times.size(), most};
}

using SettingsEndToEndTest = X11DesktopTest;

// The settings page with trayer: a slow drag of the slider writes the store a
// few times a second and leaves screen and file agreeing, typed coordinates and
// Set store the place, Automatic stores the flag and the filter follows the
// schedule, Quit ends the process. Where to click comes from laying the same
// pages out in this process at the panel's width, with nothing stored.
TEST_F(SettingsEndToEndTest, StrengthPlaceAutomaticAndQuit) {
    testing::ModelRig rig;
    AppModel& model = rig.make();
    FrontPage front(model, [] {});
    SettingsPage collapsed(
        model, [] {}, [] {}, false);
    SettingsPage expanded(
        model, [] {}, [] {}, true);
    for (QWidget* page : std::initializer_list<QWidget*>{&front, &collapsed, &expanded}) {
        testing::showAtWidth(*page);
    }
    ASSERT_TRUE(session_.startTray("top", "right")) << session_.displayFailure();
    // The filter is on at 30 %, so the ramps show the strength.
    testing::writeFile(home_.file("state/vesperine/color-filter.ini"),
                       "[ColorFilter]\nenabled=true\nstrength=0.3\n");
    const auto app = session_.start({VESPERINE_EXECUTABLE}, "app");
    ASSERT_TRUE(waitUntil([&] { return session_.window("vesperine").has_value(); }, 20))
        << appErr();
    ASSERT_TRUE(gammaShows(true));
    const auto ramps = [&] { return testing::crtcRamps(session_.display()); };
    const auto rampsAt30 = ramps();

    // Waits for the panel at the size of `page` laid out here, then for it to settle.
    std::optional<WindowBox> panel;
    const auto shows = [&](const QWidget& page) {
        const bool shown = waitUntil(
            [&] {
                panel = session_.window("Vesperine");
                return panel && panel->width == page.width() && panel->height == page.height();
            },
            5);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return shown;
    };
    // The middle of the part `name` of `page`, on the open panel.
    const auto click = [&](QWidget& page, const char* name) {
        QWidget& part = testing::child<QWidget>(page, name);
        const QPoint at = part.mapTo(&page, part.rect().center());
        session_.click(panel->x + at.x(), panel->y + at.y());
    };
    const WindowBox icon = *session_.window("vesperine");
    session_.click(icon.midX(), icon.midY());
    ASSERT_TRUE(shows(front)) << (panel ? panel->height : 0) << " for " << front.height();
    click(front, "settingsButton");
    ASSERT_TRUE(shows(collapsed)) << (panel ? panel->height : 0) << " for " << collapsed.height();
    session_.screenshot("settings-page.png");

    // Drag the thumb from 30 % to the right end, back to the left end and up
    // to about 40 %, a step every 10 ms, as a slow hand would.
    QWidget& slider = testing::child<QWidget>(collapsed, "strengthSlider");
    const int y = panel->y + slider.mapTo(&collapsed, slider.rect().center()).y();
    const auto xAt = [&](double share) {
        return panel->x + slider.mapTo(&collapsed, QPoint(7, 0)).x() +
               static_cast<int>((slider.width() - 14) * share);
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
    double dragSeconds = 0;
    const auto [writes, mostInOneSecond] =
        replacements(home_.file("state/vesperine"), "color-filter.ini",
                     *session_.start(drag, "drag"), dragSeconds);
    const std::string stored = storedFilter();
    EXPECT_GT(dragSeconds, 2.0);
    EXPECT_GE(writes, 2u);  // during the drag, and where it ended
    EXPECT_LE(mostInOneSecond, 6u) << writes << " in " << dragSeconds << " s";
    // Screen and file agree: putting the stored state on screen afresh (the
    // same value again writes nothing but applies) leaves the ramps as they are.
    const auto afterDrag = ramps();
    EXPECT_NE(afterDrag, rampsAt30);
    const auto strength = stored.substr(stored.find("strength=") + 9);
    run({VESPERINE_EXECUTABLE, "--set-intensity", strength.substr(0, strength.find('\n'))});
    ASSERT_FALSE(afterDrag.empty());
    EXPECT_TRUE(ramps() == afterDrag) << "the screen shows another strength than the file";
    EXPECT_EQ(storedFilter(), stored);

    // Open the coordinates row and store a place where it is noon now.
    const auto settingsFile = [&] { return readFile(home_.file("config/vesperine/settings.ini")); };
    click(collapsed, "fineTuneLink");
    ASSERT_TRUE(shows(expanded)) << (panel ? panel->height : 0) << " for " << expanded.height();
    // Where it is about noon now: 180 at midnight UTC, 15 degrees west an hour after.
    const std::string longitude = std::to_string((43200 - std::time(nullptr) % 86400) / 240);
    for (const auto& [field, text] :
         {std::pair{"latitudeField", std::string("0")}, {"longitudeField", longitude}}) {
        click(expanded, field);
        run({"xdotool", "type", "--delay", "20", "--", text});
    }
    click(expanded, "setButton");
    ASSERT_TRUE(waitUntil(
        [&] {
            return settingsFile().find("latitude=0\n") != std::string::npos &&
                   settingsFile().find("longitude=" + longitude + "\n") != std::string::npos;
        },
        5))
        << settingsFile();
    // Storing a place alone does not switch the schedule on.
    EXPECT_NE(storedFilter().find("enabled=true"), std::string::npos);
    session_.screenshot("settings-page-coordinates.png");

    // Automatic on: the flag is stored and the filter follows the schedule (day: off).
    const std::string decision =
        run({VESPERINE_EXECUTABLE, "--decide", "--lat", "0", "--lon", longitude});
    ASSERT_NE(decision.find("want OFF"), std::string::npos) << decision;
    click(expanded, "automaticSwitch");
    EXPECT_TRUE(waitUntil(
        [&] { return settingsFile().find("automationEnabled=true") != std::string::npos; }, 5))
        << settingsFile();
    EXPECT_TRUE(storedEnabled(false)) << storedFilter();
    EXPECT_TRUE(gammaShows(false)) << session_.gamma();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    session_.screenshot("settings-page-automatic.png");

    click(expanded, "quitRow");
    EXPECT_EQ(app->waitForExit(5), std::optional<int>(0));
}

}  // namespace
}  // namespace vesperine
