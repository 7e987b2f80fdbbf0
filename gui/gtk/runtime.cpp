// The toolkit's life on the GUI thread: start-up with the two signals, the application thread,
// the main window, the main loop and the shutdown in its fixed order.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <semaphore>
#include <thread>

#include "gui/gtk/gtk_internal.h"

#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

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

static bool window_manager_present() {
#ifdef GDK_WINDOWING_X11
    GdkScreen* screen = gdk_screen_get_default();
    if (GDK_IS_X11_SCREEN(screen)) {
        const char* name = gdk_x11_screen_get_window_manager_name(screen);
        return name && std::strcmp(name, "unknown") != 0;
    }
#endif
    return true;
}

// The frame measured on the main window once the window manager has put one around it.
static int32_t measured_frame_width = -1;
static int32_t measured_frame_height = -1;

int32_t frame_width() {
    if (measured_frame_width >= 0) {
        return measured_frame_width;
    }
    return window_manager_present() ? 6 : 0;
}

int32_t frame_height() {
    if (measured_frame_height >= 0) {
        return measured_frame_height;
    }
    return window_manager_present() ? 29 : 0;
}

// Once the window manager's frame is known, the client area is sized so that the outer size is
// the described one.
static gboolean on_configure(GtkWidget* window, GdkEvent*, gpointer) {
    GdkWindow* native = gtk_widget_get_window(window);
    if (!native || measured_frame_width >= 0) {
        return FALSE;
    }
    GdkRectangle frame;
    gdk_window_get_frame_extents(native, &frame);
    int32_t width = frame.width - gdk_window_get_width(native);
    int32_t height = frame.height - gdk_window_get_height(native);
    if (width <= 0 && height <= 0) {
        return FALSE; // no frame (yet)
    }
    measured_frame_width = width;
    measured_frame_height = height;
    gtk_widget_set_size_request(gtk_main_fixed, MAX(gui_description.width - width, 1),
                                MAX(gui_description.height - height, 1));
    return FALSE;
}

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

// The icon: resource numbers name the program's own icon, "quarnel" in the icon theme, looked for
// also next to the program (<folder>/icons/hicolor/...), as the build lays it out. 0, or an icon
// that cannot be found, gives the system's default application icon.
static void window_icon_set(GtkWidget* window, uint32_t icon) {
    const char* name = "application-x-executable";
    if (icon != 0) {
        static bool searched;
        GtkIconTheme* theme = gtk_icon_theme_get_default();
        if (!searched) {
            searched = true;
            char* program = g_file_read_link("/proc/self/exe", nullptr);
            if (program) {
                char* folder = g_path_get_dirname(program);
                char* icons = g_build_filename(folder, "icons", nullptr);
                gtk_icon_theme_append_search_path(theme, icons);
                g_free(icons);
                g_free(folder);
                g_free(program);
            }
        }
        if (gtk_icon_theme_has_icon(theme, "quarnel")) {
            name = "quarnel";
        }
    }
    gtk_window_set_icon_name(GTK_WINDOW(window), name);
}

// No maximise box and no sizing: the frame offers moving, minimising and closing only.
static void on_realize(GtkWidget* window, gpointer) {
    GdkWindow* native = gtk_widget_get_window(window);
    gdk_window_set_functions(
        native, static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_MINIMIZE | GDK_FUNC_CLOSE));
    gdk_window_set_decorations(native,
                               static_cast<GdkWMDecoration>(GDK_DECOR_BORDER | GDK_DECOR_TITLE |
                                                            GDK_DECOR_MENU | GDK_DECOR_MINIMIZE));
}

static void window_build() {
    const WindowDescription* d = &gui_description;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    char* title = text_to_display(d->title ? d->title : "", &gtk_title_latin1);
    gtk_window_set_title(GTK_WINDOW(window), title);
    g_free(title);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    window_icon_set(window, d->icon);
    gtk_widget_add_events(window, GDK_KEY_PRESS_MASK);

    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, MAX(d->width - frame_width(), 1),
                                MAX(d->height - frame_height(), 1));
    gtk_container_add(GTK_CONTAINER(window), fixed);
    gtk_style_context_add_class(gtk_widget_get_style_context(window), "quarnel-main");

    if (d->x != -1 && d->y != -1) {
        gtk_window_move(GTK_WINDOW(window), d->x, d->y);
    }
    g_signal_connect(window, "delete-event", G_CALLBACK(on_delete), nullptr);
    g_signal_connect(window, "configure-event", G_CALLBACK(on_configure), nullptr);
    g_signal_connect(window, "realize", G_CALLBACK(on_realize), nullptr);
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
    measured_frame_width = measured_frame_height = -1;
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
