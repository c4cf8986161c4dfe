#pragma once

#include <gio/gio.h>

#include <memory>
#include <optional>
#include <string>

// GDBus and GSettings, opened with dlopen by the backends that reach the
// screen through a desktop's own night light; headless commands never load
// them. Every call is synchronous and bounded by kCallTimeoutMs.
namespace vesperine::Gio {

inline constexpr int kCallTimeoutMs = 2000;

struct Api {
    decltype(&g_bus_get_sync) busGetSync = nullptr;
    decltype(&g_dbus_connection_call_sync) callSync = nullptr;
    decltype(&g_dbus_connection_emit_signal) emitSignal = nullptr;
    decltype(&g_dbus_connection_flush_sync) flushSync = nullptr;
    decltype(&g_dbus_connection_set_exit_on_close) setExitOnClose = nullptr;
    decltype(&g_variant_new) variantNew = nullptr;
    decltype(&g_variant_new_string) variantNewString = nullptr;
    decltype(&g_variant_new_fixed_array) variantNewFixedArray = nullptr;
    decltype(&g_variant_new_array) variantNewArray = nullptr;
    decltype(&g_variant_new_dict_entry) variantNewDictEntry = nullptr;
    decltype(&g_variant_new_tuple) variantNewTuple = nullptr;
    decltype(&g_variant_get) variantGet = nullptr;
    decltype(&g_variant_get_type_string) variantTypeString = nullptr;
    decltype(&g_variant_get_boolean) variantBoolean = nullptr;
    decltype(&g_variant_get_int32) variantInt32 = nullptr;
    decltype(&g_variant_get_uint32) variantUint32 = nullptr;
    decltype(&g_variant_get_double) variantDouble = nullptr;
    decltype(&g_variant_print) variantPrint = nullptr;
    decltype(&g_variant_parse) variantParse = nullptr;
    decltype(&g_variant_ref_sink) variantRefSink = nullptr;
    decltype(&g_variant_unref) variantUnref = nullptr;
    decltype(&g_settings_schema_source_get_default) schemaSourceDefault = nullptr;
    decltype(&g_settings_schema_source_lookup) schemaLookup = nullptr;
    decltype(&g_settings_schema_unref) schemaUnref = nullptr;
    decltype(&g_settings_new) settingsNew = nullptr;
    decltype(&g_settings_get_user_value) settingsUserValue = nullptr;
    decltype(&g_settings_set_value) settingsSetValue = nullptr;
    decltype(&g_settings_reset) settingsReset = nullptr;
    decltype(&g_settings_sync) settingsSync = nullptr;
    decltype(&g_object_unref) objectUnref = nullptr;
    decltype(&g_error_free) errorFree = nullptr;
    decltype(&g_free) free = nullptr;
};

// Loaded on first use; null when GIO is not installed.
const Api* api();

struct VariantDeleter {
    void operator()(GVariant* value) const { api()->variantUnref(value); }
};
using Variant = std::unique_ptr<GVariant, VariantDeleter>;

struct ObjectDeleter {
    void operator()(void* object) const { api()->objectUnref(object); }
};
using Settings = std::unique_ptr<GSettings, ObjectDeleter>;

// Takes a floating or full reference; null stays null.
Variant own(GVariant* value);

// The session bus of this process, connected once; null when there is none.
// Never starts a bus: without DBUS_SESSION_BUS_ADDRESS only
// $XDG_RUNTIME_DIR/bus is tried.
GDBusConnection* sessionBus();

bool nameHasOwner(GDBusConnection* bus, const char* name);

// A property of `object` at `path` on `name`; null when it cannot be read.
Variant property(GDBusConnection* bus, const char* name, const char* path, const char* interface,
                 const char* property);
// Sets a property; the reason when it failed, else empty.
std::string setProperty(GDBusConnection* bus, const char* name, const char* path,
                        const char* interface, const char* property, GVariant* value);

std::optional<bool> asBoolean(const Variant& value);
// A number of any D-Bus numeric type the desktops use (i, u, d).
std::optional<double> asNumber(const Variant& value);

// The settings of `schemaId` when the schema is installed; null otherwise.
Settings settingsIfInstalled(const char* schemaId);

}  // namespace vesperine::Gio
