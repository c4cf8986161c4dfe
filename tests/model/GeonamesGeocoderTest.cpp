#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QThread>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include <geonames.h>

#include "ModelFixture.h"
#include "model/GeonamesGeocoder.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace vesperine::testing {
namespace {

using ::testing::HasSubstr;
using Domain = GeocodeError::Domain;

struct Result {
    int completions = 0;
    bool onMainThread = false;
    std::optional<std::vector<Placemark>> placemarks;
    std::optional<GeocodeError> error;
};

// Starts a lookup whose completion lands in `result`.
void start(CityGeocoder& geocoder, const QString& name, std::shared_ptr<Result> result) {
    geocoder.geocode(name, [result](auto placemarks, auto error) {
        ++result->completions;
        result->onMainThread = QThread::currentThread() == qtApp().thread();
        result->placemarks = std::move(placemarks);
        result->error = error;
    });
}

std::shared_ptr<Result> lookUp(CityGeocoder& geocoder, const QString& name) {
    auto result = std::make_shared<Result>();
    start(geocoder, name, result);
    EXPECT_EQ(result->completions, 0) << "completed inside geocode()";
    EXPECT_TRUE(runEventsUntil([&] { return result->completions > 0; }, 20000))
        << name.toStdString();
    return result;
}

class GeonamesGeocoderTest : public ::testing::Test {
  protected:
    GeonamesGeocoderTest() { qtApp(); }
    GeonamesGeocoder geocoder;
};

struct FoundCase {
    const char* typed;
    const char* locality;
    const char* administrativeArea;
    const char* country;
    double latitude;
    double longitude;
};

TEST_F(GeonamesGeocoderTest, FindsCitiesAsPeopleTypeThem) {
    const std::vector<FoundCase> cases = {
        {"Lisbon", "Lisbon", "Lisbon District", "Portugal", 38.71667, -9.13333},
        {"lisbon", "Lisbon", "Lisbon District", "Portugal", 38.71667, -9.13333},
        {"LISBON", "Lisbon", "Lisbon District", "Portugal", 38.71667, -9.13333},
        {"Lisbon, Portugal", "Lisbon", "Lisbon District", "Portugal", 38.71667, -9.13333},
        {"lisbon ,  portu", "Lisbon", "Lisbon District", "Portugal", 38.71667, -9.13333},
        {"Lisbon, Lisbon District, Portugal", "Lisbon", "Lisbon District", "Portugal", 38.71667,
         -9.13333},
        {"Sao Paulo", "São Paulo", "São Paulo", "Brazil", -23.5475, -46.63611},
        {"são paulo", "São Paulo", "São Paulo", "Brazil", -23.5475, -46.63611},
        {"SAO PAULO, brazil", "São Paulo", "São Paulo", "Brazil", -23.5475, -46.63611},
        // several Springfields: the most populous first, or the one asked for
        {"Springfield", "Springfield", "Missouri", "United States of America", 37.21533, -93.29824},
        {"Springfield, Illinois", "Springfield", "Illinois", "United States of America", 39.80172,
         -89.64371},
        {"Springfield, Ill", "Springfield", "Illinois", "United States of America", 39.80172,
         -89.64371},
        {"Springfield, Illinois, United States of America", "Springfield", "Illinois",
         "United States of America", 39.80172, -89.64371},
        {"Springfield, Massachusetts", "Springfield", "Massachusetts", "United States of America",
         42.10148, -72.58981},
        // a whole name wins over larger cities it only begins
        {"Naga", "Naga", "Bicol", "Philippines", 13.61917, 123.18139},
        {"New York", "New York", "New York", "United States of America", 40.71427, -74.00597},
    };
    for (const FoundCase& c : cases) {
        SCOPED_TRACE(c.typed);
        const auto result = lookUp(geocoder, QString::fromUtf8(c.typed));
        EXPECT_EQ(result->completions, 1);
        EXPECT_TRUE(result->onMainThread);
        EXPECT_FALSE(result->error.has_value());
        ASSERT_TRUE(result->placemarks && !result->placemarks->empty());
        const Placemark& first = result->placemarks->front();
        EXPECT_EQ(first.locality, QString::fromUtf8(c.locality));
        EXPECT_FALSE(first.name.has_value());
        EXPECT_EQ(first.administrativeArea, QString::fromUtf8(c.administrativeArea));
        EXPECT_EQ(first.country, QString::fromUtf8(c.country));
        ASSERT_TRUE(first.location.has_value());
        EXPECT_NEAR(first.location->latitude, c.latitude, 1e-4);
        EXPECT_NEAR(first.location->longitude, c.longitude, 1e-4);
    }
}

TEST_F(GeonamesGeocoderTest, UnknownNamesGiveAnEmptyList) {
    const std::string longText(100000, 'a');
    for (const std::string& typed :
         {std::string("xyzzy"), std::string(", Portugal"), std::string(""), std::string("!!! ???"),
          std::string(","), longText}) {
        const auto result = lookUp(geocoder, QString::fromStdString(typed));
        EXPECT_EQ(result->completions, 1);
        EXPECT_FALSE(result->error.has_value()) << typed.substr(0, 20);
        ASSERT_TRUE(result->placemarks.has_value()) << typed.substr(0, 20);
        EXPECT_TRUE(result->placemarks->empty()) << typed.substr(0, 20);
    }
}

TEST_F(GeonamesGeocoderTest, CityFoundButNotWhereAskedIsAPartialResult) {
    for (const char* typed :
         {"Lisbon, Spain", "Springfield, Illinois, Canada", "Lisbon, Portugal, x"}) {
        const auto result = lookUp(geocoder, QString::fromUtf8(typed));
        EXPECT_FALSE(result->placemarks.has_value()) << typed;
        ASSERT_TRUE(result->error.has_value()) << typed;
        EXPECT_EQ(result->error->domain, Domain::location);
        EXPECT_EQ(result->error->code, GeocodeError::partialResult);
    }
}

TEST_F(GeonamesGeocoderTest, CancelCompletesOnceWithCodeTen) {
    auto result = std::make_shared<Result>();
    start(geocoder, "Lisbon", result);
    geocoder.cancel();
    EXPECT_EQ(result->completions, 0) << "completed inside cancel()";
    ASSERT_TRUE(runEventsUntil([&] { return result->completions > 0; }));
    runEventsFor(300);  // the lookup itself finishes meanwhile, and must stay unseen
    EXPECT_EQ(result->completions, 1);
    EXPECT_TRUE(result->onMainThread);
    ASSERT_TRUE(result->error.has_value());
    EXPECT_EQ(result->error->domain, Domain::location);
    EXPECT_EQ(result->error->code, GeocodeError::cancelled);
    geocoder.cancel();  // nothing pending: nothing more arrives
    runEventsFor(20);
    EXPECT_EQ(result->completions, 1);
}

TEST_F(GeonamesGeocoderTest, OverlappingLookupsEachCompleteOnce) {
    // As the model does it: the earlier one cancelled, its completion first.
    std::vector<std::string> order;
    geocoder.geocode("Lisbon", [&](auto, auto error) {
        order.push_back(error ? "Lisbon:" + std::to_string(error->code) : "Lisbon:found");
    });
    geocoder.cancel();
    geocoder.geocode("Porto", [&](auto placemarks, auto) {
        order.push_back(placemarks && !placemarks->empty()
                            ? "Porto:" + placemarks->front().locality->toStdString()
                            : "Porto:none");
    });
    ASSERT_TRUE(runEventsUntil([&] { return order.size() == 2; }));
    runEventsFor(100);
    EXPECT_THAT(order, ::testing::ElementsAre("Lisbon:10", "Porto:Porto"));

    // Without a cancel both are answered.
    auto first = std::make_shared<Result>();
    auto second = std::make_shared<Result>();
    start(geocoder, "Madrid", first);
    start(geocoder, "Lisbon, Spain", second);
    ASSERT_TRUE(runEventsUntil([&] { return first->completions && second->completions; }));
    runEventsFor(50);
    EXPECT_EQ(first->completions, 1);
    EXPECT_EQ(second->completions, 1);
    ASSERT_TRUE(first->placemarks && !first->placemarks->empty());
    EXPECT_EQ(first->placemarks->front().country, "Spain");
    ASSERT_TRUE(second->error.has_value());
    EXPECT_EQ(second->error->code, GeocodeError::partialResult);
}

TEST_F(GeonamesGeocoderTest, DestroyedGeocoderDropsItsPendingCompletion) {
    auto result = std::make_shared<Result>();
    {
        GeonamesGeocoder shortLived;
        start(shortLived, "Lisbon", result);
        auto cancelled = std::make_shared<Result>();
        start(shortLived, "Porto", cancelled);
        shortLived.cancel();
    }
    runEventsFor(300);
    EXPECT_EQ(result->completions, 0);
}

// Every Nth city of the data, looked up as "name, country", comes back as
// itself unless another city of that country has the same name.
TEST_F(GeonamesGeocoderTest, PlaceNamesFindTheSamePlaceAgain) {
    struct Entry {
        std::string name, country;
        double latitude, longitude;
    };
    std::vector<Entry> sample;
    std::map<std::pair<std::string, std::string>, int> sameName;
    const int count = geonames_get_n_cities();
    ASSERT_GT(count, 20000);
    for (int i = 0; i < count; ++i) {
        GeonamesCity* city = geonames_get_city(i);
        ASSERT_NE(city, nullptr);
        const std::string name = geonames_city_get_name(city);
        const std::string country = geonames_city_get_country(city);
        ++sameName[{name, country}];
        if (i % 97 == 0 || name.find(',') != std::string::npos) {
            sample.push_back({name, country, geonames_city_get_latitude(city),
                              geonames_city_get_longitude(city)});
        }
        geonames_city_free(city);
    }
    int checked = 0;
    for (const Entry& entry : sample) {
        if (sameName[{entry.name, entry.country}] != 1) {
            continue;
        }
        const QString typed = QString::fromStdString(entry.name + ", " + entry.country);
        const auto result = lookUp(geocoder, typed);
        ASSERT_TRUE(result->placemarks && !result->placemarks->empty()) << typed.toStdString();
        const Placemark& first = result->placemarks->front();
        EXPECT_EQ(first.locality->toStdString(), entry.name) << typed.toStdString();
        EXPECT_DOUBLE_EQ(first.location->latitude, entry.latitude) << typed.toStdString();
        EXPECT_DOUBLE_EQ(first.location->longitude, entry.longitude) << typed.toStdString();
        ++checked;
    }
    EXPECT_GT(checked, 200);
}

// Typed without accents, a name finds the cities libgeonames' own query finds
// for it; typed with them, those and the ones spelled without.
TEST_F(GeonamesGeocoderTest, FindsTheSameCitiesAsLibgeonamesQuery) {
    using Key = std::tuple<std::string, double, double>;
    const auto libgeonamesFinds = [](const std::string& text) {
        std::set<Key> found;
        guint length = 0;
        gint* indices = geonames_query_cities_sync(text.c_str(), GEONAMES_QUERY_DEFAULT, &length,
                                                   nullptr, nullptr);
        for (guint k = 0; k < length; ++k) {
            GeonamesCity* city = geonames_get_city(indices[k]);
            found.insert({geonames_city_get_name(city), geonames_city_get_latitude(city),
                          geonames_city_get_longitude(city)});
            geonames_city_free(city);
        }
        g_free(indices);
        return found;
    };
    const auto weFind = [this](const std::string& text) {
        std::set<Key> found;
        const auto result = lookUp(geocoder, QString::fromStdString(text));
        EXPECT_TRUE(result->placemarks.has_value()) << text;
        if (result->placemarks) {
            for (const Placemark& p : *result->placemarks) {
                found.insert(
                    {p.locality->toStdString(), p.location->latitude, p.location->longitude});
            }
        }
        return found;
    };
    int compared = 0;
    int accented = 0;
    const int count = geonames_get_n_cities();
    for (int i = 0; i < count && compared < 30; i += 331) {
        GeonamesCity* city = geonames_get_city(i);
        const std::string name = geonames_city_get_name(city);
        geonames_city_free(city);
        gchar* ascii = g_str_to_ascii(name.c_str(), "C");
        const std::string plain = ascii;
        g_free(ascii);
        if (plain.find('?') != std::string::npos) {
            continue;
        }
        const std::set<Key> expected = libgeonamesFinds(plain);
        if (expected.empty() || expected.size() > 10) {
            continue;  // more than one lookup returns
        }
        EXPECT_EQ(weFind(plain), expected) << plain;
        if (plain != name) {
            const std::set<Key> withAccents = weFind(name);
            for (const Key& key : libgeonamesFinds(name)) {
                EXPECT_EQ(withAccents.count(key), 1u) << name;
            }
            ++accented;
        }
        ++compared;
    }
    EXPECT_GE(compared, 20);
    EXPECT_GE(accented, 3);
}

TEST_F(GeonamesGeocoderTest, ModelTrimsLooksUpAndFindsItsOwnPlaceNameAgain) {
    InMemoryStore settingsStore;
    Settings settings(settingsStore);
    InMemoryStore filterStore;
    NullDisplay display;
    ColorFilterState filter(filterStore, display);
    FixedClock clock(Instant::fromSecondsSince1970(kLisbonNight));
    AppModel model(settings, filter, clock, std::make_unique<GeonamesGeocoder>());

    model.setCityText("  Lisbon\n");
    model.resolveCity();
    ASSERT_TRUE(runEventsUntil([&] { return !model.isGeocoding(); }, 20000));
    EXPECT_EQ(model.cityText(), "Lisbon, Portugal");
    EXPECT_EQ(model.geocodeMessage(), QStringLiteral("Lisbon, Portugal · 38.7167, -9.13333"));
    const auto latitude = settings.latitude();
    const auto longitude = settings.longitude();

    model.resolveCity();  // Find again on the text now shown
    ASSERT_TRUE(runEventsUntil([&] { return !model.isGeocoding(); }, 20000));
    EXPECT_EQ(model.cityText(), "Lisbon, Portugal");
    EXPECT_EQ(settings.latitude(), latitude);
    EXPECT_EQ(settings.longitude(), longitude);

    model.setCityText("xyzzy");
    model.resolveCity();
    ASSERT_TRUE(runEventsUntil([&] { return !model.isGeocoding(); }, 20000));
    EXPECT_EQ(model.geocodeMessage(),
              QStringLiteral("Couldn’t find “xyzzy”. Check the spelling or set lat/long below."));

    model.setCityText("Lisbon, Spain");
    model.resolveCity();
    ASSERT_TRUE(runEventsUntil([&] { return !model.isGeocoding(); }, 20000));
    EXPECT_EQ(model.geocodeMessage(),
              QStringLiteral("Couldn’t find that place. Try a different name or set lat/long."));
    EXPECT_EQ(settings.locationName(), "Lisbon, Portugal");
}

// Runs one lookup test of this program under strace and looks for sockets.
TEST(GeonamesGeocoderNetwork, LookupsOpenNoSocket) {
    if (std::getenv("VESPERINE_UNDER_STRACE") != nullptr) {
        GTEST_SKIP() << "already traced";
    }
    const TempDir dir;
    const std::string trace = dir.file("trace");
    ProcessOptions options;
    options.environment["VESPERINE_UNDER_STRACE"] = "1";
    options.environment["ASAN_OPTIONS"] = "detect_leaks=0";  // the leak check cannot run traced
    const auto run =
        runProcess({"strace", "-f", "-qq", "-e", "trace=socket,connect,sendto", "-o", trace,
                    std::filesystem::read_symlink("/proc/self/exe").string(),
                    "--gtest_filter=GeonamesGeocoderTest.FindsCitiesAsPeopleTypeThem:"
                    "GeonamesGeocoderTest.ModelTrimsLooksUpAndFindsItsOwnPlaceNameAgain"},
                   options);
    const std::string calls = readFile(trace);
    if (run.exitStatus != 0 && calls.empty()) {
        GTEST_SKIP() << "strace could not trace here: " << run.err;
    }
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("[  PASSED  ] 2 tests"));
    std::istringstream lines(calls);
    for (std::string line; std::getline(lines, line);) {
        const bool call = line.find("socket(") != std::string::npos ||
                          line.find("connect(") != std::string::npos ||
                          line.find("sendto(") != std::string::npos;
        EXPECT_FALSE(call) << line;
    }
}

}  // namespace
}  // namespace vesperine::testing
