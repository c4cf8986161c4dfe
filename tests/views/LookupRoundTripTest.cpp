// The city field and Find against the real offline lookup.
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "ViewsTestSupport.h"
#include "model/GeonamesGeocoder.h"
#include "views/LocationControl.h"
#include "views/PanelWidgets.h"
#include "views/SettingsPage.h"

namespace vesperine {
namespace {

using testing::child;

// Waits for the lookup started by the last press to land.
bool lookupEnds(const AppModel& model) {
    return QTest::qWaitFor([&] { return !model.isGeocoding(); }, 30000);
}

TEST(LookupRoundTripTest, FindsLisbonAndFindsItAgain) {
    testing::ModelRig rig;
    AppModel& model = rig.make(std::make_unique<GeonamesGeocoder>());
    SettingsPage page(
        model, [] {}, [] {}, true);
    testing::showAtWidth(page);
    LocationControl& location = child<LocationControl>(page, "locationControl");

    QTest::keyClicks(&child<QLineEdit>(location, "cityField"), "Lisbon");
    QTest::mouseClick(&child<QPushButton>(location, "findButton"), Qt::LeftButton);
    EXPECT_FALSE(child<QPushButton>(location, "findButton").isEnabled());
    ASSERT_TRUE(lookupEnds(model));
    EXPECT_TRUE(child<QPushButton>(location, "findButton").isEnabled());
    EXPECT_EQ(child<QLineEdit>(location, "cityField").text(), "Lisbon, Portugal");
    ASSERT_TRUE(rig.settings.latitude().has_value());
    EXPECT_NEAR(*rig.settings.latitude(), 38.72, 0.05);
    EXPECT_NEAR(*rig.settings.longitude(), -9.14, 0.05);
    EXPECT_TRUE(child<TextView>(location, "locationMessage")
                    .text()
                    .startsWith("Lisbon, Portugal \u00B7 38.7"));
    const QString first = child<TextView>(location, "locationMessage").text();

    // The field now holds "Lisbon, Portugal"; Find looks that up.
    QTest::mouseClick(&child<QPushButton>(location, "findButton"), Qt::LeftButton);
    ASSERT_TRUE(lookupEnds(model));
    EXPECT_TRUE(model.lastGeocodeOK());
    EXPECT_EQ(child<TextView>(location, "locationMessage").text(), first);
    EXPECT_EQ(rig.settings.locationName(), "Lisbon, Portugal");
}

}  // namespace
}  // namespace vesperine
