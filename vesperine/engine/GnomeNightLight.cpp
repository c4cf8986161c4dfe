// GNOME: Night Light of gnome-settings-daemon, set through its GSettings to a
// constant temperature all day; the daemon's D-Bus properties say whether it
// took.

#include <chrono>
#include <cmath>
#include <string>
#include <thread>

#include "engine/DisplayBackends.h"
#include "engine/Gio.h"
#include "engine/PrivateFile.h"
#include "engine/SavedSettings.h"
#include "engine/WarmTint.h"

namespace vesperine {
namespace {

constexpr const char* kSchema = "org.gnome.settings-daemon.plugins.color";
constexpr const char* kService = "org.gnome.SettingsDaemon.Color";
constexpr const char* kPath = "/org/gnome/SettingsDaemon/Color";
// The daemon follows a settings change within a few milliseconds; the 5 s
// fade of the temperature that follows is not waited for.
constexpr auto kFollowPatience = std::chrono::milliseconds(2000);
// Night Light fades to each new temperature, and every preview writes dconf:
// a few a second are all a drag can show.
constexpr auto kPreviewInterval = std::chrono::milliseconds(250);

struct Key {
    const char* name;
    const char* type;
};
constexpr Key kKeys[] = {{"night-light-enabled", "b"},
                         {"night-light-temperature", "u"},
                         {"night-light-schedule-automatic", "b"},
                         {"night-light-schedule-from", "d"},
                         {"night-light-schedule-to", "d"}};

class GnomeNightLight final : public DisplayBackend {
  public:
    GnomeNightLight(GDBusConnection* bus, Gio::Settings settings)
        : bus_(bus), settings_(std::move(settings)) {}

    DisplayOutcome apply(bool enabled, double strength) override {
        return change(enabled, strength, true);
    }
    // Handed to dconf, not waited for: a stalled daemon cannot hold a drag.
    // The apply before it already lifted any "disable until tomorrow".
    DisplayOutcome preview(double strength) override { return change(true, strength, false); }
    std::chrono::milliseconds previewInterval() const override { return kPreviewInterval; }

    std::string_view name() const override { return "gnome-night-light"; }

  private:
    DisplayOutcome change(bool enabled, double strength, bool waitForScreen) {
        const Gio::Api& g = *Gio::api();
        const std::string savedPath = SavedSettings::path("gnome-night-light.saved");
        const PrivateFile::Lock turn(savedPath + ".lock");
        if (!turn.failure().empty()) {
            return DisplayOutcome::failed(turn.failure());
        }
        const auto saved = PrivateFile::read(savedPath);
        if (!saved.error.empty()) {
            // The user's own settings are in it: kept, never taken for none.
            return DisplayOutcome::failed(saved.error);
        }
        if (!enabled && !saved.exists) {
            return DisplayOutcome::reachedScreen();  // never taken over: Night Light is the user's
        }
        const auto kelvin =
            static_cast<guint32>(std::lround(WarmTint::temperatureKelvin(strength)));
        bool userHadNightLight = false;
        if (enabled) {
            if (!saved.exists) {
                if (auto error = PrivateFile::replace(savedPath, userValues(), 0600);
                    !error.empty()) {
                    return DisplayOutcome::failed(error);
                }
            }
            // From equal to to: the whole day, with no fade at its edges.
            set("night-light-schedule-automatic", g.variantNew("b", FALSE));
            set("night-light-schedule-from", g.variantNew("d", 0.0));
            set("night-light-schedule-to", g.variantNew("d", 0.0));
            set("night-light-temperature", g.variantNew("u", kelvin));
            set("night-light-enabled", g.variantNew("b", TRUE));
        } else {
            for (const auto& [key, value] : SavedSettings::parse(saved.bytes)) {
                userHadNightLight = userHadNightLight || (key == kKeys[0].name && value == "true");
                restore(key, value);
            }
        }
        if (!waitForScreen) {
            return DisplayOutcome::reachedScreen();
        }
        g.settingsSync();  // the writes reach dconf before this process may end
        if (!enabled) {
            PrivateFile::remove(savedPath);
        }
        if (enabled) {
            // Someone's "disable until tomorrow" would keep the screen as it is.
            if (auto error = Gio::setProperty(bus_, kService, kPath, kService,
                                              "DisabledUntilTomorrow", g.variantNew("b", FALSE));
                !error.empty()) {
                return DisplayOutcome::failed("GNOME's Night Light does not answer: " + error);
            }
        } else if (userHadNightLight) {
            return DisplayOutcome::reachedScreen();  // the user's own Night Light, left to GNOME
        }
        return waitForDaemon(enabled, kelvin);
    }

    void set(const char* key, GVariant* value) {
        Gio::api()->settingsSetValue(settings_.get(), key, value);
    }

    // What the user set themselves, as GVariant text; keys left at their
    // defaults are saved as such, so that putting them back resets them.
    std::string userValues() {
        const Gio::Api& g = *Gio::api();
        SavedSettings::Values values;
        for (const Key& key : kKeys) {
            const Gio::Variant value = Gio::own(g.settingsUserValue(settings_.get(), key.name));
            std::optional<std::string> text;
            if (value) {
                gchar* printed = g.variantPrint(value.get(), FALSE);
                text = printed;
                g.free(printed);
            }
            values.emplace_back(key.name, text);
        }
        return SavedSettings::format(values);
    }

    void restore(const std::string& key, const std::optional<std::string>& text) {
        const Gio::Api& g = *Gio::api();
        for (const Key& known : kKeys) {
            if (key != known.name) {
                continue;  // only keys of ours are ever written back
            }
            GVariant* value =
                text ? g.variantParse(reinterpret_cast<const GVariantType*>(known.type),
                                      text->c_str(), nullptr, nullptr, nullptr)
                     : nullptr;
            if (value != nullptr) {
                set(known.name, value);
            } else {
                g.settingsReset(settings_.get(), known.name);
            }
        }
    }

    DisplayOutcome waitForDaemon(bool enabled, guint32 kelvin) {
        const auto deadline = std::chrono::steady_clock::now() + kFollowPatience;
        do {
            const auto active =
                Gio::asBoolean(Gio::property(bus_, kService, kPath, kService, "NightLightActive"));
            if (!active) {
                return DisplayOutcome::failed("GNOME's Night Light does not answer on " +
                                              std::string(kPath));
            }
            if (*active == enabled) {
                return DisplayOutcome::reachedScreen();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (std::chrono::steady_clock::now() < deadline);
        return DisplayOutcome::failed(
            std::string("GNOME's Night Light did not follow its settings") +
            (enabled ? " (Night Light " + std::to_string(kelvin) + " K)" : " (Night Light off)"));
    }

    GDBusConnection* bus_;
    Gio::Settings settings_;
};

}  // namespace

std::unique_ptr<DisplayBackend> makeGnomeNightLight() {
    // Without a session bus, GIO is not even loaded.
    GDBusConnection* bus = Gio::sessionBus();
    if (bus == nullptr || !Gio::nameHasOwner(bus, kService)) {
        return nullptr;
    }
    Gio::Settings settings = Gio::settingsIfInstalled(kSchema);
    if (!settings) {
        return nullptr;
    }
    return std::make_unique<GnomeNightLight>(bus, std::move(settings));
}

}  // namespace vesperine
