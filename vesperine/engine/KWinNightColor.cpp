// KDE Plasma: KWin's Night Color set to a constant temperature. KWin has no
// D-Bus call that sets one, so the [NightColor] group of kwinrc is edited and
// KWin is told to reload it; /ColorCorrect then says whether it took.

#include <chrono>
#include <cmath>
#include <string>
#include <thread>

#include "engine/DisplayBackends.h"
#include "engine/Gio.h"
#include "engine/KConfigText.h"
#include "engine/PrivateFile.h"
#include "engine/SavedSettings.h"
#include "engine/StorePaths.h"
#include "engine/WarmTint.h"

namespace vesperine {
namespace {

constexpr const char* kGroup = "NightColor";
constexpr const char* kKeys[] = {"Active", "Mode", "NightTemperature"};
constexpr const char* kService = "org.kde.KWin";
constexpr const char* kColorCorrectPath = "/ColorCorrect";
constexpr const char* kColorCorrect = "org.kde.kwin.ColorCorrect";
// KWin reloads within a few milliseconds of the signal; the 2 s ramp that
// follows is not waited for.
constexpr auto kReloadPatience = std::chrono::milliseconds(1500);
// Night Color fades to each new temperature, and every preview rewrites
// kwinrc: a few a second are all a drag can show.
constexpr auto kPreviewInterval = std::chrono::milliseconds(250);

// The signal KConfig's own writers send: {group: [changed keys]}, keys as
// byte arrays without a terminating zero.
GVariant* configChangedArguments(const Gio::Api& g) {
    const auto bytes = reinterpret_cast<const GVariantType*>("y");
    GVariant* keys[std::size(kKeys)];
    for (std::size_t i = 0; i < std::size(kKeys); ++i) {
        keys[i] =
            g.variantNewFixedArray(bytes, kKeys[i], std::char_traits<char>::length(kKeys[i]), 1);
    }
    GVariant* keyList =
        g.variantNewArray(reinterpret_cast<const GVariantType*>("ay"), keys, std::size(kKeys));
    GVariant* entry = g.variantNewDictEntry(g.variantNewString(kGroup), keyList);
    GVariant* changes = g.variantNewArray(nullptr, &entry, 1);
    return g.variantNewTuple(&changes, 1);
}

class KWinNightColor final : public DisplayBackend {
  public:
    explicit KWinNightColor(GDBusConnection* bus) : bus_(bus) {}

    DisplayOutcome apply(bool enabled, double strength) override {
        return change(enabled, strength, true);
    }
    // Written and signalled, not waited for: a stalled KWin cannot hold a drag.
    DisplayOutcome preview(double strength) override { return change(true, strength, false); }
    std::chrono::milliseconds previewInterval() const override { return kPreviewInterval; }

    std::string_view name() const override { return "kwin-night-color"; }

  private:
    DisplayOutcome change(bool enabled, double strength, bool waitForScreen) {
        const std::string savedPath = SavedSettings::path("kde-night-color.saved");
        const PrivateFile::Lock turn(savedPath + ".lock");
        if (!turn.failure().empty()) {
            return DisplayOutcome::failed(turn.failure());
        }
        const std::string kwinrc = StorePaths::configHome() + "/kwinrc";
        const auto config = PrivateFile::read(kwinrc);
        if (!config.error.empty()) {
            return DisplayOutcome::failed(config.error);
        }
        const auto saved = PrivateFile::read(savedPath);
        if (!saved.error.empty()) {
            // The user's own settings are in it: kept, never taken for none.
            return DisplayOutcome::failed(saved.error);
        }
        if (!enabled && !saved.exists) {
            return DisplayOutcome::reachedScreen();  // never taken over: Night Color is the user's
        }
        const int kelvin = static_cast<int>(std::lround(WarmTint::temperatureKelvin(strength)));

        std::vector<KConfigText::Entry> entries;
        bool userHadNightColor = false;
        if (enabled) {
            if (!saved.exists) {
                SavedSettings::Values before;
                for (const char* key : kKeys) {
                    before.emplace_back(key, KConfigText::value(config.bytes, kGroup, key));
                }
                if (auto error =
                        PrivateFile::replace(savedPath, SavedSettings::format(before), 0600);
                    !error.empty()) {
                    return DisplayOutcome::failed(error);
                }
            }
            entries = {{"Active", "true"},
                       {"Mode", "Constant"},
                       {"NightTemperature", std::to_string(kelvin)}};
        } else {
            for (auto& [key, value] : SavedSettings::parse(saved.bytes)) {
                userHadNightColor = userHadNightColor || (key == "Active" && value == "true");
                entries.emplace_back(key, value);
            }
        }
        const std::string edited = KConfigText::withEntries(config.bytes, kGroup, entries);
        if (edited != config.bytes) {
            if (auto error = PrivateFile::replace(kwinrc, edited, 0600); !error.empty()) {
                return DisplayOutcome::failed(error);
            }
        }
        if (auto error = notifyKWin(); !error.empty()) {
            return DisplayOutcome::failed("cannot tell KWin to reload kwinrc: " + error);
        }
        if (!enabled) {
            PrivateFile::remove(savedPath);
        }
        if (!enabled && userHadNightColor) {
            return DisplayOutcome::reachedScreen();  // the user's own Night Color, left to KWin
        }
        return waitForScreen ? waitForKWin(enabled, kelvin) : DisplayOutcome::reachedScreen();
    }

    std::string notifyKWin() {
        const Gio::Api& g = *Gio::api();
        GError* error = nullptr;
        if (!g.emitSignal(bus_, nullptr, "/kwinrc", "org.kde.kconfig.notify", "ConfigChanged",
                          configChangedArguments(g), &error) ||
            !g.flushSync(bus_, nullptr, &error)) {
            std::string message = error != nullptr ? error->message : "unknown error";
            if (error != nullptr) {
                g.errorFree(error);
            }
            return message;
        }
        return {};
    }

    DisplayOutcome waitForKWin(bool enabled, int kelvin) {
        const auto deadline = std::chrono::steady_clock::now() + kReloadPatience;
        std::optional<bool> running;
        std::optional<double> target;
        do {
            running = Gio::asBoolean(
                Gio::property(bus_, kService, kColorCorrectPath, kColorCorrect, "running"));
            target = Gio::asNumber(Gio::property(bus_, kService, kColorCorrectPath, kColorCorrect,
                                                 "targetTemperature"));
            if (!running) {
                return DisplayOutcome::failed("KWin does not answer on " +
                                              std::string(kColorCorrectPath));
            }
            if (enabled ? (*running && target == kelvin) : !*running) {
                return DisplayOutcome::reachedScreen();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (std::chrono::steady_clock::now() < deadline);
        if (enabled && Gio::asBoolean(Gio::property(bus_, kService, kColorCorrectPath,
                                                    kColorCorrect, "inhibited")) == true) {
            return DisplayOutcome::failed("KWin's Night Color is suspended by another program");
        }
        return DisplayOutcome::failed(
            std::string("KWin's Night Color did not follow kwinrc") +
            (enabled ? " (Night Color " + std::to_string(kelvin) + " K)" : " (Night Color off)"));
    }

    GDBusConnection* bus_;
};

}  // namespace

std::unique_ptr<DisplayBackend> makeKWinNightColor() {
    // Without a session bus, GIO is not even loaded.
    GDBusConnection* bus = Gio::sessionBus();
    if (bus == nullptr || !Gio::nameHasOwner(bus, kService)) {
        return nullptr;
    }
    return std::make_unique<KWinNightColor>(bus);
}

}  // namespace vesperine
