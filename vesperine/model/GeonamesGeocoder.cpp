#include "model/GeonamesGeocoder.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThreadPool>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// GLib stays in this file: its headers clash with Qt's keywords elsewhere.
#include <geonames.h>
#include <libintl.h>

namespace vesperine {
namespace {

// Longer texts are no place name; refusing them keeps a pasted document from
// stalling the lookup.
constexpr std::size_t kMaxTextBytes = 1024;
constexpr std::size_t kMaxPlacemarks = 10;

// One word of a name, case-folded, and the same word transliterated to ASCII
// ("são" and "sao"); both are the folded word when there is no transliteration.
struct Word {
    std::string folded;
    std::string ascii;
};
using Words = std::vector<Word>;

Words wordsOf(const char* text) {
    Words words;
    if (text == nullptr || !g_utf8_validate(text, -1, nullptr)) {
        return words;
    }
    gchar** tokens = g_str_tokenize_and_fold(text, "C", nullptr);
    for (gchar** token = tokens; token != nullptr && *token != nullptr; ++token) {
        Word word{*token, *token};
        if (gchar* ascii = g_str_to_ascii(*token, "C")) {
            // '?' stands for a character with no transliteration.
            if (*ascii != '\0' && std::strchr(ascii, '?') == nullptr) {
                gchar* lower = g_ascii_strdown(ascii, -1);
                word.ascii = lower;
                g_free(lower);
            }
            g_free(ascii);
        }
        words.push_back(std::move(word));
    }
    g_strfreev(tokens);
    return words;
}

Words wordsOf(std::string_view text) {
    return wordsOf(std::string(text).c_str());
}

bool wordStartsWith(const Word& word, const Word& prefix) {
    return word.folded.starts_with(prefix.folded) || word.ascii.starts_with(prefix.ascii);
}

bool sameWord(const Word& a, const Word& b) {
    return a.folded == b.folded || a.ascii == b.ascii;
}

// Whether `part` reads as the beginning of `text`: the same words, the last of
// them possibly cut short ("united states of am"). An empty part always does.
bool phraseStartsWith(const Words& text, const Words& part) {
    if (part.size() > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < part.size(); ++i) {
        const bool last = i + 1 == part.size();
        if (last ? !wordStartsWith(text[i], part[i]) : !sameWord(text[i], part[i])) {
            return false;
        }
    }
    return true;
}

// How well typed words fit a city's name; lower is better. As in libgeonames'
// own query, the words must begin consecutive words of the name, in order
// ("de la cruz" and "pu de" fit "Puerto de la Cruz", "puerto cruz" does not).
enum class Fit { wholeName, wholeWords, prefixes, none };

Fit fitOf(const Words& typed, const Words& name) {
    Fit best = Fit::none;
    for (std::size_t start = 0; start + typed.size() <= name.size(); ++start) {
        bool begins = true;
        bool whole = true;
        for (std::size_t i = 0; begins && i < typed.size(); ++i) {
            begins = wordStartsWith(name[start + i], typed[i]);
            whole = whole && begins && sameWord(name[start + i], typed[i]);
        }
        if (begins) {
            const Fit fit = !whole                        ? Fit::prefixes
                            : typed.size() == name.size() ? Fit::wholeName
                                                          : Fit::wholeWords;
            best = std::min(best, fit);
        }
    }
    return best;
}

struct IndexedCity {
    int index = 0;  // in libgeonames' data
    unsigned population = 0;
    Words name;  // in the session's language
    // The data's own names (English for most places), which people type too.
    Words plainName;
    Words plainState;
    Words plainCountry;
};

// The library translates its names through gettext into the session's
// language. While the cities are first loaded, with every lookup waiting, the
// translations are put out of reach for one pass to read the data's own names.
void readPlainNames(std::vector<IndexedCity>& cities) {
    const char* const domain = "geonames";
    const char* const bound = bindtextdomain(domain, nullptr);
    if (bound == nullptr) {
        return;
    }
    const std::string folder = bound;
    bindtextdomain(domain, "/nonexistent");
    for (IndexedCity& entry : cities) {
        if (GeonamesCity* city = geonames_get_city(entry.index)) {
            entry.plainName = wordsOf(geonames_city_get_name(city));
            entry.plainState = wordsOf(geonames_city_get_state(city));
            entry.plainCountry = wordsOf(geonames_city_get_country(city));
            geonames_city_free(city);
        }
    }
    bindtextdomain(domain, folder.c_str());
}

// Empty when the data could not be read.
std::vector<IndexedCity> loadCities() {
    std::vector<IndexedCity> cities;
    const int count = geonames_get_n_cities();
    if (count <= 0) {
        return cities;
    }
    cities.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        GeonamesCity* city = geonames_get_city(i);
        if (city == nullptr) {
            continue;
        }
        IndexedCity entry{
            i, geonames_city_get_population(city), wordsOf(geonames_city_get_name(city)), {}, {},
            {}};
        if (!entry.name.empty()) {
            cities.push_back(std::move(entry));
        }
        geonames_city_free(city);
    }
    readPlainNames(cities);
    return cities;
}

const std::vector<IndexedCity>& allCities() {
    static const std::vector<IndexedCity> cities = loadCities();
    return cities;
}

std::optional<QString> textOf(const char* text) {
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    return QString::fromUtf8(text);
}

// Each part after the first comma must begin the state, the country, or a
// comma-separated piece of the name itself ("Burgdorf, Hanover").
bool matchesParts(GeonamesCity* city, const IndexedCity& indexed, const std::vector<Words>& parts) {
    if (parts.empty()) {
        return true;
    }
    std::vector<Words> fields{wordsOf(geonames_city_get_state(city)),
                              wordsOf(geonames_city_get_country(city)), indexed.plainState,
                              indexed.plainCountry};
    const char* const rawName = geonames_city_get_name(city);
    const std::string_view name = rawName != nullptr ? rawName : "";
    for (std::size_t comma = name.find(','); comma != std::string_view::npos;) {
        const std::size_t next = name.find(',', comma + 1);
        fields.push_back(wordsOf(name.substr(comma + 1, next - comma - 1)));
        comma = next;
    }
    return std::all_of(parts.begin(), parts.end(), [&](const Words& part) {
        return std::any_of(fields.begin(), fields.end(),
                           [&](const Words& field) { return phraseStartsWith(field, part); });
    });
}

Placemark placemarkOf(GeonamesCity* city) {
    Placemark placemark;
    placemark.locality = textOf(geonames_city_get_name(city));
    placemark.administrativeArea = textOf(geonames_city_get_state(city));
    placemark.country = textOf(geonames_city_get_country(city));
    placemark.location =
        Coordinate{geonames_city_get_latitude(city), geonames_city_get_longitude(city)};
    return placemark;
}

struct Outcome {
    std::optional<std::vector<Placemark>> placemarks;
    std::optional<GeocodeError> error;
};

Outcome failure() {
    return {std::nullopt, GeocodeError{GeocodeError::Domain::other, 0}};
}

Outcome lookUp(const std::string& text) {
    const auto& cities = allCities();
    if (cities.empty()) {
        return failure();
    }
    if (text.size() > kMaxTextBytes) {
        return {std::vector<Placemark>{}, std::nullopt};
    }
    const std::string_view whole = text;
    const std::size_t firstComma = whole.find(',');
    const Words typed = wordsOf(whole.substr(0, firstComma));
    std::vector<Words> parts;
    for (std::size_t comma = firstComma; comma != std::string_view::npos;) {
        const std::size_t next = whole.find(',', comma + 1);
        parts.push_back(wordsOf(whole.substr(comma + 1, next - comma - 1)));
        comma = next;
    }
    if (typed.empty()) {
        return {std::vector<Placemark>{}, std::nullopt};
    }

    struct Candidate {
        Fit fit;
        const IndexedCity* city;
    };
    std::vector<Candidate> candidates;
    for (const IndexedCity& city : cities) {
        if (const Fit fit = std::min(fitOf(typed, city.name), fitOf(typed, city.plainName));
            fit != Fit::none) {
            candidates.push_back({fit, &city});
        }
    }
    if (candidates.empty()) {
        return {std::vector<Placemark>{}, std::nullopt};
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        if (a.fit != b.fit) {
            return a.fit < b.fit;
        }
        if (a.city->population != b.city->population) {
            return a.city->population > b.city->population;
        }
        return a.city->index < b.city->index;
    });

    std::vector<Placemark> found;
    bool readAny = false;
    for (const Candidate& candidate : candidates) {
        GeonamesCity* city = geonames_get_city(candidate.city->index);
        if (city == nullptr) {
            continue;
        }
        readAny = true;
        if (matchesParts(city, *candidate.city, parts)) {
            found.push_back(placemarkOf(city));
        }
        geonames_city_free(city);
        if (found.size() == kMaxPlacemarks) {
            break;
        }
    }
    if (!readAny) {
        return failure();
    }
    if (found.empty()) {
        return {std::nullopt,
                GeocodeError{GeocodeError::Domain::location, GeocodeError::partialResult}};
    }
    return {std::move(found), std::nullopt};
}

}  // namespace

struct GeonamesGeocoder::Pending {
    std::map<std::uint64_t, Completion> completions;
    std::uint64_t nextId = 1;
};

GeonamesGeocoder::GeonamesGeocoder() : pending_(std::make_shared<Pending>()) {}

GeonamesGeocoder::~GeonamesGeocoder() = default;

void GeonamesGeocoder::geocode(const QString& name, Completion completion) {
    QCoreApplication* const app = QCoreApplication::instance();
    if (app == nullptr) {
        // No event loop to deliver on.
        Outcome outcome = failure();
        completion(std::move(outcome.placemarks), outcome.error);
        return;
    }
    const std::uint64_t id = pending_->nextId++;
    pending_->completions.emplace(id, std::move(completion));
    // The application waits for its global pool before it goes away, so the
    // worker may post to it; a geocoder gone by then drops the result.
    std::weak_ptr<Pending> weakPending = pending_;
    QThreadPool::globalInstance()->start([weakPending, id, app, text = name.toStdString()] {
        Outcome outcome = lookUp(text);
        QMetaObject::invokeMethod(
            app,
            [weakPending, id, outcome = std::move(outcome)]() mutable {
                const auto pending = weakPending.lock();
                if (!pending) {
                    return;
                }
                const auto it = pending->completions.find(id);
                if (it == pending->completions.end()) {
                    return;  // cancelled: that completion has been sent already
                }
                const Completion completion = std::move(it->second);
                pending->completions.erase(it);
                completion(std::move(outcome.placemarks), outcome.error);
            },
            Qt::QueuedConnection);
    });
}

void GeonamesGeocoder::cancel() {
    auto completions = std::exchange(pending_->completions, {});
    QCoreApplication* const app = QCoreApplication::instance();
    if (app == nullptr) {
        return;
    }
    std::weak_ptr<Pending> weakPending = pending_;
    for (auto& entry : completions) {
        QMetaObject::invokeMethod(
            app,
            [weakPending, completion = std::move(entry.second)] {
                if (weakPending.lock()) {
                    completion(std::nullopt, GeocodeError{GeocodeError::Domain::location,
                                                          GeocodeError::cancelled});
                }
            },
            Qt::QueuedConnection);
    }
}

}  // namespace vesperine
