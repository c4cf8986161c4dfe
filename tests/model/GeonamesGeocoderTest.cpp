#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QtCore/qtestsupport_core.h>
#include <QThread>

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "ModelTestSupport.h"
#include "engine/NumberText.h"
#include "model/GeonamesGeocoder.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace vesperine::testing {
namespace {

// A completion as text: "error:<code>", "empty", or the first placemark as
// "locality|area|country|lat,lon" (coordinates "%g"), "+" when more follow.
struct Outcome {
    int completions = 0;
    bool onMainThread = false;
    std::string text;
};

std::string describe(const std::optional<std::vector<Placemark>>& placemarks,
                     const std::optional<GeocodeError>& error) {
    if (error) {
        return (error->domain == GeocodeError::Domain::location ? "error:" : "other:") +
               std::to_string(error->code);
    }
    if (!placemarks || placemarks->empty()) {
        return placemarks ? "empty" : "nothing";
    }
    const Placemark& p = placemarks->front();
    const auto text = [](const std::optional<QString>& t) { return t ? t->toStdString() : "-"; };
    return text(p.locality) + "|" + text(p.administrativeArea) + "|" + text(p.country) + "|" +
           (p.location ? QString::asprintf("%g,%g", p.location->latitude, p.location->longitude)
                             .toStdString()
                       : "-") +
           (placemarks->size() > 1 ? "+" : "");
}

std::shared_ptr<Outcome> start(CityGeocoder& geocoder, const QString& name) {
    qtApp();  // whose event loop delivers the completions
    auto outcome = std::make_shared<Outcome>();
    geocoder.geocode(name, [outcome](auto placemarks, auto error) {
        ++outcome->completions;
        outcome->onMainThread = QThread::currentThread() == qtApp().thread();
        outcome->text = describe(placemarks, error);
    });
    return outcome;
}

std::string lookUp(CityGeocoder& geocoder, const std::string& name) {
    const auto outcome = start(geocoder, QString::fromStdString(name));
    EXPECT_TRUE(QTest::qWaitFor([&] { return outcome->completions > 0; }, 20000)) << name;
    return outcome->text;
}

TEST(GeonamesGeocoder, FindsCitiesAsPeopleTypeThem) {
    GeonamesGeocoder geocoder;
    const std::string lisbon = "Lisbon|Lisbon District|Portugal|38.7167,-9.13333";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Lisbon", lisbon},
        {"lisbon ,  portu", lisbon},
        {"Lisbon, Lisbon District, Portugal", lisbon},
        {"Sao Paulo", "São Paulo|São Paulo|Brazil|-23.5475,-46.6361"},
        // the most populous Springfield, or the one asked for
        {"Springfield", "Springfield|Missouri|United States of America|37.2153,-93.2982+"},
        {"Springfield, Illinois", "Springfield|Illinois|United States of America|39.8017,-89.6437"},
        // a whole name first, though larger cities begin with it
        {"Naga", "Naga|Bicol|Philippines|13.6192,123.181+"},
        {"de la cruz", "Puerto de la Cruz|Canary Islands|Spain|28.414,-16.5487+"},
        // a name with a comma of its own, as the model writes it back
        {"Burgdorf, Hanover, Germany", "Burgdorf, Hanover|Lower Saxony|Germany|52.4463,10.0064"},
        // nothing, or not where asked
        {"xyzzy", "empty"},
        {"!!! ,", "empty"},
        {std::string(100000, 'a'), "empty"},
        {"Lisbon, Spain", "error:9"},
    };
    for (const auto& [typed, expected] : cases) {
        EXPECT_EQ(lookUp(geocoder, typed), expected) << typed.substr(0, 40);
    }
}

// A cancelled lookup completes once, first, with code 10, though the lookup
// itself ends meanwhile; the other two run side by side. A geocoder destroyed
// with lookups pending completes none of them.
TEST(GeonamesGeocoder, CancelledOverlappingAndOrphanedLookupsEachCompleteAtMostOnce) {
    GeonamesGeocoder geocoder;
    const auto cancelled = start(geocoder, "Lisbon");
    geocoder.cancel();  // as the model does before its next lookup
    EXPECT_EQ(cancelled->completions, 0) << "completed inside geocode() or cancel()";
    const auto porto = start(geocoder, "Porto");
    const auto spain = start(geocoder, "Lisbon, Spain");
    std::shared_ptr<Outcome> orphans[2];
    {
        GeonamesGeocoder shortLived;
        orphans[0] = start(shortLived, "Porto");
        shortLived.cancel();
        orphans[1] = start(shortLived, "Lisbon");
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return porto->completions + spain->completions > 0; }));
    EXPECT_EQ(cancelled->completions, 1) << "the cancelled one first";
    ASSERT_TRUE(QTest::qWaitFor([&] { return porto->completions + spain->completions == 2; }));
    geocoder.cancel();  // nothing pending: nothing more arrives
    QTest::qWait(300);
    for (const auto& outcome : {cancelled, porto, spain}) {
        EXPECT_EQ(outcome->completions, 1) << outcome->text;
        EXPECT_TRUE(outcome->onMainThread) << outcome->text;
    }
    EXPECT_EQ(cancelled->text, "error:10");
    EXPECT_THAT(porto->text, ::testing::StartsWith("Porto|"));
    EXPECT_EQ(spain->text, "error:9");
    EXPECT_EQ(orphans[0]->completions + orphans[1]->completions, 0);
}

// In a German session the data's names are German ("Lissabon"); the names
// people type from the data's own still find the city, shown in German. The
// decimal comma of the session is no part of the program's numbers.
TEST(GermanSession, TheDatasOwnNamesFindCitiesAndNumbersKeepTheirPoint) {
    const TempDir locales;
    runProcess({"localedef", "-i", "de_DE", "-f", "UTF-8", locales.file("de_DE.UTF-8")});
    setenv("LOCPATH", locales.path().c_str(), 1);
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    if (std::setlocale(LC_ALL, "") == nullptr) {
        GTEST_SKIP() << "cannot build a German locale";
    }
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    EXPECT_EQ(NumberText::parse("0.5"), std::optional<double>(0.5));
    EXPECT_EQ(NumberText::parse("0,5"), std::nullopt);
    EXPECT_EQ(NumberText::formatG(38.722312), "38.7223");
    GeonamesGeocoder geocoder;
    const std::string lisbon = "Lissabon|Lissabon|Portugal|38.7167,-9.13333";
    const std::pair<const char*, std::string> cases[] = {
        {"Lisbon", lisbon},
        {"Lissabon", lisbon},
        {"Tokyo", "Tokio|Tokyo|Japan|35.6895,139.692+"},  // not Nishi-Tokyo by its prefix
        {"Paris, France", "Paris|Île-de-France|Frankreich|48.8534,2.3488+"}};
    for (const auto& [typed, expected] : cases) {
        EXPECT_EQ(lookUp(geocoder, typed), expected) << typed;
    }
    unsetenv("LC_ALL");
    std::setlocale(LC_ALL, "C");
}

// Runs the lookup table of this program under strace and looks for sockets.
TEST(GeonamesGeocoderNetwork, LookupsOpenNoSocket) {
    const TempDir dir;
    ProcessOptions options;
    options.environment["ASAN_OPTIONS"] = "detect_leaks=0";  // the leak check cannot run traced
    const auto run =
        runProcess({"strace", "-f", "-qq", "-e", "trace=socket,connect,sendto", "-o",
                    dir.file("trace"), std::filesystem::read_symlink("/proc/self/exe").string(),
                    "--gtest_filter=GeonamesGeocoder.FindsCitiesAsPeopleTypeThem"},
                   options);
    if (run.out.find("[==========] Running") == std::string::npos) {
        GTEST_SKIP() << "strace cannot trace here: " << run.err;
    }
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_THAT(run.out, ::testing::HasSubstr("[  PASSED  ] 1 test"));
    EXPECT_THAT(readFile(dir.file("trace")),
                ::testing::Not(::testing::ContainsRegex("(socket|connect|sendto)\\(")));
}

}  // namespace
}  // namespace vesperine::testing
