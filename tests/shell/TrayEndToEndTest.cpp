// The tray application in a real X server: Xvfb and openbox with trayer, a
// panel of the desktops people use or no tray at all, and GNOME Shell.
// Screenshots of the open panel go to the build's artifacts/.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <memory>
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

using testing::BackgroundProcess;
using testing::readFile;
using testing::runProcess;
using testing::TempDir;
using testing::waitUntil;

struct WindowBox {
    std::string id;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int midX() const { return x + width / 2; }
};

constexpr int kScreenWidth = testing::DesktopSession::kScreenWidth;
constexpr int kScreenHeight = testing::DesktopSession::kScreenHeight;
constexpr int kTrayHeight = testing::DesktopSession::kTrayHeight;

// The application's windows in an `xwininfo -root -tree` listing titled `title` whose
// width lies in [minWidth, maxWidth]: the tray icon is a small one titled "vesperine",
// the panel the one titled "Vesperine".
std::vector<WindowBox> windowsIn(const std::string& tree, const std::string& title, int minWidth,
                                 int maxWidth) {
    const std::regex line(
        "(0x[0-9a-f]+) \"" + title +
        R"(": \("vesperine" "vesperine"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))");
    std::vector<WindowBox> found;
    for (std::sregex_iterator it(tree.begin(), tree.end(), line), end; it != end; ++it) {
        const int width = std::stoi((*it)[2]);
        if (width >= minWidth && width <= maxWidth) {
            found.push_back(WindowBox{(*it)[1], std::stoi((*it)[4]), std::stoi((*it)[5]), width,
                                      std::stoi((*it)[3])});
        }
    }
    return found;
}

std::string artifact(const std::string& name) {
    mkdir(VESPERINE_ARTIFACT_DIR, 0755);
    return std::string(VESPERINE_ARTIFACT_DIR) + "/" + name;
}

// The linear luminance of one pixel of a screenshot.
double linearLuma(const std::string& path, int x, int y) {
    const double c = std::stod(
        runProcess({"convert", path, "-crop", "1x1+" + std::to_string(x) + "+" + std::to_string(y),
                    "-colorspace", "Gray", "-format", "%[fx:mean]", "info:"})
            .out);
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// The contrast of two linear luminances; 3:1 is the least for a symbol.
double contrast(double a, double b) {
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

class TrayEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const auto missing = testing::DesktopSession::missingProgram(
                {"xdotool", "xwininfo", "xrandr", "import", "convert", "xmessage"})) {
            GTEST_SKIP() << *missing << " is not installed (scripts/setup-deps installs it)";
        }
        ASSERT_TRUE(session_.startBus());
        ASSERT_TRUE(session_.startDisplay()) << session_.displayFailure();
    }

    std::string run(const std::vector<std::string>& argv) { return session_.run(argv); }

    void startApplication() {
        app_ = session_.start({VESPERINE_EXECUTABLE}, "app");
        ASSERT_TRUE(waitUntil([&] { return appErr().find('\n') != std::string::npos; }, 20))
            << appErr();
    }

    std::string appErr() const { return readFile(home_.file("app.err")); }

    std::vector<WindowBox> windows(const std::string& title, int minWidth, int maxWidth) {
        return windowsIn(run({"xwininfo", "-root", "-tree"}), title, minWidth, maxWidth);
    }
    std::optional<WindowBox> trayIcon() {
        const auto found = windows("vesperine", 2, 63);
        return found.empty() ? std::nullopt : std::optional(found.back());
    }
    std::optional<WindowBox> panel() {
        const auto found = windows("Vesperine", 0, 100000);
        return found.empty() ? std::nullopt : std::optional(found.front());
    }

    bool panelViewable() {
        const auto box = panel();
        return box && run({"xwininfo", "-id", box->id}).find("IsViewable") != std::string::npos;
    }

    void click(int x, int y) {
        run({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "1"});
    }

    void clickIcon() {
        const auto icon = trayIcon();
        ASSERT_TRUE(icon);
        click(icon->midX(), icon->y + icon->height / 2);
    }

    void openPanel() {
        clickIcon();
        ASSERT_TRUE(waitUntil([&] { return panelViewable(); }, 5)) << "the panel did not open";
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // painted
    }

    bool waitClosed() {
        return waitUntil([&] { return !panelViewable(); }, 5);
    }

    std::string screenshot(const std::string& name) {
        const std::string path = artifact(name);
        run({"import", "-window", "root", path});
        return path;
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
        EXPECT_NE(pixel(box.x + 12, box.y + box.height / 2), desktop);
    }

    std::string storedFilter() { return readFile(home_.file("state/vesperine/color-filter.ini")); }
    bool storedEnabled(bool on) {
        return waitUntil(
            [&] {
                return storedFilter().find(on ? "enabled=true" : "enabled=false") !=
                       std::string::npos;
            },
            5);
    }
    std::string gamma() {
        std::smatch m;
        const std::string out = run({"xrandr", "--verbose"});
        return std::regex_search(out, m, std::regex(R"(Gamma:\s+(\S+))")) ? m[1].str() : "";
    }

    TempDir home_;
    testing::DesktopSession session_{home_};
    std::unique_ptr<BackgroundProcess> tray_;
    std::unique_ptr<BackgroundProcess> app_;
    std::vector<std::unique_ptr<BackgroundProcess>> helpers_;
};

TEST_F(TrayEndToEndTest, TheIconOpensThePanelUnderItItsControlsWorkAndEveryWayClosesIt) {
    tray_ = session_.startTray("top", "center");
    startApplication();
    ASSERT_TRUE(waitUntil([&] { return trayIcon().has_value(); }, 10));
    const WindowBox icon = *trayIcon();
    EXPECT_EQ(gamma(), "1.0:1.0:1.0");

    openPanel();
    const WindowBox box = *panel();
    expectRoundedCorners(screenshot("panel-open-top-tray.png"), box);
    EXPECT_EQ(box.width, 288);
    EXPECT_NEAR(box.midX(), icon.midX(), 1);
    EXPECT_EQ(box.y, kTrayHeight + 6);  // 6 from the bar, whatever the icon's height
    const std::string state = run({"xprop", "-id", box.id, "_NET_WM_STATE"});
    EXPECT_NE(state.find("_NET_WM_STATE_SKIP_TASKBAR"), std::string::npos) << state;
    EXPECT_NE(state.find("_NET_WM_STATE_ABOVE"), std::string::npos) << state;

    run({"xdotool", "key", "Escape"});
    EXPECT_TRUE(waitClosed()) << "Escape";

    openPanel();
    clickIcon();
    EXPECT_TRUE(waitClosed()) << "second click on the icon";

    helpers_.push_back(
        session_.start({"xmessage", "-geometry", "300x100+100+400", "elsewhere"}, "xmsg"));
    ASSERT_TRUE(waitUntil(
        [&] {
            return !run({"xdotool", "search", "--name", "^xmessage$"}).empty();
        },
        5));
    openPanel();
    click(250, 450);
    EXPECT_TRUE(waitClosed()) << "click on another window";

    // The run/pause control spans the panel below the title row; a click on
    // it keeps the panel open. (A click on the icon right after a resign is
    // the one that took the focus and is ignored.)
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    openPanel();
    for (const bool on : {true, false}) {
        click(box.x + 144, box.y + 82);
        ASSERT_TRUE(storedEnabled(on)) << storedFilter();
        EXPECT_TRUE(waitUntil([&] { return (gamma() == "1.0:1.0:1.0") != on; }, 3)) << gamma();
        EXPECT_TRUE(panelViewable()) << "a click on a control keeps the panel open";
    }

    EXPECT_EQ(appErr(), "vesperine: menu-bar item created\n");
    EXPECT_TRUE(app_->running());
}

TEST_F(TrayEndToEndTest, UnderACompositorThePanelIsTranslucentWithRoundCorners) {
    if (!testing::programInstalled("xcompmgr")) {
        GTEST_SKIP() << "xcompmgr is not installed (scripts/setup-deps installs it)";
    }
    helpers_.push_back(session_.start({"xcompmgr", "-n"}, "xcompmgr"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(helpers_.back()->running()) << readFile(home_.file("xcompmgr.err"));
    tray_ = session_.startTray("top", "center");
    startApplication();
    ASSERT_TRUE(waitUntil([&] { return trayIcon().has_value(); }, 10));
    openPanel();
    const WindowBox box = *panel();
    EXPECT_NE(run({"xwininfo", "-id", box.id}).find("Depth: 32"), std::string::npos)
        << "no translucent window under the compositor";
    expectRoundedCorners(screenshot("panel-open-composited.png"), box);
}

struct TrayHost {
    const char* name;
    const char* panel;  // "trayer", "xfce4-panel", "lxqt-panel" or "" for none
    const char* edge;
    bool dark;
};

void PrintTo(const TrayHost& host, std::ostream* out) {
    *out << host.name;
}

class TrayHostTest : public TrayEndToEndTest, public ::testing::WithParamInterface<TrayHost> {
  protected:
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
        const std::string box =
            run({"convert", shot, "-crop",
                 "160x" + std::to_string(band.second - band.first - 6) + "+" +
                     std::to_string(left) + "+" + std::to_string(band.first + 3),
                 "+repage", "-fuzz", "25%", "-trim", "-format", "%w %h %X %Y", "info:"});
        std::istringstream in(box);
        WindowBox icon;
        if (!(in >> icon.width >> icon.height >> icon.x >> icon.y) || icon.width > 40 ||
            icon.width < 6) {
            return std::nullopt;
        }
        icon.x += left;
        icon.y += band.first + 3;
        return icon;
    }
};

TEST_P(TrayHostTest, TheIconShowsOpensThePanelBesideTheBarAndOffersItsMenu) {
    const TrayHost host = GetParam();
    std::vector<std::unique_ptr<BackgroundProcess>> bar;
    if (std::string(host.panel) == "trayer") {
        tray_ = session_.startTray(host.edge, "right");
    } else if (*host.panel) {
        bar = session_.startPanel(host.panel, host.edge, host.dark);
        ASSERT_TRUE(
            waitUntil([&] { return barBand(host.edge).second > barBand(host.edge).first; }, 15))
            << readFile(home_.file("panel.err"));
    }
    startApplication();
    const std::string name = host.name;

    if (!*host.panel) {
        EXPECT_TRUE(
            waitUntil([&] { return appErr().find("no system tray") != std::string::npos; }, 3))
            << appErr();
        testing::ProcessOptions options;
        options.environment = session_.environment();
        const auto second = runProcess({VESPERINE_EXECUTABLE}, options);
        EXPECT_EQ(second.exitStatus, 0) << second.err;
        ASSERT_TRUE(waitUntil([&] { return panelViewable(); }, 5)) << "the second start";
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        screenshot("tray-" + name + ".png");
        EXPECT_EQ(panel()->x + 288, kScreenWidth);
        EXPECT_EQ(panel()->y, 6);
        // A tray started later takes the icon.
        tray_ = session_.startTray("top", "right");
        EXPECT_TRUE(waitUntil([&] { return trayIcon().has_value(); }, 10));
        return;
    }

    const auto band = barBand(host.edge);
    const std::string shot = artifact("tray-" + name + "-icon.png");
    std::optional<WindowBox> icon;
    ASSERT_TRUE(waitUntil(
        [&] {
            screenshot("tray-" + name + "-icon.png");
            return (icon = iconInBar(shot, band)).has_value();
        },
        10))
        << "no icon in the bar " << band.first << "-" << band.second;
    // The filled right half against the bar at the corner of its box.
    EXPECT_GE(contrast(linearLuma(shot, icon->x + icon->width * 5 / 8, icon->y + icon->height / 2),
                       linearLuma(shot, icon->x, icon->y)),
              3.0)
        << "the icon is hard to see on this bar";

    click(icon->midX(), icon->y + icon->height / 2);
    ASSERT_TRUE(waitUntil([&] { return panelViewable(); }, 5)) << "the panel did not open";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    screenshot("tray-" + name + ".png");
    const WindowBox box = *panel();
    EXPECT_EQ(box.width, 288);
    EXPECT_EQ(box.x + box.width, kScreenWidth);
    if (std::string(host.edge) == "top") {
        EXPECT_EQ(box.y, band.second + 6);
    } else {
        EXPECT_EQ(box.y + box.height, band.first - 6);
    }
    click(200, (band.first + band.second) / 2);
    EXPECT_TRUE(waitClosed()) << "a click on the empty bar";

    // The menu: its first entry runs the filter.
    run({"xdotool", "mousemove", std::to_string(icon->midX()),
         std::to_string(icon->y + icon->height / 2), "click", "3"});
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    screenshot("tray-" + name + "-menu.png");
    run({"xdotool", "key", "Down", "Return"});
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
        EXPECT_TRUE(waitUntil([&] { return (gamma() == "1.0:1.0:1.0") != on; }, 3)) << gamma();
    }
    // "Settings…" opens the panel on its taller settings page; "Quit" ends.
    const auto menuEntry = [&](int downs) {
        run({"xdotool", "mousemove", std::to_string(icon->midX()),
             std::to_string(icon->y + icon->height / 2), "click", "3"});
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        for (int i = 0; i < downs; ++i) {
            run({"xdotool", "key", "Down"});
        }
        run({"xdotool", "key", "Return"});
    };
    menuEntry(2);
    EXPECT_TRUE(waitUntil([&] { return panelViewable() && panel()->height > box.height; }, 5))
        << "the menu's settings entry";
    run({"xdotool", "key", "Escape"});
    EXPECT_TRUE(waitClosed());
    menuEntry(3);
    EXPECT_TRUE(waitUntil([&] { return !app_->running(); }, 5)) << "the menu's quit entry";
    EXPECT_EQ(app_->exitStatus(), 0);
}

// trayer embeds the icon (XEmbed); the panels show the notifier item.
INSTANTIATE_TEST_SUITE_P(
    Hosts, TrayHostTest,
    ::testing::Values(TrayHost{"trayer_bottom", "trayer", "bottom", false},
                      TrayHost{"xfce_top_dark", "xfce4-panel", "top", true},
                      TrayHost{"xfce_bottom_light", "xfce4-panel", "bottom", false},
                      TrayHost{"lxqt", "lxqt-panel", "top", true},
                      TrayHost{"none", "", "top", false}),
    [](const ::testing::TestParamInfo<TrayHost>& info) { return std::string(info.param.name); });

// GNOME Shell with its indicator extension, headless: the icon shows on the
// shell's dark bar, a click opens the exported menu, and Activate (a double
// click there) opens the panel under the indicator.
TEST(GnomeShellTrayTest, TheIndicatorShowsTheIconItsMenuAndOpensThePanelBelowIt) {
    if (const auto missing =
            testing::DesktopSession::missingProgram({"gnome-shell", "gdbus", "xwininfo"})) {
        GTEST_SKIP() << *missing << " is not installed (scripts/setup-deps installs it)";
    }
    TempDir home;
    testing::DesktopSession session(home);
    ASSERT_TRUE(session.startBus());
    ASSERT_TRUE(session.startGnomeShell()) << readFile(home.file("shell.err"));
    auto app = session.start({VESPERINE_EXECUTABLE}, "app");

    const std::string indicator =
        "Main.panel.statusArea[Object.keys(Main.panel.statusArea).find(k => "
        "k.startsWith('appindicator-'))]";
    std::istringstream box;
    std::string previous;
    ASSERT_TRUE(waitUntil(
        [&] {
            const std::string found = session.shellEval(
                "(() => { const a = " + indicator +
                "; if (!a) return ''; const [x, y] = "
                "a.get_transformed_position(); const [w, h] = a.get_transformed_size(); "
                "return [x, y, w, h, Main.panel.height].map(Math.round).join(' '); })()");
            box.str(found);
            // Laid out, and settled where the other indicators leave it.
            const bool settled =
                found == previous && !found.empty() && found.find("NaN") == std::string::npos;
            previous = found;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return settled;
        },
        10))
        << readFile(home.file("app.err"));
    int x = 0, y = 0, width = 0, height = 0, barHeight = 0;
    box >> x >> y >> width >> height >> barHeight;
    ASSERT_GT(width, 0) << box.str();
    SCOPED_TRACE("indicator at " + box.str());
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
    const auto screenshot = [&](const std::string& name) {
        const std::string path = artifact(name);
        session.run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                     "/org/gnome/Shell/Screenshot", "--method",
                     "org.gnome.Shell.Screenshot.Screenshot", "false", "false", path});
        return path;
    };
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // drawn
    const std::string bar = screenshot("tray-gnome-shell-icon.png");
    // The icon's filled half at the middle of the indicator, against the bar.
    EXPECT_GE(contrast(linearLuma(bar, x + width / 2 + 3, y + height / 2),
                       linearLuma(bar, x + 1, y + height / 2)),
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
    std::this_thread::sleep_for(std::chrono::milliseconds(400));  // faded in
    screenshot("tray-gnome-shell-menu.png");
    session.shellEval(indicator + ".menu.close()");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    // The extension sends Activate on a double click.
    click();
    click();
    std::vector<WindowBox> panel;
    ASSERT_TRUE(waitUntil(
        [&] {
            panel = windowsIn(session.run({"xwininfo", "-root", "-tree"}), "Vesperine", 0, 100000);
            return !panel.empty() && panel.front().height > 1;
        },
        5))
        << "the panel did not open";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    screenshot("tray-gnome-shell.png");
    EXPECT_EQ(panel.front().width, 288);
    EXPECT_EQ(panel.front().y, barHeight + 6) << "6 below the shell's bar";
    EXPECT_LE(std::abs(panel.front().midX() - (x + width / 2)), 144) << "under the indicator";
    app->stop();
}

}  // namespace
}  // namespace vesperine
