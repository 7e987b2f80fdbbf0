// The toolkit's life on the GUI thread: start-up with the two signals, the application thread,
// the main window, the main loop and the shutdown in its fixed order.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <semaphore>
#include <thread>

#include "gui/gtk/gtk_internal.h"

GtkWidget* gtk_main_window;
GtkWidget* gtk_main_fixed;
int gtk_title_latin1;
char gtk_shutdown_steps[256];

static std::thread::id gui_thread_id;
static GMainLoop* main_loop;

// The two start-up signals, one for each direction, so that no thread can take its own signal.
static std::binary_semaphore description_ready{0};
static std::binary_semaphore window_ready{0};
static bool description_given;

struct AppStart {
    uint32_t argc;
    char** argv;
    int (*entry)(uint32_t, char**);
    GtkEntryHook after_entry;
};

int gtk_on_gui_thread() {
    return std::this_thread::get_id() == gui_thread_id;
}

void gtk_shutdown_step(const char* step) {
    if (gtk_shutdown_steps[0] != '\0') {
        g_strlcat(gtk_shutdown_steps, " ", sizeof gtk_shutdown_steps);
    }
    g_strlcat(gtk_shutdown_steps, step, sizeof gtk_shutdown_steps);
}

void backend_window_create() {
    if (description_given) {
        return; // one main window per run
    }
    description_given = true;
    description_ready.release();
    window_ready.acquire();
}

// Ends the main loop without destroying the window first, as the application thread does when
// the application failed to set itself up.
static ErrorCode loop_quit(void*) {
    g_main_loop_quit(main_loop);
    return GUI_ERROR_NONE;
}

static void app_thread(AppStart start) {
    int result = start.entry(start.argc, start.argv);
    if (!description_given) {
        // The application ended without asking for a window: nothing to wait for any more.
        description_ready.release();
    } else if (result != 0) {
        gtk_call(loop_quit, nullptr);
    }
    if (start.after_entry) {
        start.after_entry(result);
    }
}

static gboolean on_delete(GtkWidget*, GdkEvent*, gpointer) {
    // A pop-up or a file dialog blocks the main window, its close button included.
    if (gtk_main_blocked > 0 || gtk_popup_count > 0) {
        return TRUE;
    }
    if (event_close_request()) {
        gtk_widget_destroy(gtk_main_window);
    }
    return TRUE;
}

static void on_destroy(GtkWidget*, gpointer) {
    gtk_main_window = nullptr;
    gtk_main_fixed = nullptr;
    gtk_shutdown_step("destroy");
    g_main_loop_quit(main_loop);
    if (gtk_test_notify) {
        gtk_test_notify();
    }
}

static void window_build() {
    const WindowDescription* d = &gui_description;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    char* title = text_to_display(d->title ? d->title : "", &gtk_title_latin1);
    gtk_window_set_title(GTK_WINDOW(window), title);
    g_free(title);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_icon_name(GTK_WINDOW(window), "application-x-executable");
    gtk_widget_add_events(window, GDK_KEY_PRESS_MASK);

    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, MAX(d->width - FRAME_WIDTH, 1),
                                MAX(d->height - FRAME_HEIGHT, 1));
    gtk_container_add(GTK_CONTAINER(window), fixed);
    gtk_style_context_add_class(gtk_widget_get_style_context(window), "quarnel-main");

    if (d->x != -1 && d->y != -1) {
        gtk_window_move(GTK_WINDOW(window), d->x, d->y);
    }
    g_signal_connect(window, "delete-event", G_CALLBACK(on_delete), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(on_destroy), nullptr);
    gtk_main_window = window;
    gtk_main_fixed = fixed;
    drop_window_init(window);
    if (d->on_drop) {
        drop_accept(1);
    }
    gtk_widget_show_all(window);
}

static void start_failure(const char* text) {
    GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING,
                                            GTK_BUTTONS_OK, "%s", text);
    gtk_window_set_title(GTK_WINDOW(box), "Error");
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

int gtk_run(int argc, char** argv, int (*entry)(uint32_t, char**), GtkEntryHook after_entry) {
    static bool initialised;
    if (!initialised) {
        // Without a display there is no window to show a message in.
        if (!gtk_init_check(&argc, &argv)) {
            std::fprintf(stderr, "Error: Error Starting Application (no display)\n");
            return 0;
        }
        initialised = true;
    }
    gui_thread_id = std::this_thread::get_id();
    gtk_shutdown_steps[0] = '\0';
    description_given = false;
    gui_gate_reset();
    main_loop = g_main_loop_new(nullptr, FALSE);
    gtk_queue_attach();
    style_install();

    AppStart start{static_cast<uint32_t>(argc), argv, entry, after_entry};
    std::thread application;
    try {
        application = std::thread(app_thread, start);
    } catch (...) {
        start_failure("Error Starting Application");
        gtk_queue_close();
        style_remove();
        g_main_loop_unref(main_loop);
        return 0;
    }

    description_ready.acquire();
    if (description_given) {
        window_build();
        gtk_queue_open();
        window_ready.release();
        g_main_loop_run(main_loop);
    }
    gtk_shutdown_step("loop");

    // Shutdown: release every caller still waiting for the GUI thread, then wait for the
    // application thread, then release the fonts and the control table.
    gtk_queue_close();
    if (gtk_main_window) {
        gtk_widget_destroy(gtk_main_window);
    }
    application.join();
    gtk_shutdown_step("application");
    style_remove();
    gtk_shutdown_step("font");
    gui_gate_close();
    control_table_free(control_release);
    gtk_shutdown_step("controls");
    // Let GTK finish what the destruction queued before the next session or the exit.
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    gdk_display_sync(gdk_display_get_default());
    g_main_loop_unref(main_loop);
    main_loop = nullptr;
    return 0;
}
