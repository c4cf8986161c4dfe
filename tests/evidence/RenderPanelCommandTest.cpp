// `vesperine --render-panel` end to end, with no display: the four pictures,
// their content, and the user's settings left exactly as they were.
#include <QColor>
#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "support/DesktopSession.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace vesperine {
namespace {

using testing::ProcessResult;

const char* const kPictures[] = {"panel-front-running.png", "panel-front-paused.png",
                                 "panel-settings.png", "menubar-icon-light-dark.png"};

bool near(const QColor& actual, const QColor& expected, int tolerance = 2) {
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance &&
           std::abs(actual.alpha() - expected.alpha()) <= tolerance;
}

QImage load(const std::string& path) {
    return QImage(QString::fromStdString(path));
}

// Every file below `root`, with its bytes.
std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> files;
    if (!std::filesystem::exists(root)) {
        return files;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        files[entry.path().string()] =
            entry.is_regular_file() ? testing::readFile(entry.path().string()) : "<dir>";
    }
    return files;
}

// Pixels of `image` within 2 of `colour`.
int countNear(const QImage& image, const QColor& colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += near(image.pixelColor(x, y), colour) ? 1 : 0;
        }
    }
    return count;
}

class RenderPanelCommand : public ::testing::Test {
  protected:
    RenderPanelCommand() {
        // A settings file with a place of the user's own, a comment and an odd
        // layout, and a live filter state: none of it may change.
        testing::writeFile(home.file("config/vesperine/settings.ini"),
                           "# my place\n[vesperine]\nlatitude=52.52\nlongitude=13.405\n"
                           "locationName=Berlin, Germany\nautomationEnabled=true\n\n");
        testing::writeFile(home.file("state/vesperine/color-filter.ini"),
                           "[ColorFilter]\nenabled=false\nstrength=0.3\n");
    }

    ProcessResult render(std::vector<std::string> arguments, double timeoutSeconds = 60) const {
        arguments.insert(arguments.begin(), "--render-panel");
        return testing::runVesperine(
            arguments, {testing::sessionEnvironment(home, std::nullopt, "unix:path=/none"),
                        home.path(), timeoutSeconds});
    }

    testing::TempDir home;
};

// By default into a new folder below the working directory; the stores are
// left byte for byte as they were.
TEST_F(RenderPanelCommand, WritesTheFourPicturesAndLeavesTheStoresAlone) {
    const std::string dir = home.file("docs/evidence/vesperine-ui");
    const auto config = snapshot(home.file("config"));
    const auto state = snapshot(home.file("state"));
    const ProcessResult result = render({});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "wrote panel evidence -> docs/evidence/vesperine-ui\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(snapshot(home.file("config")), config);
    EXPECT_EQ(snapshot(home.file("state")), state);

    const QImage running = load(dir + "/panel-front-running.png");
    const QImage paused = load(dir + "/panel-front-paused.png");
    const QImage settings = load(dir + "/panel-settings.png");
    for (const QImage* page : {&running, &paused, &settings}) {
        EXPECT_EQ(page->width(), 576);
        EXPECT_EQ(page->height() % 2, 0);
        // The panel's background reaches every edge.
        EXPECT_TRUE(near(page->pixelColor(0, 0), QColor::fromRgbF(0.067f, 0.07f, 0.078f)));
        EXPECT_TRUE(near(page->pixelColor(575, page->height() - 1),
                         QColor::fromRgbF(0.067f, 0.07f, 0.078f)));
    }
    EXPECT_EQ(running.height(), paused.height());
    EXPECT_GT(settings.height(), running.height());

    // The running control is green; the paused one is not green anywhere.
    const QColor green = QColor::fromRgbF(0.17f, 0.7f, 0.44f);
    EXPECT_GT(countNear(running, green), 576 * 40);
    EXPECT_EQ(countNear(paused, green), 0);
    EXPECT_EQ(countNear(settings, green), 0);

    // The icon: two tiles on a transparent canvas.
    const QImage composite = load(dir + "/menubar-icon-light-dark.png");
    ASSERT_EQ(composite.size(), QSize(624, 204));
    ASSERT_TRUE(composite.hasAlphaChannel());
    // Tile units are 6 pixels; tiles are 42 by 34 units, the second 20 units
    // right of the first; the icon's right half is filled at unit (24, 17).
    const auto at = [&](double x, double y) {
        return composite.pixelColor(static_cast<int>(x * 6), static_cast<int>(y * 6));
    };
    const QColor dark = QColor::fromRgbF(0.13f, 0.13f, 0.13f);
    const QColor light = QColor::fromRgbF(0.93f, 0.93f, 0.93f);
    const QColor ink = QColor::fromRgbF(0.1f, 0.1f, 0.1f);
    EXPECT_TRUE(near(at(4, 17), dark));
    EXPECT_TRUE(near(at(38, 5), dark));
    EXPECT_TRUE(near(at(24, 17), QColor(Qt::white)));
    EXPECT_TRUE(near(at(62 + 4, 17), light));
    EXPECT_TRUE(near(at(62 + 38, 29), light));
    EXPECT_TRUE(near(at(62 + 24, 17), ink));
    // Left half of each circle: tile colour inside the outline.
    EXPECT_TRUE(near(at(18, 17), dark));
    EXPECT_TRUE(near(at(62 + 18, 17), light));
    // Between the tiles, and the tiles' rounded corners, are transparent.
    for (const double x : {42.2, 52.0, 61.8}) {
        for (const double y : {0.0, 17.0, 33.8}) {
            EXPECT_EQ(at(x, y).alpha(), 0) << x << "," << y;
        }
    }
    EXPECT_EQ(at(0, 0).alpha(), 0);
    EXPECT_EQ(at(103.9, 33.9).alpha(), 0);
}

TEST_F(RenderPanelCommand, AFolderThatCannotBeMadeOrWrittenFailsWithItsReason) {
    testing::writeFile(home.file("plain"), "not a folder");
    const std::string dir = home.file("plain/pictures");
    const auto before = snapshot(home.path());
    const std::pair<std::string, std::string> cases[] = {
        {dir, "vesperine: cannot make the folder " + dir + "\n"},
        {"/proc/self", "vesperine: cannot write /proc/self/panel-front-running.png: "}};
    for (const auto& [folder, error] : cases) {
        const ProcessResult result = render({folder});
        EXPECT_EQ(result.exitStatus, 1) << folder;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.substr(0, error.size()), error);
    }
    EXPECT_EQ(snapshot(home.path()), before);
}

// Over pictures of an earlier run, one of them a planted link; with nothing
// stored, nothing is created either.
TEST_F(RenderPanelCommand, ASecondRunOverwritesThePictures) {
    const std::string dir = home.file("again/with/parents");
    ASSERT_EQ(render({dir}).exitStatus, 0);
    for (const char* name : kPictures) {
        testing::writeFile(dir + "/" + name, "stale");
    }
    // A link planted at a picture's name is replaced, its target untouched.
    testing::writeFile(home.file("victim"), "mine");
    std::filesystem::remove(dir + "/panel-settings.png");
    std::filesystem::create_symlink(home.file("victim"), dir + "/panel-settings.png");
    std::filesystem::remove_all(home.file("config"));
    std::filesystem::remove_all(home.file("state"));
    ASSERT_EQ(render({"--dir", dir}).exitStatus, 0);
    EXPECT_EQ(testing::readFile(home.file("victim")), "mine");
    EXPECT_FALSE(std::filesystem::is_symlink(dir + "/panel-settings.png"));
    for (const char* name : kPictures) {
        const QImage picture = load(dir + "/" + name);
        EXPECT_FALSE(picture.isNull()) << name;
    }
    EXPECT_EQ(load(dir + "/menubar-icon-light-dark.png").size(), QSize(624, 204));
    // Nothing else is left in the folder.
    EXPECT_EQ(snapshot(dir).size(), std::size(kPictures));
    EXPECT_FALSE(std::filesystem::exists(home.file("config")));
    EXPECT_FALSE(std::filesystem::exists(home.file("state")));
}

TEST_F(RenderPanelCommand, StoredSettingsStayByteIdenticalWhenKilledHalfWay) {
    const auto config = snapshot(home.file("config"));
    const auto state = snapshot(home.file("state"));
    int killed = 0;
    for (const double seconds : {0.005, 0.02, 0.04, 0.06, 0.08, 0.12, 0.2}) {
        const ProcessResult result = render({home.file("pictures")}, seconds);
        killed += result.exitStatus == 128 + 9 ? 1 : 0;
        ASSERT_EQ(snapshot(home.file("config")), config) << seconds;
        ASSERT_EQ(snapshot(home.file("state")), state) << seconds;
    }
    EXPECT_GT(killed, 0);
}

}  // namespace
}  // namespace vesperine
