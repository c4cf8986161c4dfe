#include "engine/Gio.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string_view>

#include "engine/LoadedSymbol.h"

namespace vesperine::Gio {
namespace {

// GVariant type strings are valid type pointers; G_VARIANT_TYPE() would call
// into GLib, which this file only reaches through the loaded table.
const GVariantType* type(const char* text) {
    return reinterpret_cast<const GVariantType*>(text);
}

std::string takeMessage(GError* error) {
    if (error == nullptr) {
        return "unknown error";
    }
    std::string message = error->message != nullptr ? error->message : "unknown error";
    api()->errorFree(error);
    return message;
}

bool hasSessionBusAddress() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && address[0] != '\0') {
        return true;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    return runtime != nullptr && runtime[0] == '/' &&
           stat((std::string(runtime) + "/bus").c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

}  // namespace

const Api* api() {
    static const Api* const loaded = []() -> const Api* {
        // GLib and GObject come with GIO; dlsym on its handle finds their
        // functions too.
        void* library = dlopen("libgio-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            return nullptr;
        }
        static Api g;
        const bool complete =
            bindSymbol(library, "g_bus_get_sync", g.busGetSync) &&
            bindSymbol(library, "g_dbus_connection_call_sync", g.callSync) &&
            bindSymbol(library, "g_dbus_connection_emit_signal", g.emitSignal) &&
            bindSymbol(library, "g_dbus_connection_flush_sync", g.flushSync) &&
            bindSymbol(library, "g_dbus_connection_set_exit_on_close", g.setExitOnClose) &&
            bindSymbol(library, "g_variant_new", g.variantNew) &&
            bindSymbol(library, "g_variant_new_string", g.variantNewString) &&
            bindSymbol(library, "g_variant_new_fixed_array", g.variantNewFixedArray) &&
            bindSymbol(library, "g_variant_new_array", g.variantNewArray) &&
            bindSymbol(library, "g_variant_new_dict_entry", g.variantNewDictEntry) &&
            bindSymbol(library, "g_variant_new_tuple", g.variantNewTuple) &&
            bindSymbol(library, "g_variant_get", g.variantGet) &&
            bindSymbol(library, "g_variant_get_type_string", g.variantTypeString) &&
            bindSymbol(library, "g_variant_get_boolean", g.variantBoolean) &&
            bindSymbol(library, "g_variant_get_int32", g.variantInt32) &&
            bindSymbol(library, "g_variant_get_uint32", g.variantUint32) &&
            bindSymbol(library, "g_variant_get_double", g.variantDouble) &&
            bindSymbol(library, "g_variant_print", g.variantPrint) &&
            bindSymbol(library, "g_variant_parse", g.variantParse) &&
            bindSymbol(library, "g_variant_ref_sink", g.variantRefSink) &&
            bindSymbol(library, "g_variant_unref", g.variantUnref) &&
            bindSymbol(library, "g_settings_schema_source_get_default", g.schemaSourceDefault) &&
            bindSymbol(library, "g_settings_schema_source_lookup", g.schemaLookup) &&
            bindSymbol(library, "g_settings_schema_unref", g.schemaUnref) &&
            bindSymbol(library, "g_settings_new", g.settingsNew) &&
            bindSymbol(library, "g_settings_get_user_value", g.settingsUserValue) &&
            bindSymbol(library, "g_settings_set_value", g.settingsSetValue) &&
            bindSymbol(library, "g_settings_reset", g.settingsReset) &&
            bindSymbol(library, "g_settings_sync", g.settingsSync) &&
            bindSymbol(library, "g_object_unref", g.objectUnref) &&
            bindSymbol(library, "g_error_free", g.errorFree) &&
            bindSymbol(library, "g_free", g.free);
        return complete ? &g : nullptr;
    }();
    return loaded;
}

Variant own(GVariant* value) {
    return Variant(value != nullptr ? api()->variantRefSink(value) : nullptr);
}

GDBusConnection* sessionBus() {
    static GDBusConnection* const bus = []() -> GDBusConnection* {
        if (!hasSessionBusAddress() || api() == nullptr) {
            return nullptr;
        }
        GError* error = nullptr;
        GDBusConnection* connection = api()->busGetSync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (connection == nullptr) {
            takeMessage(error);
        } else {
            // The shared connection would end the process when the bus goes
            // away; a lost bus is a failed apply, not a reason to quit.
            api()->setExitOnClose(connection, FALSE);
        }
        return connection;
    }();
    return bus;
}

bool nameHasOwner(GDBusConnection* bus, const char* name) {
    const Api& g = *api();
    GError* error = nullptr;
    const Variant reply =
        own(g.callSync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                       "NameHasOwner", g.variantNew("(s)", name), type("(b)"),
                       G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error));
    if (!reply) {
        takeMessage(error);
        return false;
    }
    gboolean owned = FALSE;
    g.variantGet(reply.get(), "(b)", &owned);
    return owned != FALSE;
}

Variant property(GDBusConnection* bus, const char* name, const char* path, const char* interface,
                 const char* property) {
    const Api& g = *api();
    GError* error = nullptr;
    const Variant reply =
        own(g.callSync(bus, name, path, "org.freedesktop.DBus.Properties", "Get",
                       g.variantNew("(ss)", interface, property), type("(v)"),
                       G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs, nullptr, &error));
    if (!reply) {
        takeMessage(error);
        return nullptr;
    }
    GVariant* inner = nullptr;
    g.variantGet(reply.get(), "(v)", &inner);
    return Variant(inner);
}

std::string setProperty(GDBusConnection* bus, const char* name, const char* path,
                        const char* interface, const char* property, GVariant* value) {
    const Api& g = *api();
    GError* error = nullptr;
    const Variant reply =
        own(g.callSync(bus, name, path, "org.freedesktop.DBus.Properties", "Set",
                       g.variantNew("(ssv)", interface, property, value), nullptr,
                       G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs, nullptr, &error));
    return reply ? std::string() : takeMessage(error);
}

std::optional<bool> asBoolean(const Variant& value) {
    if (!value || std::string_view(api()->variantTypeString(value.get())) != "b") {
        return std::nullopt;
    }
    return api()->variantBoolean(value.get()) != FALSE;
}

std::optional<double> asNumber(const Variant& value) {
    if (!value) {
        return std::nullopt;
    }
    const std::string_view kind = api()->variantTypeString(value.get());
    if (kind == "i") {
        return api()->variantInt32(value.get());
    }
    if (kind == "u") {
        return api()->variantUint32(value.get());
    }
    if (kind == "d") {
        return api()->variantDouble(value.get());
    }
    return std::nullopt;
}

Settings settingsIfInstalled(const char* schemaId) {
    const Api& g = *api();
    GSettingsSchemaSource* source = g.schemaSourceDefault();
    GSettingsSchema* schema = source != nullptr ? g.schemaLookup(source, schemaId, TRUE) : nullptr;
    if (schema == nullptr) {
        return nullptr;
    }
    g.schemaUnref(schema);
    return Settings(g.settingsNew(schemaId));
}

}  // namespace vesperine::Gio
