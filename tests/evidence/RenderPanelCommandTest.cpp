// `vesperine --render-panel` end to end, with no display: the four pictures,
// their content, and the user's settings left exactly as they were.
#include <QColor>
#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/ColourNear.h"
#include "support/DesktopSession.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace vesperine {
namespace {

using testing::near;
using testing::ProcessResult;

const char* const kPictures[] = {"panel-front-running.png", "panel-front-paused.png",
                                 "panel-settings.png", "menubar-icon-light-dark.png"};

QImage load(const std::string& path) {
    return QImage(QString::fromStdString(path));
}

// Every file below each of `roots`, with its bytes.
std::map<std::string, std::string> snapshot(const std::vector<std::string>& roots) {
    std::map<std::string, std::string> files;
    for (const std::string& root : roots) {
        std::error_code missing;  // no such folder: nothing below it
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root, missing)) {
            files[entry.path().string()] =
                entry.is_regular_file() ? testing::readFile(entry.path().string()) : "<dir>";
        }
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

    std::map<std::string, std::string> storedFiles() const {
        return snapshot({home.file("config"), home.file("state")});
    }

    testing::TempDir home;
};

// By default into a new folder below the working directory; the stores are
// left byte for byte as they were, also by a run killed half way.
TEST_F(RenderPanelCommand, WritesTheFourPicturesAndLeavesTheStoresAloneRunAfterRun) {
    const auto stores = storedFiles();
    int killed = 0;
    for (const double seconds : {0.005, 0.02, 0.04, 0.06, 0.08, 0.12, 0.2}) {
        killed += render({home.file("pictures")}, seconds).exitStatus == 128 + 9 ? 1 : 0;
        ASSERT_EQ(storedFiles(), stores) << seconds;
    }
    EXPECT_GT(killed, 0);
    EXPECT_EQ(render({}),
              (ProcessResult{"wrote panel evidence -> docs/evidence/vesperine-ui\n", "", 0}));
    EXPECT_EQ(storedFiles(), stores);

    const std::string dir = home.file("docs/evidence/vesperine-ui");
    const QImage running = load(dir + "/panel-front-running.png");
    const QImage paused = load(dir + "/panel-front-paused.png");
    const QImage settings = load(dir + "/panel-settings.png");
    for (const QImage* page : {&running, &paused, &settings}) {
        EXPECT_EQ(page->width(), 576);  // the panel's width at two pixels per point
    }
    EXPECT_EQ(running.height(), paused.height());
    EXPECT_GT(settings.height(), running.height());
    // The running control is green; the paused one is not green anywhere.
    const QColor green = QColor::fromRgbF(0.17f, 0.7f, 0.44f);
    EXPECT_GT(countNear(running, green), 576 * 40);
    EXPECT_EQ(countNear(paused, green), 0);

    // Over pictures of an earlier run, one of them a link planted at a
    // picture's name, and with nothing stored: the pictures are replaced, the
    // link's target is untouched and nothing else is made.
    for (const char* name : kPictures) {
        testing::writeFile(dir + "/" + name, "stale");
    }
    testing::writeFile(home.file("victim"), "mine");
    std::filesystem::remove(dir + "/panel-settings.png");
    std::filesystem::create_symlink(home.file("victim"), dir + "/panel-settings.png");
    std::filesystem::remove_all(home.file("config"));
    std::filesystem::remove_all(home.file("state"));
    ASSERT_EQ(render({"--dir", dir}).exitStatus, 0);
    EXPECT_EQ(testing::readFile(home.file("victim")), "mine");
    for (const char* name : kPictures) {
        EXPECT_FALSE(load(dir + "/" + name).isNull()) << name;
    }
    EXPECT_EQ(snapshot({dir}).size(), std::size(kPictures));
    EXPECT_FALSE(std::filesystem::exists(home.file("config")));
    EXPECT_FALSE(std::filesystem::exists(home.file("state")));
}

TEST_F(RenderPanelCommand, AFolderThatCannotBeMadeOrWrittenFailsWithItsReason) {
    testing::writeFile(home.file("plain"), "not a folder");
    const std::string dir = home.file("plain/pictures");
    const auto before = snapshot({home.path()});
    const std::pair<std::string, std::string> cases[] = {
        {dir, "vesperine: cannot make the folder " + dir + "\n"},
        {"/proc/self", "vesperine: cannot write /proc/self/panel-front-running.png: "}};
    for (const auto& [folder, error] : cases) {
        const ProcessResult result = render({folder});
        EXPECT_EQ(result.exitStatus, 1) << folder;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.substr(0, error.size()), error);
    }
    EXPECT_EQ(snapshot({home.path()}), before);
}

}  // namespace
}  // namespace vesperine
