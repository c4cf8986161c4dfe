// The tray application in a real X server: Xvfb and openbox with trayer, a
// panel of the desktops people use or no tray at all, and GNOME Shell.
// Screenshots of the open panel go to the build's artifacts/.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include "support/BackgroundProcess.h"
#include "support/DesktopSession.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

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
    const double a = luma(x1, y1);
    const double b = luma(x2, y2);
    return std::max(a, b) / std::min(a, b);
}

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

class TrayHostTest : public ::testing::TestWithParam<TrayHost> {
  protected:
    void SetUp() override {
        if (const auto missing = testing::DesktopSession::missingProgram(
                {"xdotool", "xwininfo", "xrandr", "import", "convert", "xmessage", "xcompmgr",
                 "xsetroot"})) {
            GTEST_SKIP() << *missing << " is not installed (scripts/setup-deps installs it)";
        }
        ASSERT_TRUE(session_.startBus());
        ASSERT_TRUE(session_.startDisplay()) << session_.displayFailure();
        // A desktop colour the panel never uses, so that its corners show it.
        run({"xsetroot", "-solid", "#3a6ea5"});
    }

    std::string run(const std::vector<std::string>& argv) { return session_.run(argv); }
    std::string appErr() const { return readFile(home_.file("app.err")); }

    bool panelViewable() {
        const auto box = session_.window("Vesperine");
        return box && run({"xwininfo", "-id", box->id}).find("IsViewable") != std::string::npos;
    }
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

    std::string storedFilter() { return readFile(home_.file("state/vesperine/color-filter.ini")); }
    bool storedEnabled(bool on) {
        const std::string line = on ? "enabled=true" : "enabled=false";
        return waitUntil([&] { return storedFilter().find(line) != std::string::npos; }, 5);
    }
    // Whether the screen's gamma is other than the identity, within 3 s.
    bool gammaShows(bool on) {
        return waitUntil([&] { return (session_.gamma() != "1.0:1.0:1.0") == on; }, 3);
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
    // The icon's box in the right end of the bar: what differs from the bar.
    std::optional<WindowBox> iconInBar(const std::string& shot, std::pair<int, int> band) {
        const int left = kScreenWidth - 160;
        std::istringstream in(
            run({"convert", shot, "-crop",
                 "160x" + std::to_string(band.second - band.first - 6) + "+" +
                     std::to_string(left) + "+" + std::to_string(band.first + 3),
                 "+repage", "-fuzz", "25%", "-trim", "-format", "%w %h %X %Y", "info:"}));
        WindowBox icon;
        if (!(in >> icon.width >> icon.height >> icon.x >> icon.y) || icon.width > 40 ||
            icon.width < 6) {
            return std::nullopt;
        }
        icon.x += left;
        icon.y += band.first + 3;
        return icon;
    }

    testing::TempDir home_;
    testing::DesktopSession session_{home_};
};

TEST_P(TrayHostTest, TheIconOpensThePanelBesideTheBarItsControlsAndMenuWorkAndEveryWayClosesIt) {
    const TrayHost host = GetParam();
    const std::string name = host.name;
    const bool trayer = std::string(host.panel) == "trayer";
    const auto barShown = [&] {
        return waitUntil([&] { return barBand(host.edge).second > barBand(host.edge).first; }, 15);
    };
    std::vector<std::unique_ptr<testing::BackgroundProcess>> bar;
    if (trayer && host.composited) {
        bar.push_back(session_.start({"xcompmgr", "-n"}, "xcompmgr"));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ASSERT_TRUE(bar.back()->running()) << readFile(home_.file("xcompmgr.err"));
    }
    if (trayer) {
        bar.push_back(session_.startTray(host.edge, host.align));
        ASSERT_TRUE(session_.trayPresent());
    } else if (*host.panel) {
        bar = session_.startPanel(host.panel, host.edge, host.dark);
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
        testing::ProcessOptions options;
        options.environment = session_.environment();
        const auto second = testing::runProcess({VESPERINE_EXECUTABLE}, options);
        EXPECT_EQ(second.exitStatus, 0) << second.err;
        ASSERT_TRUE(waitUntil([&] { return panelViewable(); }, 5)) << "the second start";
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        session_.screenshot("tray-" + name + ".png");
        EXPECT_EQ(session_.window("Vesperine")->x + 288, kScreenWidth);
        EXPECT_EQ(session_.window("Vesperine")->y, 6);
        // A tray started later takes the icon.
        bar.push_back(session_.startTray("top", "right"));
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
    if (std::string(host.edge) == "top") {
        EXPECT_EQ(box.y, band.second + 6);  // 6 from the bar, whatever the icon's height
    } else {
        EXPECT_EQ(box.y + box.height, band.first - 6);
    }
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
        std::string state = storedFilter();
        state.replace(state.find(on ? "enabled=false" : "enabled=true"), on ? 13 : 12,
                      on ? "enabled=true" : "enabled=false");
        testing::writeFile(home_.file("state/vesperine/written"), state);
        std::rename(home_.file("state/vesperine/written").c_str(),
                    home_.file("state/vesperine/color-filter.ini").c_str());
        EXPECT_TRUE(gammaShows(on)) << storedFilter();
    }

    openPanel(*icon);
    session_.click(200, (band.first + band.second) / 2);
    // trayer is only as wide as its icon: there the click lands on the desktop.
    EXPECT_TRUE(waitClosed()) << "a click on the empty bar or the desktop";
    auto other = session_.start({"xmessage", "-geometry", "300x100+100+400", "elsewhere"}, "xmsg");
    ASSERT_TRUE(waitUntil(
        [&] {
            return !run({"xdotool", "search", "--name", "^xmessage$"}).empty();
        },
        5));
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
        [&] { return panelViewable() && session_.window("Vesperine")->height > box.height; }, 5))
        << "the menu's settings entry";
    run({"xdotool", "key", "Escape"});
    EXPECT_TRUE(waitClosed());
    if (trayer) {
        EXPECT_EQ(appErr(), "vesperine: menu-bar item created\n");
    }
    menuEntry(*icon, 3);
    EXPECT_TRUE(waitUntil([&] { return !app->running(); }, 5)) << "the menu's quit entry";
    EXPECT_EQ(app->exitStatus(), 0);
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
    // appears; a click before it has the menu is taken for Activate.
    ASSERT_TRUE(waitUntil([&] { return menu() == "false Run · Filter off|Settings…||Quit"; }, 10))
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
    std::vector<WindowBox> panel;
    ASSERT_TRUE(waitUntil(
        [&] {
            panel = session.windows("Vesperine");
            return !panel.empty() &&
                   session.run({"xwininfo", "-id", panel.front().id}).find("IsViewable") !=
                       std::string::npos;
        },
        5))
        << "the panel did not open";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    session.screenshot("tray-gnome-shell.png");
    EXPECT_EQ(panel.front().width, 288);
    EXPECT_EQ(panel.front().y, barHeight + 6) << "6 below the shell's bar";
    EXPECT_LE(std::abs(panel.front().midX() - (x + width / 2)), 144) << "under the indicator";
}

}  // namespace
}  // namespace vesperine
