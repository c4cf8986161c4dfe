#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QThread>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include <geonames.h>

#include "ModelTestSupport.h"
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
    const auto text = [](const std::optional<QString>& t) {
        return t ? t->toStdString() : std::string("-");
    };
    return text(p.locality) + "|" + text(p.administrativeArea) + "|" + text(p.country) + "|" +
           (p.name ? "name!" : "") +
           (p.location ? QString::asprintf("%g,%g", p.location->latitude, p.location->longitude)
                             .toStdString()
                       : "-") +
           (placemarks->size() > 1 ? "+" : "");
}

std::shared_ptr<Outcome> start(CityGeocoder& geocoder, const QString& name) {
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
    EXPECT_EQ(outcome->completions, 0) << "completed inside geocode()";
    EXPECT_TRUE(runEventsUntil([&] { return outcome->completions > 0; }, 20000)) << name;
    EXPECT_TRUE(outcome->onMainThread);
    return outcome->text;
}

class GeonamesGeocoderTest : public ::testing::Test {
  protected:
    GeonamesGeocoderTest() { qtApp(); }
    GeonamesGeocoder geocoder;
};

TEST_F(GeonamesGeocoderTest, FindsCitiesAsPeopleTypeThem) {
    const std::string lisbon = "Lisbon|Lisbon District|Portugal|38.7167,-9.13333";
    const std::string saoPaulo = "São Paulo|São Paulo|Brazil|-23.5475,-46.6361";
    const std::string illinois = "Springfield|Illinois|United States of America|39.8017,-89.6437";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Lisbon", lisbon},
        {"LISBON", lisbon},
        {"Lisbon, Portugal", lisbon},
        {"lisbon ,  portu", lisbon},
        {"Lisbon, Lisbon District, Portugal", lisbon},
        {"Sao Paulo", saoPaulo},
        {"são paulo", saoPaulo},
        {"SAO PAULO, brazil", saoPaulo},
        // the most populous Springfield, or the one asked for
        {"Springfield", "Springfield|Missouri|United States of America|37.2153,-93.2982+"},
        {"Springfield, Illinois", illinois},
        {"Springfield, Ill", illinois},
        {"Springfield, Illinois, United States of America", illinois},
        // a whole name first, though larger cities begin with it
        {"Naga", "Naga|Bicol|Philippines|13.6192,123.181+"},
        {"de la cruz", "Puerto de la Cruz|Canary Islands|Spain|28.414,-16.5487+"},
        {"Puerto Cruz", "Puerto Cruz|Anzoátegui|Venezuela|10.2138,-64.6328"},
        // a name with a comma of its own, as the model writes it back
        {"Burgdorf, Hanover, Germany", "Burgdorf, Hanover|Lower Saxony|Germany|52.4463,10.0064"},
        // nothing, or not where asked
        {"xyzzy", "empty"},
        {", Portugal", "empty"},
        {"", "empty"},
        {"!!! ,", "empty"},
        {std::string(100000, 'a'), "empty"},
        {"Lisbon, Spain", "error:9"},
        {"Springfield, Illinois, Canada", "error:9"},
    };
    for (const auto& [typed, expected] : cases) {
        EXPECT_EQ(lookUp(geocoder, typed), expected) << typed.substr(0, 40);
    }
}

TEST_F(GeonamesGeocoderTest, CancelCompletesOnceWithCodeTen) {
    const auto outcome = start(geocoder, "Lisbon");
    geocoder.cancel();
    EXPECT_EQ(outcome->completions, 0) << "completed inside cancel()";
    runEventsFor(300);  // the lookup itself ends meanwhile, unseen
    geocoder.cancel();  // nothing pending: nothing more arrives
    runEventsFor(20);
    EXPECT_EQ(outcome->completions, 1);
    EXPECT_TRUE(outcome->onMainThread);
    EXPECT_EQ(outcome->text, "error:10");
}

TEST_F(GeonamesGeocoderTest, OverlappingLookupsEachCompleteOnceInOrder) {
    std::vector<std::string> order;
    const auto record = [&](const char* name) {
        geocoder.geocode(name, [&order, name](auto placemarks, auto error) {
            order.push_back(name + (": " + describe(placemarks, error)));
        });
    };
    record("Lisbon");
    geocoder.cancel();  // as the model does before its next lookup
    record("Porto");
    record("Lisbon, Spain");
    ASSERT_TRUE(runEventsUntil([&] { return order.size() == 3; }));
    runEventsFor(100);
    // The cancelled one first; the other two run side by side.
    EXPECT_EQ(order.front(), "Lisbon: error:10");
    EXPECT_THAT(order, ::testing::UnorderedElementsAre("Lisbon: error:10",
                                                       ::testing::StartsWith("Porto: Porto|"),
                                                       "Lisbon, Spain: error:9"));
}

TEST_F(GeonamesGeocoderTest, DestroyedGeocoderDropsPendingCompletions) {
    std::shared_ptr<Outcome> running, cancelled;
    {
        GeonamesGeocoder shortLived;
        cancelled = start(shortLived, "Porto");
        shortLived.cancel();
        running = start(shortLived, "Lisbon");
    }
    runEventsFor(300);
    EXPECT_EQ(running->completions + cancelled->completions, 0);
}

// Typed without accents, a name finds what libgeonames' own query finds; with
// them, that and the same names spelled without. Every 331st city is asked.
TEST_F(GeonamesGeocoderTest, FindsTheCitiesLibgeonamesFinds) {
    const auto libgeonamesFinds = [](const std::string& text) {
        std::multiset<std::string> found;
        guint length = 0;
        gint* indices = geonames_query_cities_sync(text.c_str(), GEONAMES_QUERY_DEFAULT, &length,
                                                   nullptr, nullptr);
        for (guint k = 0; k < length; ++k) {
            GeonamesCity* city = geonames_get_city(indices[k]);
            found.insert(geonames_city_get_name(city) + std::string("|") +
                         geonames_city_get_state(city));
            geonames_city_free(city);
        }
        g_free(indices);
        return found;
    };
    const auto weFind = [this](const std::string& text) {
        std::multiset<std::string> found;
        geocoder.geocode(QString::fromStdString(text), [&](auto placemarks, auto) {
            for (const Placemark& p : placemarks.value_or(std::vector<Placemark>{})) {
                found.insert(p.locality->toStdString() + "|" + p.administrativeArea->toStdString());
            }
            found.insert("done");
        });
        EXPECT_TRUE(runEventsUntil([&] { return found.count("done") == 1; }));
        found.erase("done");
        return found;
    };
    int compared = 0, accented = 0;
    for (int i = 0; i < geonames_get_n_cities(); i += 331) {
        GeonamesCity* city = geonames_get_city(i);
        const std::string name = geonames_city_get_name(city);
        geonames_city_free(city);
        gchar* ascii = g_str_to_ascii(name.c_str(), "C");
        const std::string plain = ascii;
        g_free(ascii);
        const auto expected = libgeonamesFinds(plain);
        if (plain.find('?') != std::string::npos || expected.size() > 10) {
            continue;  // no transliteration, or more than one lookup returns
        }
        EXPECT_EQ(weFind(plain), expected) << plain;
        if (plain != name) {
            const auto withAccents = weFind(name);
            EXPECT_TRUE(std::includes(withAccents.begin(), withAccents.end(), expected.begin(),
                                      expected.end()))
                << name;
            ++accented;
        }
        ++compared;
    }
    EXPECT_GE(compared, 30);
    EXPECT_GE(accented, 5);
}

// Every 97th city, looked up as the model writes it back ("name, country"),
// is found again unless its country has another city of that name.
TEST_F(GeonamesGeocoderTest, PlaceNamesFindTheSamePlaceAgain) {
    std::map<std::string, int> sameName;  // "name, country"
    std::vector<std::pair<std::string, std::string>> sample;
    for (int i = 0; i < geonames_get_n_cities(); ++i) {
        GeonamesCity* city = geonames_get_city(i);
        const std::string typed =
            geonames_city_get_name(city) + std::string(", ") + geonames_city_get_country(city);
        ++sameName[typed];
        if (i % 97 == 0) {
            sample.emplace_back(typed, QString::asprintf("%g,%g", geonames_city_get_latitude(city),
                                                         geonames_city_get_longitude(city))
                                           .toStdString());
        }
        geonames_city_free(city);
    }
    int checked = 0;
    for (const auto& [typed, coordinates] : sample) {
        if (sameName[typed] == 1) {
            std::string found = lookUp(geocoder, typed);
            if (found.ends_with('+')) {
                found.pop_back();
            }
            EXPECT_THAT(found, ::testing::EndsWith("|" + coordinates)) << typed;
            ++checked;
        }
    }
    EXPECT_GT(checked, 200);
}

TEST_F(GeonamesGeocoderTest, ModelTrimsTheNameAndFindsItsOwnPlaceNameAgain) {
    InMemoryStore settingsStore, filterStore;
    Settings settings(settingsStore);
    NullDisplay display;
    ColorFilterState filter(filterStore, display);
    const FixedClock clock(kLisbonNight);
    AppModel model(settings, filter, clock, std::make_unique<GeonamesGeocoder>());
    const auto find = [&](const QString& text) {
        model.setCityText(text);
        model.resolveCity();
        EXPECT_TRUE(runEventsUntil([&] { return !model.isGeocoding(); }, 20000));
        return model.geocodeMessage();
    };
    EXPECT_EQ(find("  Lisbon\n"), QStringLiteral("Lisbon, Portugal · 38.7167, -9.13333"));
    EXPECT_EQ(model.cityText(), "Lisbon, Portugal");
    EXPECT_EQ(find(model.cityText()), QStringLiteral("Lisbon, Portugal · 38.7167, -9.13333"));
    EXPECT_EQ(find("xyzzy"),
              QStringLiteral("Couldn’t find “xyzzy”. Check the spelling or set lat/long below."));
    EXPECT_EQ(find("Lisbon, Spain"),
              QStringLiteral("Couldn’t find that place. Try a different name or set lat/long."));
    EXPECT_EQ(settings.locationName(), "Lisbon, Portugal");
}

// Runs two lookup tests of this program under strace and looks for sockets.
TEST(GeonamesGeocoderNetwork, LookupsOpenNoSocket) {
    if (std::getenv("VESPERINE_UNDER_STRACE") != nullptr) {
        GTEST_SKIP() << "already traced";
    }
    const TempDir dir;
    ProcessOptions options;
    options.environment["VESPERINE_UNDER_STRACE"] = "1";
    options.environment["ASAN_OPTIONS"] = "detect_leaks=0";  // the leak check cannot run traced
    const auto run =
        runProcess({"strace", "-f", "-qq", "-e", "trace=socket,connect,sendto", "-o",
                    dir.file("trace"), std::filesystem::read_symlink("/proc/self/exe").string(),
                    "--gtest_filter=GeonamesGeocoderTest.FindsCitiesAsPeopleTypeThem:"
                    "GeonamesGeocoderTest.ModelTrimsTheNameAndFindsItsOwnPlaceNameAgain"},
                   options);
    const std::string calls = readFile(dir.file("trace"));
    if (run.out.find("[==========] Running") == std::string::npos) {
        GTEST_SKIP() << "strace cannot trace here: " << run.err;
    }
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_THAT(run.out, ::testing::HasSubstr("[  PASSED  ] 2 tests"));
    std::istringstream lines(calls);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_THAT(line, ::testing::Not(::testing::ContainsRegex("(socket|connect|sendto)\\(")));
    }
}

}  // namespace
}  // namespace vesperine::testing
