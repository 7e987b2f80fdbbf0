// Taskbar progress through the launcher entry signal that docks and panels read on the session
// bus. Without a session bus there is no taskbar to show progress on, and both operations fail
// as they do on Windows before the taskbar button exists.
#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "gui/gtk/gtk_internal.h"

static std::once_flag bus_once;
static GDBusConnection* bus;
static std::mutex progress_mutex;
static uint32_t progress_state;
static uint32_t progress_value;

static void bus_connect() {
    // Only a bus that is already there: connecting must never start one.
    const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    char* socket = nullptr;
    if (!address || !*address) {
        char* path = g_build_filename(g_get_user_runtime_dir(), "bus", nullptr);
        if (g_file_test(path, G_FILE_TEST_EXISTS)) {
            socket = g_strconcat("unix:path=", path, nullptr);
        }
        g_free(path);
        address = socket;
    }
    if (address) {
        bus = g_dbus_connection_new_for_address_sync(
            address,
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
    }
    g_free(socket);
}

static ErrorCode progress_send(const char* failed_call) {
    std::call_once(bus_once, bus_connect);
    if (!bus) {
        return gtk_fail(failed_call, ENOTCONN);
    }
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    {
        std::lock_guard<std::mutex> lock(progress_mutex);
        // Indeterminate progress has no picture on a launcher: it shows as an empty bar.
        bool visible = progress_state != 0;
        double fraction = progress_state == 1 ? 0.0 : progress_value / 100.0;
        g_variant_builder_add(&properties, "{sv}", "progress", g_variant_new_double(fraction));
        g_variant_builder_add(&properties, "{sv}", "progress-visible",
                              g_variant_new_boolean(visible));
        g_variant_builder_add(&properties, "{sv}", "urgent",
                              g_variant_new_boolean(progress_state == 4));
    }
    GError* error = nullptr;
    gboolean sent = g_dbus_connection_emit_signal(
        bus, nullptr, "/com/canonical/unity/launcherentry/quarnel",
        "com.canonical.Unity.LauncherEntry", "Update",
        g_variant_new("(sa{sv})", "application://quarnel.desktop", &properties), &error);
    if (!sent) {
        g_error_free(error);
        return gtk_fail(failed_call, EIO);
    }
    return GUI_ERROR_NONE;
}

ErrorCode backend_taskbar_state(uint32_t state) {
    {
        std::lock_guard<std::mutex> lock(progress_mutex);
        progress_state = state;
    }
    return progress_send("ITaskbarList3::SetProgressState");
}

ErrorCode backend_taskbar_value(uint32_t value) {
    {
        std::lock_guard<std::mutex> lock(progress_mutex);
        progress_value = value > 100 ? 100 : value;
        if (progress_state == 0 || progress_state == 1) {
            progress_state = 2;
        }
    }
    return progress_send("ITaskbarList3::SetProgressValue");
}
