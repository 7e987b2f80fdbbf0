// Files dropped on the main window: a text/uri-list whose entries must all be local files.
#include <cstdlib>
#include <cstring>

#include "gui/gtk/gtk_internal.h"

int gtk_drops_accepted;

// A local path for one URI (malloc'd), or null when it names no file on this machine.
static char* uri_to_path(const char* uri) {
    char* host = nullptr;
    char* path = g_filename_from_uri(uri, &host, nullptr);
    if (!path) {
        return nullptr;
    }
    bool local = !host || g_ascii_strcasecmp(host, "localhost") == 0 ||
                 g_ascii_strcasecmp(host, g_get_host_name()) == 0;
    g_free(host);
    char* copy = local ? strdup(path) : nullptr;
    g_free(path);
    return copy;
}

int drop_receive_uri_list(const char* uri_list) {
    char** uris = g_uri_list_extract_uris(uri_list);
    uint32_t count = g_strv_length(uris);
    if (count == 0) {
        g_strfreev(uris);
        return 0;
    }
    char** names = static_cast<char**>(std::calloc(count, sizeof(char*)));
    bool complete = names != nullptr;
    for (uint32_t i = 0; complete && i < count; i++) {
        names[i] = uri_to_path(uris[i]);
        complete = names[i] != nullptr && names[i][0] != '\0';
    }
    g_strfreev(uris);
    if (!complete) {
        // One entry that cannot be read discards the whole drop.
        for (uint32_t i = 0; names && i < count; i++) {
            std::free(names[i]);
        }
        std::free(names);
        return 0;
    }
    event_drop(count, names);
    return 1;
}

static void on_drag_data(GtkWidget*, GdkDragContext*, gint, gint, GtkSelectionData* data, guint,
                         guint, gpointer) {
    gint length = 0;
    const guchar* bytes = gtk_selection_data_get_data_with_length(data, &length);
    if (!bytes || length <= 0 || !gtk_drops_accepted) {
        return;
    }
    char* text = g_strndup(reinterpret_cast<const char*>(bytes), static_cast<gsize>(length));
    drop_receive_uri_list(text);
    g_free(text);
}

void drop_window_init(GtkWidget* window) {
    gtk_drops_accepted = 0;
    g_signal_connect(window, "drag-data-received", G_CALLBACK(on_drag_data), nullptr);
}

void drop_accept(int accept) {
    if (!gtk_main_window || (accept != 0) == (gtk_drops_accepted != 0)) {
        return;
    }
    gtk_drops_accepted = accept != 0;
    if (accept) {
        static const GtkTargetEntry targets[] = {{const_cast<gchar*>("text/uri-list"), 0, 0}};
        gtk_drag_dest_set(gtk_main_window, GTK_DEST_DEFAULT_ALL, targets, 1, GDK_ACTION_COPY);
    } else {
        gtk_drag_dest_unset(gtk_main_window);
    }
}

void backend_window_accept_files(int accept) {
    gtk_call([&]() -> ErrorCode {
        drop_accept(accept);
        return GUI_ERROR_NONE;
    });
}
