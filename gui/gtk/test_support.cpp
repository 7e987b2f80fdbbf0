// The test support of gui/gui_test.h over the GTK backend. Actions are carried to the GUI thread
// through the same queue as the toolkit's own calls; an action first puts a low-priority idle
// probe in place, then acts, and the test thread waits for the probe: it runs only once the GUI
// thread is idle in a loop, the main loop or a modal loop that the action opened.
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "gui/gtk/gtk_internal.h"
#include "gui/gui_test.h"

enum : uint32_t { ACTION_TIMEOUT_MS = 30000 };

static std::mutex test_mutex;
static std::condition_variable test_changed;
static uint64_t test_generation;
static bool session_over = true;
static int entry_result = -1;
static std::vector<GuiTestModal> message_log;
static GuiTestBody session_body;
static void* session_context;
static std::thread body_thread;

static void test_notify() {
    {
        std::lock_guard<std::mutex> lock(test_mutex);
        test_generation++;
    }
    test_changed.notify_all();
}

static void copy_text(char* to, size_t size, const char* from) {
    g_strlcpy(to, from ? from : "", size);
}

static void log_message(GtkModal* modal) {
    GuiTestModal entry{};
    entry.kind = GUI_TEST_MODAL_MESSAGE;
    entry.type = modal->type;
    copy_text(entry.text, sizeof entry.text, modal->text);
    copy_text(entry.caption, sizeof entry.caption, modal->caption);
    std::lock_guard<std::mutex> lock(test_mutex);
    message_log.push_back(entry);
}

// ---- Settling ----------------------------------------------------------------------------------

struct Probe {
    bool done = false;
    int result = 0;
};
typedef std::shared_ptr<Probe> ProbePtr;

static gboolean probe_fire(gpointer data) {
    ProbePtr* probe = static_cast<ProbePtr*>(data);
    {
        std::lock_guard<std::mutex> lock(test_mutex);
        (*probe)->done = true;
        test_generation++;
    }
    test_changed.notify_all();
    delete probe;
    return G_SOURCE_REMOVE;
}

struct Action {
    ProbePtr probe;
    std::function<int()> check;    // runs first; a zero result skips `perform`
    std::function<void()> perform; // may open a modal loop
};

static void action_run(void* data) {
    Action* action = static_cast<Action*>(data);
    g_idle_add_full(G_PRIORITY_LOW, probe_fire, new ProbePtr(action->probe), nullptr);
    int result = action->check ? action->check() : 1;
    {
        std::lock_guard<std::mutex> lock(test_mutex);
        action->probe->result = result;
    }
    std::function<void()> perform = result && action->perform ? action->perform : nullptr;
    delete action;
    if (perform) {
        perform();
    }
}

// Runs an action on the GUI thread and waits until it has settled. Its check's result, or 0
// when the window is gone or the wait timed out.
static int act(std::function<int()> check, std::function<void()> perform,
               uint32_t timeout_ms = ACTION_TIMEOUT_MS) {
    ProbePtr probe = std::make_shared<Probe>();
    Action* action = new Action{probe, std::move(check), std::move(perform)};
    if (!gtk_post(action_run, action)) {
        delete action;
        return 0;
    }
    std::unique_lock<std::mutex> lock(test_mutex);
    bool settled = test_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                         [&] { return probe->done || session_over; });
    return settled && probe->done ? probe->result : 0;
}

int gui_test_settle(uint32_t timeout_ms) {
    return act(nullptr, nullptr, timeout_ms);
}

int gui_test_on_gui_thread(void (*function)(void* context), void* context) {
    ErrorCode code = gtk_call([&]() -> ErrorCode {
        function(context);
        return GUI_ERROR_NONE;
    });
    return code == GUI_ERROR_NONE;
}

int gui_test_wait(int (*condition)(void* context), void* context, uint32_t timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (condition(context)) {
            return 1;
        }
        std::unique_lock<std::mutex> lock(test_mutex);
        uint64_t seen = test_generation;
        // Woken by anything the GUI thread reports; the short bound catches what it does not.
        auto next =
            std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(20));
        test_changed.wait_until(lock, next, [&] { return test_generation != seen; });
        if (std::chrono::steady_clock::now() >= deadline) {
            lock.unlock();
            return condition(context) ? 1 : 0;
        }
    }
}

// ---- Heartbeat
// ----------------------------------------------------------------------------------- Touched on
// the GUI thread only. Times in microseconds of the monotonic clock.

static guint heartbeat_source;
static gint64 heartbeat_last;
static gint64 heartbeat_longest;

static void heartbeat_note() {
    gint64 now = g_get_monotonic_time();
    heartbeat_longest = MAX(heartbeat_longest, now - heartbeat_last);
    heartbeat_last = now;
}

static gboolean heartbeat_tick(gpointer) {
    heartbeat_note();
    return G_SOURCE_CONTINUE;
}

int gui_test_heartbeat_start(uint32_t interval_ms) {
    ErrorCode code = gtk_call([&]() -> ErrorCode {
        if (heartbeat_source) {
            g_source_remove(heartbeat_source);
        }
        heartbeat_last = g_get_monotonic_time();
        heartbeat_longest = 0;
        // At the priority of input events: it runs whenever the window could take a click.
        heartbeat_source = g_timeout_add_full(G_PRIORITY_DEFAULT, MAX(interval_ms, 1u),
                                              heartbeat_tick, nullptr, nullptr);
        return GUI_ERROR_NONE;
    });
    return code == GUI_ERROR_NONE;
}

int64_t gui_test_heartbeat_stop() {
    int64_t longest = -1;
    gtk_call([&]() -> ErrorCode {
        if (heartbeat_source) {
            heartbeat_note();
            g_source_remove(heartbeat_source);
            heartbeat_source = 0;
            longest = heartbeat_longest / 1000;
        }
        return GUI_ERROR_NONE;
    });
    return longest;
}

// ---- Sessions ----------------------------------------------------------------------------------

// Ends what a body left open (it may have stopped at a failed assertion): message boxes and
// dialogs first, then pop-ups, then the window, which goes even if a close handler refuses.
static void session_finish() {
    while (act([]() -> int { return gtk_modal_top != nullptr; },
               []() { modal_finish(gtk_modal_top, GTK_RESPONSE_CANCEL); })) {
    }
    while (gui_test_popup_close()) {
    }
    if (gui_test_close()) {
        act([]() -> int { return gtk_main_window != nullptr; },
            []() { gtk_widget_destroy(gtk_main_window); });
    }
}

static void body_run() {
    if (session_body) {
        session_body(session_context);
    }
    session_finish();
}

static void after_entry(int result) {
    {
        std::lock_guard<std::mutex> lock(test_mutex);
        entry_result = result;
        test_generation++;
    }
    test_changed.notify_all();
    if (result == 0) {
        body_thread = std::thread(body_run);
    }
}

int gui_test_run(GuiTestEntry entry, uint32_t argc, char** argv, GuiTestBody body, void* context) {
    static char program[] = "gui_test";
    static char* default_argv[] = {program, nullptr};
    {
        std::lock_guard<std::mutex> lock(test_mutex);
        session_over = false;
        entry_result = -1;
        message_log.clear();
    }
    session_body = body;
    session_context = context;
    gtk_test_notify = test_notify;
    gtk_test_message_shown = log_message;
    // Tests keep their hands off the desktop's settings.
    g_setenv("GSETTINGS_BACKEND", "memory", FALSE);
    g_setenv("NO_AT_BRIDGE", "1", FALSE);
    if (argc == 0 || !argv) {
        argc = 1;
        argv = default_argv;
    }
    int code = gtk_run(static_cast<int>(argc), argv, entry ? entry : app_main, after_entry);
    // A heartbeat that a body left running must not tick into the next session.
    if (heartbeat_source) {
        g_source_remove(heartbeat_source);
        heartbeat_source = 0;
    }
    {
        std::lock_guard<std::mutex> lock(test_mutex);
        session_over = true;
        test_generation++;
    }
    test_changed.notify_all();
    if (body_thread.joinable()) {
        body_thread.join();
    }
    gtk_test_autoanswer = 0;
    return code;
}

int gui_test_entry_result() {
    std::lock_guard<std::mutex> lock(test_mutex);
    return entry_result;
}

const char* gui_test_shutdown_steps() {
    return gtk_shutdown_steps;
}

// ---- Acting as the user ------------------------------------------------------------------------

static GtkControl* control_of(uint32_t id, ControlKind kind) {
    void* handle = nullptr;
    if (control_find_handle(id, kind, &handle) != GUI_ERROR_NONE) {
        return nullptr;
    }
    return static_cast<GtkControl*>(handle);
}

// A user reaches only controls that are shown and take input, in a window that takes input.
static bool control_reachable(GtkControl* control) {
    return gtk_widget_is_sensitive(control->widget) && gtk_widget_is_visible(control->widget);
}

int gui_test_click(uint32_t id) {
    GtkControl* control = nullptr;
    return act(
        [&]() -> int {
            control = control_of(id, 0);
            return control != nullptr;
        },
        [&]() {
            if (!control_reachable(control)) {
                return;
            }
            if (GTK_IS_BUTTON(control->widget)) {
                gtk_button_clicked(GTK_BUTTON(control->widget));
            } else {
                gtk_widget_grab_focus(control->widget);
            }
        });
}

int gui_test_combobox_choose(uint32_t id, uint32_t index) {
    GtkControl* control = nullptr;
    return act(
        [&]() -> int {
            control = control_of(id, GUI_COMBOBOX);
            GtkTreeModel* model =
                control ? gtk_combo_box_get_model(GTK_COMBO_BOX(control->widget)) : nullptr;
            return model &&
                   index < static_cast<uint32_t>(gtk_tree_model_iter_n_children(model, nullptr));
        },
        [&]() {
            if (control_reachable(control)) {
                gtk_combo_box_set_active(GTK_COMBO_BOX(control->widget), static_cast<int>(index));
            }
        });
}

int gui_test_type(uint32_t id, const char* text) {
    GtkControl* control = nullptr;
    std::string typed = text;
    return act(
        [&]() -> int {
            control = control_of(id, GUI_EDIT);
            return control != nullptr;
        },
        [&]() {
            if (!control_reachable(control)) {
                return;
            }
            gtk_widget_grab_focus(control->widget);
            if (GTK_IS_ENTRY(control->widget)) {
                GtkEditable* editable = GTK_EDITABLE(control->widget);
                if (!gtk_editable_get_editable(editable)) {
                    return;
                }
                gint position = gtk_editable_get_position(editable);
                for (const char* p = typed.c_str(); *p; p = g_utf8_next_char(p)) {
                    if (*p != '\n') {
                        gtk_editable_insert_text(
                            editable, p, static_cast<gint>(g_utf8_next_char(p) - p), &position);
                    }
                }
                gtk_editable_set_position(editable, position);
                return;
            }
            GtkTextView* view = GTK_TEXT_VIEW(control->widget);
            GtkTextBuffer* buffer = gtk_text_view_get_buffer(view);
            gtk_text_buffer_insert_interactive_at_cursor(buffer, typed.c_str(), -1,
                                                         gtk_text_view_get_editable(view));
        });
}

int gui_test_drop(const char* uri_list) {
    std::string text = uri_list;
    return act([&]() -> int { return gtk_drops_accepted && gtk_main_window; },
               [&]() { drop_receive_uri_list(text.c_str()); });
}

int gui_test_close() {
    return act([&]() -> int { return gtk_main_window != nullptr; },
               [&]() { gtk_window_close(GTK_WINDOW(gtk_main_window)); });
}

// ---- Message boxes and file dialogs -------------------------------------------------------------

static int modal_describe(GuiTestModal* out) {
    int found = 0;
    gtk_call([&]() -> ErrorCode {
        GtkModal* modal = gtk_modal_top;
        if (!modal) {
            return GUI_ERROR_NONE;
        }
        std::memset(out, 0, sizeof *out);
        out->kind = modal->kind;
        out->type = modal->type;
        copy_text(out->text, sizeof out->text, modal->text);
        copy_text(out->caption, sizeof out->caption, modal->caption);
        copy_text(out->file_name, sizeof out->file_name, modal->file_name);
        copy_text(out->folder, sizeof out->folder, modal->folder);
        out->filter_count = modal->filter_count;
        for (GtkModal* m = modal; m; m = m->outer) {
            out->depth++;
        }
        found = 1;
        return GUI_ERROR_NONE;
    });
    return found;
}

int gui_test_modal_wait(GuiTestModal* modal, uint32_t timeout_ms) {
    return gui_test_wait(
        [](void* context) -> int {
            GuiTestModal* out = static_cast<GuiTestModal*>(context);
            return gui_test_settle(ACTION_TIMEOUT_MS) && modal_describe(out);
        },
        modal, timeout_ms);
}

int gui_test_message_answer(NotificationAnswer answer) {
    GtkModal* modal = nullptr;
    return act(
        [&]() -> int {
            modal = gtk_modal_top;
            return modal && modal->kind == GUI_TEST_MODAL_MESSAGE && modal->dialog &&
                   message_box_accepts(modal->type, answer);
        },
        [&]() {
            if (answer == GUI_TEST_CLOSE_BUTTON) {
                gtk_window_close(GTK_WINDOW(modal->dialog));
            } else {
                modal_finish(modal, message_box_response(answer));
            }
        });
}

void gui_test_message_autoanswer(int enabled, NotificationAnswer answer) {
    gtk_test_autoanswer_value = answer;
    gtk_test_autoanswer = enabled;
}

uint32_t gui_test_message_log(GuiTestModal* boxes, uint32_t max) {
    std::lock_guard<std::mutex> lock(test_mutex);
    for (uint32_t i = 0; i < max && i < message_log.size(); i++) {
        boxes[i] = message_log[i];
    }
    return static_cast<uint32_t>(message_log.size());
}

static bool file_dialog_open(GtkModal* modal) {
    return modal && (modal->kind == GUI_TEST_MODAL_OPEN || modal->kind == GUI_TEST_MODAL_SAVE);
}

int gui_test_file_answer(const char* path) {
    GtkModal* modal = nullptr;
    std::string chosen = path ? path : "";
    bool cancel = path == nullptr;
    return act(
        [&]() -> int {
            modal = gtk_modal_top;
            return file_dialog_open(modal);
        },
        [&]() {
            if (cancel) {
                gtk_dialog_response(GTK_DIALOG(modal->dialog), GTK_RESPONSE_CANCEL);
                return;
            }
            // Straight to the toolkit's own checks: GTK's would refuse a name that its view has
            // not selected yet.
            g_free(modal->answer_path);
            modal->answer_path = g_strdup(chosen.c_str());
            modal->answered = 1;
            modal_finish(modal, GTK_RESPONSE_ACCEPT);
        });
}

int gui_test_file_filter_accepts(const char* name) {
    int accepted = -1;
    gtk_call([&]() -> ErrorCode {
        if (!file_dialog_open(gtk_modal_top)) {
            return GUI_ERROR_NONE;
        }
        GtkFileFilter* filter =
            gtk_file_chooser_get_filter(GTK_FILE_CHOOSER(gtk_modal_top->dialog));
        if (!filter) {
            accepted = 1;
            return GUI_ERROR_NONE;
        }
        GtkFileFilterInfo info{};
        info.contains = static_cast<GtkFileFilterFlags>(GTK_FILE_FILTER_DISPLAY_NAME);
        info.display_name = name;
        accepted = gtk_file_filter_filter(filter, &info) ? 1 : 0;
        return GUI_ERROR_NONE;
    });
    return accepted;
}

// ---- Looking at the window ----------------------------------------------------------------------

// A window's outer rectangle: with a window manager's frame where there is one.
static void outer_rectangle(GtkWidget* window, int32_t* x, int32_t* y, int32_t* width,
                            int32_t* height) {
    GdkWindow* native = gtk_widget_get_window(window);
    if (native && gtk_widget_get_mapped(window)) {
        GdkRectangle frame;
        gdk_window_get_frame_extents(native, &frame);
        *x = frame.x;
        *y = frame.y;
        *width = frame.width;
        *height = frame.height;
        return;
    }
    gtk_window_get_position(GTK_WINDOW(window), x, y);
    gtk_window_get_size(GTK_WINDOW(window), width, height);
}

int gui_test_window(GuiTestWindow* out) {
    std::memset(out, 0, sizeof *out);
    gtk_call([&]() -> ErrorCode {
        GtkWidget* window = gtk_main_window;
        out->exists = 1;
        outer_rectangle(window, &out->x, &out->y, &out->width, &out->height);
        out->client_width = gtk_widget_get_allocated_width(gtk_main_fixed);
        out->client_height = gtk_widget_get_allocated_height(gtk_main_fixed);
        out->resizable = gtk_window_get_resizable(GTK_WINDOW(window));
        out->sensitive = gtk_widget_get_sensitive(window);
        out->accepts_drops = gtk_drops_accepted;
        GdkWindow* native = gtk_widget_get_window(window);
        out->shown = native && gdk_window_is_viewable(native);
        copy_text(out->icon_name, sizeof out->icon_name,
                  gtk_window_get_icon_name(GTK_WINDOW(window)));
        char* title = text_from_display(gtk_window_get_title(GTK_WINDOW(window)), gtk_title_latin1);
        copy_text(out->title, sizeof out->title, title);
        g_free(title);
        return GUI_ERROR_NONE;
    });
    return out->exists;
}

// The widget that draws a control's text.
static GtkWidget* text_widget(GtkControl* control) {
    if (GTK_IS_FRAME(control->widget)) {
        GtkWidget* label = gtk_frame_get_label_widget(GTK_FRAME(control->widget));
        return label ? label : control->widget;
    }
    if (GTK_IS_BUTTON(control->widget) && !GTK_IS_COMBO_BOX(control->widget)) {
        GtkWidget* child = gtk_bin_get_child(GTK_BIN(control->widget));
        return child ? child : control->widget;
    }
    return control->widget;
}

static int alignment_of(float xalign) {
    return xalign > 0.75f ? 2 : xalign > 0.25f ? 1 : 0;
}

int gui_test_control(uint32_t id, GuiTestControl* out) {
    std::memset(out, 0, sizeof *out);
    int found = 0;
    gtk_call([&]() -> ErrorCode {
        GtkControl* control = control_of(id, 0);
        if (!control) {
            return GUI_ERROR_NONE;
        }
        found = 1;
        out->kind = control->kind;
        gint x = 0, y = 0;
        gtk_container_child_get(GTK_CONTAINER(gtk_main_fixed), control->outer, "x", &x, "y", &y,
                                nullptr);
        out->x = x;
        out->y = y;
        gint width = 0, height = 0;
        gtk_widget_get_size_request(control->outer, &width, &height);
        // What GtkFixed gives the control: its size request, or its minimum where that is
        // larger; known at once, without waiting for the next layout.
        GtkRequisition minimum;
        gtk_widget_get_preferred_size(control->outer, &minimum, nullptr);
        out->shown_width = minimum.width;
        out->shown_height = minimum.height;
        if (height < 0) {
            height = minimum.height; // combo boxes take their natural height
        }
        out->width = width;
        out->height = height;
        out->visible = gtk_widget_get_visible(control->outer);
        out->enabled = gtk_widget_get_sensitive(control->outer);
        out->fixed_font = gtk_style_context_has_class(gtk_widget_get_style_context(control->widget),
                                                      "quarnel-fixed");
        GtkWidget* shows = text_widget(control);
        PangoFontDescription* font = nullptr;
        GtkStyleContext* style = gtk_widget_get_style_context(shows);
        gtk_style_context_get(style, gtk_style_context_get_state(style), "font", &font, nullptr);
        if (font) {
            copy_text(out->font_family, sizeof out->font_family,
                      pango_font_description_get_family(font));
            double size = pango_font_description_get_size(font) / static_cast<double>(PANGO_SCALE);
            if (!pango_font_description_get_size_is_absolute(font)) {
                size = size * 96.0 / 72.0;
            }
            out->font_pixels = static_cast<int32_t>(size + 0.5);
            pango_font_description_free(font);
        }
        out->text_right_of_box = gtk_widget_get_direction(control->widget) != GTK_TEXT_DIR_RTL;
        if (GTK_IS_LABEL(shows)) {
            out->alignment = alignment_of(gtk_label_get_xalign(GTK_LABEL(shows)));
        } else if (GTK_IS_ENTRY(control->widget)) {
            out->alignment = alignment_of(gtk_entry_get_alignment(GTK_ENTRY(control->widget)));
            out->read_only = !gtk_editable_get_editable(GTK_EDITABLE(control->widget));
        } else if (GTK_IS_TEXT_VIEW(control->widget)) {
            GtkJustification j = gtk_text_view_get_justification(GTK_TEXT_VIEW(control->widget));
            out->alignment = j == GTK_JUSTIFY_RIGHT ? 2 : j == GTK_JUSTIFY_CENTER ? 1 : 0;
            out->read_only = !gtk_text_view_get_editable(GTK_TEXT_VIEW(control->widget));
            out->multi_line = 1;
        }
        out->marquee = control->marquee != 0;
        return GUI_ERROR_NONE;
    });
    return found;
}

int gui_test_popup(GuiTestPopup* out) {
    std::memset(out, 0, sizeof *out);
    gtk_call([&]() -> ErrorCode {
        GtkWidget* popup = gtk_popup_newest;
        if (!popup) {
            return GUI_ERROR_NONE;
        }
        out->open = 1;
        outer_rectangle(popup, &out->x, &out->y, &out->width, &out->height);
        gtk_window_get_size(GTK_WINDOW(popup), &out->client_width, &out->client_height);
        char* title = text_from_display(gtk_window_get_title(GTK_WINDOW(popup)), 0);
        copy_text(out->title, sizeof out->title, title);
        g_free(title);
        GtkWidget* view =
            static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(popup), "quarnel-view"));
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
        GtkTextIter start, end;
        gtk_text_buffer_get_bounds(buffer, &start, &end);
        char* shown = gtk_text_buffer_get_text(buffer, &start, &end, TRUE);
        int latin1 = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(popup), "quarnel-latin1"));
        char* bytes = text_from_display(shown, latin1);
        copy_text(out->text, sizeof out->text, bytes);
        out->text_length = static_cast<uint32_t>(std::strlen(bytes));
        g_free(bytes);
        g_free(shown);
        out->read_only = !gtk_text_view_get_editable(GTK_TEXT_VIEW(view));
        out->fixed_font =
            gtk_style_context_has_class(gtk_widget_get_style_context(view), "quarnel-fixed");
        return GUI_ERROR_NONE;
    });
    return out->open;
}

int gui_test_popup_close() {
    return act([&]() -> int { return gtk_popup_newest != nullptr; },
               [&]() { gtk_window_close(GTK_WINDOW(gtk_popup_newest)); });
}
