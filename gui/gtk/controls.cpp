// The eight control kinds over GTK widgets in the main window's GtkFixed, and the operations on
// them. Each operation runs on the GUI thread (gtk_call).
#include <cerrno>
#include <cstring>

#include "gui/gtk/gtk_internal.h"

int gtk_programmatic;

// Changes that the toolkit makes itself produce no events; nests.
struct Programmatic {
    Programmatic() {
        gtk_programmatic++;
    }
    ~Programmatic() {
        gtk_programmatic--;
    }
};

// ---- Check boxes and radio buttons that a click does not change ------------------------------
// A GTK toggle button flips its state in the class handler of "clicked", before any handler of
// ours runs. These subclasses flip only when the toolkit sets the state itself: a click on a
// radio button just produces the event, and a check box is toggled by the event code first.

static void quiet_clicked(GtkButton* button) {
    if (gtk_programmatic) {
        GtkButtonClass* toggle = GTK_BUTTON_CLASS(g_type_class_peek(GTK_TYPE_TOGGLE_BUTTON));
        toggle->clicked(button);
    }
}

static void quiet_class_init(gpointer klass, gpointer) {
    GTK_BUTTON_CLASS(klass)->clicked = quiet_clicked;
}

static GType quiet_type(GType parent, const char* name) {
    GTypeQuery query;
    g_type_query(parent, &query);
    return g_type_register_static_simple(parent, g_intern_static_string(name), query.class_size,
                                         quiet_class_init, query.instance_size, nullptr,
                                         static_cast<GTypeFlags>(0));
}

static GType quiet_check_type() {
    static GType type = quiet_type(GTK_TYPE_CHECK_BUTTON, "QuarnelCheckBox");
    return type;
}

static GType quiet_radio_type() {
    static GType type = quiet_type(GTK_TYPE_RADIO_BUTTON, "QuarnelRadioButton");
    return type;
}

// ---- Events ------------------------------------------------------------------------------------

static void on_clicked(GtkButton*, gpointer data) {
    if (!gtk_programmatic) {
        event_control(static_cast<GtkControl*>(data)->id, 0);
    }
}

static void on_combo_changed(GtkComboBox*, gpointer data) {
    if (!gtk_programmatic) {
        event_control(static_cast<GtkControl*>(data)->id, 1);
    }
}

// A multi-line box ends lines in CR LF as a Win32 edit box does: Enter and pasted line feeds
// become CR LF, while texts that the application sets stay exactly as set.
static void on_text_insert(GtkTextBuffer* buffer, GtkTextIter* location, gchar* text, gint length,
                           gpointer) {
    if (gtk_programmatic) {
        return;
    }
    bool lone = false;
    for (gint i = 0; i < length && !lone; i++) {
        lone = text[i] == '\n' && (i == 0 || text[i - 1] != '\r');
    }
    if (!lone) {
        return;
    }
    GString* converted = g_string_sized_new(static_cast<gsize>(length) * 2);
    for (gint i = 0; i < length; i++) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            g_string_append_c(converted, '\r');
        }
        g_string_append_c(converted, text[i]);
    }
    g_signal_stop_emission_by_name(buffer, "insert-text");
    {
        Programmatic quiet;
        gtk_text_buffer_insert(buffer, location, converted->str, static_cast<gint>(converted->len));
    }
    g_string_free(converted, TRUE);
}

// GUI_STYLE_NUMBER: only digits can be typed.
static void on_entry_insert(GtkEditable* editable, gchar* text, gint length, gint*, gpointer) {
    if (gtk_programmatic) {
        return;
    }
    for (gint i = 0; i < length; i++) {
        if (text[i] < '0' || text[i] > '9') {
            g_signal_stop_emission_by_name(editable, "insert-text");
            gtk_widget_error_bell(GTK_WIDGET(editable));
            return;
        }
    }
}

// ---- Creation ----------------------------------------------------------------------------------

static float label_alignment(ControlStyle flags) {
    if (flags & GUI_STYLE_RIGHT) {
        return 1.0f;
    }
    if (flags & GUI_STYLE_CENTER) {
        return 0.5f;
    }
    return 0.0f;
}

static float button_alignment(ControlStyle flags) {
    if (flags & GUI_STYLE_RIGHT) {
        return 1.0f;
    }
    if (flags & GUI_STYLE_CENTER) {
        return 0.5f;
    }
    if (flags & GUI_STYLE_LEFT) {
        return 0.0f;
    }
    return 0.5f;
}

static float edit_alignment(ControlStyle flags) {
    if (flags & GUI_STYLE_LEFT) {
        return 0.0f;
    }
    if (flags & GUI_STYLE_RIGHT) {
        return 1.0f;
    }
    if (flags & GUI_STYLE_CENTER) {
        return 0.5f;
    }
    return 0.0f;
}

static GtkJustification justification(float alignment) {
    if (alignment > 0.75f) {
        return GTK_JUSTIFY_RIGHT;
    }
    return alignment > 0.25f ? GTK_JUSTIFY_CENTER : GTK_JUSTIFY_LEFT;
}

// A push button keeps the size it was given, as on Windows: a caption too long for it is cut
// short with an ellipsis instead of stretching its frame over its neighbours. Check boxes and
// radio buttons have no frame, so their captions are shown whole.
static void button_label_align(GtkWidget* button, float alignment) {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(button));
    if (GTK_IS_LABEL(child)) {
        if (!GTK_IS_CHECK_BUTTON(button)) {
            gtk_label_set_ellipsize(GTK_LABEL(child), PANGO_ELLIPSIZE_END);
        }
        gtk_label_set_xalign(GTK_LABEL(child), alignment);
        if (GTK_IS_CHECK_BUTTON(button)) {
            gtk_widget_set_hexpand(child, TRUE);
        }
    }
}

static void edit_build(GtkControl* control, const char* text) {
    ControlStyle flags = control->flags;
    int fixed = (flags & GUI_STYLE_FIXED_FONT) != 0;
    if (!(flags & GUI_STYLE_MULTILINE)) {
        GtkWidget* entry = gtk_entry_new();
        gtk_entry_set_alignment(GTK_ENTRY(entry), edit_alignment(flags));
        gtk_editable_set_editable(GTK_EDITABLE(entry), !(flags & GUI_STYLE_READONLY));
        gtk_entry_set_width_chars(GTK_ENTRY(entry), 1);
        if (flags & GUI_STYLE_NUMBER) {
            gtk_entry_set_input_purpose(GTK_ENTRY(entry), GTK_INPUT_PURPOSE_DIGITS);
            g_signal_connect(entry, "insert-text", G_CALLBACK(on_entry_insert), control);
        }
        gtk_entry_set_text(GTK_ENTRY(entry), text);
        style_apply(entry, fixed);
        control->outer = control->widget = entry;
        return;
    }
    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_justification(GTK_TEXT_VIEW(view), justification(edit_alignment(flags)));
    gtk_text_view_set_editable(GTK_TEXT_VIEW(view), !(flags & GUI_STYLE_READONLY));
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(view), 2);
    gtk_text_view_set_right_margin(GTK_TEXT_VIEW(view), 2);
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
    gtk_text_buffer_set_text(buffer, text, -1);
    g_signal_connect(buffer, "insert-text", G_CALLBACK(on_text_insert), control);
    style_apply(view, fixed);

    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(scrolled), FALSE);
    if (flags & GUI_STYLE_SCROLL) {
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_ALWAYS,
                                       GTK_POLICY_ALWAYS);
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_NONE);
    } else {
        // No scroll bars: the box still scrolls with the cursor; without automatic horizontal
        // scrolling long lines wrap, as in a Win32 multi-line box.
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_EXTERNAL,
                                       GTK_POLICY_EXTERNAL);
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), (flags & GUI_STYLE_AUTOSCROLL)
                                                             ? GTK_WRAP_NONE
                                                             : GTK_WRAP_WORD_CHAR);
    }
    gtk_container_add(GTK_CONTAINER(scrolled), view);
    control->outer = scrolled;
    control->widget = view;
}

static void control_build(GtkControl* control, const char* text) {
    ControlStyle flags = control->flags;
    int fixed = (flags & GUI_STYLE_FIXED_FONT) != 0;
    GtkWidget* widget = nullptr;
    switch (control->kind) {
    case GUI_GROUPBOX:
        widget = gtk_frame_new(text);
        gtk_frame_set_label_align(GTK_FRAME(widget), 0.0f, 0.5f);
        break;
    case GUI_LABEL:
        widget = gtk_label_new(text);
        gtk_label_set_xalign(GTK_LABEL(widget), label_alignment(flags));
        gtk_label_set_yalign(GTK_LABEL(widget), 0.0f);
        gtk_label_set_justify(GTK_LABEL(widget), justification(label_alignment(flags)));
        gtk_label_set_line_wrap(GTK_LABEL(widget), TRUE);
        gtk_label_set_line_wrap_mode(GTK_LABEL(widget), PANGO_WRAP_WORD_CHAR);
        gtk_label_set_ellipsize(GTK_LABEL(widget), PANGO_ELLIPSIZE_END);
        break;
    case GUI_BUTTON:
        widget = gtk_button_new_with_label(text);
        button_label_align(widget, button_alignment(flags));
        g_signal_connect(widget, "clicked", G_CALLBACK(on_clicked), control);
        break;
    case GUI_CHECKBOX:
    case GUI_RADIO_BUTTON:
        widget = GTK_WIDGET(
            g_object_new(control->kind == GUI_CHECKBOX ? quiet_check_type() : quiet_radio_type(),
                         "label", text, nullptr));
        if (flags & GUI_STYLE_LEFT) {
            gtk_widget_set_direction(widget, GTK_TEXT_DIR_RTL);
        } else {
            gtk_widget_set_direction(widget, GTK_TEXT_DIR_LTR);
        }
        // A radio button alone in its group starts checked in GTK; a control starts unchecked.
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget), FALSE);
        button_label_align(widget, 0.0f);
        if (GtkWidget* child = gtk_bin_get_child(GTK_BIN(widget))) {
            gtk_widget_set_direction(child, GTK_TEXT_DIR_LTR);
        }
        g_signal_connect(widget, "clicked", G_CALLBACK(on_clicked), control);
        break;
    case GUI_EDIT:
        edit_build(control, text);
        return;
    case GUI_PROGRESSBAR:
        widget = gtk_progress_bar_new();
        gtk_widget_set_valign(widget, GTK_ALIGN_FILL);
        break;
    case GUI_COMBOBOX:
        widget = gtk_combo_box_text_new();
        g_signal_connect(widget, "changed", G_CALLBACK(on_combo_changed), control);
        break;
    }
    if (control->kind != GUI_PROGRESSBAR) {
        style_apply(widget, fixed);
    }
    control->outer = control->widget = widget;
}

// A label wraps its text over as many lines as its height holds, and no more.
static void control_size(GtkControl* control, int32_t width, int32_t height) {
    if (control->kind == GUI_LABEL) {
        int line = style_default_pixels() + 3;
        if (control->flags & GUI_STYLE_FIXED_FONT) {
            line = style_fixed_pixels() + 3;
        }
        gtk_label_set_lines(GTK_LABEL(control->widget), MAX(height / line, 1));
    }
    gtk_widget_set_size_request(control->outer, MAX(width, 0),
                                control->kind == GUI_COMBOBOX ? -1 : MAX(height, 0));
}

ErrorCode backend_control_create(ControlKind kind, const char* text, ControlStyle flags,
                                 uint32_t id, int32_t x, int32_t y, int32_t width, int32_t height) {
    return gtk_call([&]() -> ErrorCode {
        ControlKind existing = 0;
        if (control_find_kind(id, &existing) == GUI_ERROR_NONE) {
            return GUI_ERROR_INITIALIZATION;
        }
        GtkControl* control = g_new0(GtkControl, 1);
        control->id = id;
        control->kind = kind;
        control->flags = flags;
        char* shown = text_to_display(text, &control->latin1);
        {
            Programmatic quiet;
            control_build(control, kind == GUI_COMBOBOX || kind == GUI_PROGRESSBAR ? "" : shown);
        }
        g_free(shown);
        g_object_ref_sink(control->outer);
        if (control_table_link(id, kind, control) != GUI_ERROR_NONE) {
            gtk_widget_destroy(control->outer);
            g_object_unref(control->outer);
            g_free(control);
            return GUI_ERROR_MALLOC;
        }
        gtk_fixed_put(GTK_FIXED(gtk_main_fixed), control->outer, x, y);
        control_size(control, width, height);
        gtk_widget_show_all(control->outer);
        return GUI_ERROR_NONE;
    });
}

void control_release(void* handle, ControlKind) {
    GtkControl* control = static_cast<GtkControl*>(handle);
    if (control->marquee) {
        g_source_remove(control->marquee);
    }
    g_object_unref(control->outer);
    g_free(control);
}

// ---- Placement and state ------------------------------------------------------------------------

ErrorCode backend_control_move(void* handle, int32_t x, int32_t y) {
    GtkControl* control = static_cast<GtkControl*>(handle);
    return gtk_call([&]() -> ErrorCode {
        gtk_fixed_move(GTK_FIXED(gtk_main_fixed), control->outer, x, y);
        return GUI_ERROR_NONE;
    });
}

ErrorCode backend_control_resize(void* handle, int32_t width, int32_t height) {
    GtkControl* control = static_cast<GtkControl*>(handle);
    return gtk_call([&]() -> ErrorCode {
        control_size(control, width, height);
        return GUI_ERROR_NONE;
    });
}

ErrorCode backend_control_show(void* handle, uint32_t show) {
    GtkControl* control = static_cast<GtkControl*>(handle);
    return gtk_call([&]() -> ErrorCode {
        gtk_widget_set_visible(control->outer, show != 0);
        return GUI_ERROR_NONE;
    });
}

ErrorCode backend_control_enable(void* handle, uint32_t enable) {
    GtkControl* control = static_cast<GtkControl*>(handle);
    return gtk_call([&]() -> ErrorCode {
        gtk_widget_set_sensitive(control->outer, enable != 0);
        return GUI_ERROR_NONE;
    });
}

ErrorCode backend_control_enabled(void* handle, uint32_t* enabled) {
    GtkControl* control = static_cast<GtkControl*>(handle);
    return gtk_call([&]() -> ErrorCode {
        *enabled = gtk_widget_get_sensitive(control->outer) ? 1 : 0;
        return GUI_ERROR_NONE;
    });
}

// ---- Texts -------------------------------------------------------------------------------------

// The text a control shows, as GTK holds it (UTF-8). Free with g_free.
static char* control_display_text(GtkControl* control) {
    switch (control->kind) {
    case GUI_GROUPBOX: {
        const char* label = gtk_frame_get_label(GTK_FRAME(control->widget));
        return g_strdup(label ? label : "");
    }
    case GUI_LABEL:
        return g_strdup(gtk_label_get_text(GTK_LABEL(control->widget)));
    case GUI_BUTTON:
    case GUI_CHECKBOX:
    case GUI_RADIO_BUTTON: {
        const char* label = gtk_button_get_label(GTK_BUTTON(control->widget));
        return g_strdup(label ? label : "");
    }
    case GUI_EDIT:
        if (GTK_IS_ENTRY(control->widget)) {
            return g_strdup(gtk_entry_get_text(GTK_ENTRY(control->widget)));
        } else {
            GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(control->widget));
            GtkTextIter start, end;
            gtk_text_buffer_get_bounds(buffer, &start, &end);
            return gtk_text_buffer_get_text(buffer, &start, &end, TRUE);
        }
    case GUI_COMBOBOX: {
        char* text = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(control->widget));
        return text ? text : g_strdup("");
    }
    default:
        return g_strdup("");
    }
}

// The bytes that the application reads back.
static char* control_text(GtkControl* control) {
    char* shown = control_display_text(control);
    char* bytes = text_from_display(shown, control->latin1);
    g_free(shown);
    return bytes;
}

static int combo_find(GtkWidget* combo, const char* text) {
    GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(combo));
    GtkTreeIter iter;
    int index = 0;
    for (gboolean more = gtk_tree_model_get_iter_first(model, &iter); more;
         more = gtk_tree_model_iter_next(model, &iter), index++) {
        char* item = nullptr;
        gtk_tree_model_get(model, &iter, 0, &item, -1);
        bool same = item && std::strcmp(item, text) == 0;
        g_free(item);
        if (same) {
            return index;
        }
    }
    return -1;
}

// A control that text operations reach by identifier: every kind but the progress bar, which
// has no child identifier.
static GtkControl* text_control(uint32_t id) {
    void* handle = nullptr;
    if (control_find_handle(id, 0, &handle) != GUI_ERROR_NONE) {
        return nullptr;
    }
    GtkControl* control = static_cast<GtkControl*>(handle);
    return control->kind == GUI_PROGRESSBAR ? nullptr : control;
}

// ---- Big texts in multi-line boxes ---------------------------------------------------------
// One gtk_text_buffer_set_text of a search result of a million lines holds the GUI thread for a
// second or more, longer still when it replaces a text as big. Such a text is built instead in a
// new buffer, off screen, a piece at a time from an idle source while the caller waits in a
// nested loop, so that input, drawing and other threads' calls are served between pieces; the
// finished buffer then takes the old one's place at once, and the old one is emptied piece by
// piece in the background. Readers see the old text whole until the new one is whole.

enum : size_t { TEXT_PIECEWISE = 256 << 10 };

struct TextFill {
    GtkControl* control;
    GtkTextBuffer* buffer;
    const char* text;
    size_t length;
    size_t done;
    size_t piece;
    uint32_t epoch;
    GMainLoop* loop;
    ErrorCode result;
    bool superseded;
};

// Where the piece from `from` ends: after its last line end, so that a CR LF pair stays whole,
// else at the start of a character and not after a CR.
static size_t piece_end(const char* text, size_t from, size_t piece, size_t length) {
    size_t end = MIN(length, from + piece);
    if (end == length) {
        return end;
    }
    for (size_t at = end; at > from; at--) {
        if (text[at - 1] == '\n') {
            return at;
        }
    }
    while (end > from + 1 &&
           ((static_cast<unsigned char>(text[end]) & 0xC0) == 0x80 || text[end - 1] == '\r')) {
        end--;
    }
    return end;
}

// Deletes a piece at a time from a buffer that no box shows any more, then lets it go.
static gboolean text_drain_step(gpointer data) {
    GtkTextBuffer* buffer = static_cast<GtkTextBuffer*>(data);
    GtkTextIter start, end;
    gtk_text_buffer_get_start_iter(buffer, &start);
    gtk_text_buffer_get_iter_at_offset(buffer, &end, 256 << 10);
    if (gtk_text_iter_equal(&start, &end)) {
        g_object_unref(buffer);
        return G_SOURCE_REMOVE;
    }
    gtk_text_buffer_delete(buffer, &start, &end);
    return G_SOURCE_CONTINUE;
}

static gboolean text_fill_step(gpointer data) {
    TextFill* fill = static_cast<TextFill*>(data);
    if (!gtk_main_window || fill->control->epoch != fill->epoch) {
        fill->result = gtk_main_window ? GUI_ERROR_NONE : GUI_ERROR_INITIALIZATION;
        fill->superseded = true;
        g_main_loop_quit(fill->loop);
        return G_SOURCE_REMOVE;
    }
    size_t end = piece_end(fill->text, fill->done, fill->piece, fill->length);
    gint64 start = g_get_monotonic_time();
    {
        Programmatic quiet;
        GtkTextIter at;
        gtk_text_buffer_get_end_iter(fill->buffer, &at);
        gtk_text_buffer_insert(fill->buffer, &at, fill->text + fill->done,
                               static_cast<gint>(end - fill->done));
    }
    // Pieces are sized toward a few tens of milliseconds each, whatever the machine.
    double spent = MAX(double(g_get_monotonic_time() - start), 1.0);
    double scale = CLAMP(30000.0 / spent, 0.5, 2.0);
    fill->piece =
        CLAMP(size_t(double(end - fill->done) * scale), size_t{16} << 10, size_t{8} << 20);
    fill->done = end;
    if (fill->done < fill->length) {
        return G_SOURCE_CONTINUE;
    }
    GtkTextView* view = GTK_TEXT_VIEW(fill->control->widget);
    GtkTextBuffer* old = GTK_TEXT_BUFFER(g_object_ref(gtk_text_view_get_buffer(view)));
    gtk_text_view_set_buffer(view, fill->buffer);
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, text_drain_step, old, nullptr);
    fill->result = GUI_ERROR_NONE;
    g_main_loop_quit(fill->loop);
    return G_SOURCE_REMOVE;
}

// Puts `shown` (UTF-8) into a multi-line box as above; returns once it is there, or once a newer
// text or the window's end cut it short (`superseded`; 2 when the window went).
static ErrorCode text_view_fill(GtkControl* control, const char* shown, bool* superseded) {
    TextFill fill{};
    fill.control = control;
    fill.buffer = gtk_text_buffer_new(nullptr);
    g_signal_connect(fill.buffer, "insert-text", G_CALLBACK(on_text_insert), control);
    fill.text = shown;
    fill.length = std::strlen(shown);
    fill.piece = 64 << 10;
    fill.epoch = control->epoch;
    fill.loop = g_main_loop_new(nullptr, FALSE);
    // Below drawing, above the boxes' own layout work, which would otherwise come first.
    g_idle_add_full(G_PRIORITY_HIGH_IDLE + 22, text_fill_step, &fill, nullptr);
    g_main_loop_run(fill.loop);
    g_main_loop_unref(fill.loop);
    g_object_unref(fill.buffer);
    *superseded = fill.superseded;
    return fill.result;
}

ErrorCode backend_control_set_text(uint32_t id, const char* text) {
    // Converted on the calling thread: for a big text that is not UTF-8 the conversion alone
    // would hold the GUI thread for a second.
    int latin1 = 0;
    char* shown = text_to_display(text, &latin1);
    ErrorCode code = gtk_call([&]() -> ErrorCode {
        GtkControl* control = text_control(id);
        if (!control) {
            return gtk_fail("SetDlgItemText", EINVAL);
        }
        control->epoch++;
        // A short text replacing a big one goes the same way: dropping the big one at once
        // stalls as long as building it would.
        if (control->kind == GUI_EDIT && GTK_IS_TEXT_VIEW(control->widget) &&
            (std::strlen(shown) > TEXT_PIECEWISE ||
             size_t(gtk_text_buffer_get_char_count(
                 gtk_text_view_get_buffer(GTK_TEXT_VIEW(control->widget)))) > TEXT_PIECEWISE)) {
            bool superseded = false;
            ErrorCode result = text_view_fill(control, shown, &superseded);
            if (!superseded) {
                control->latin1 = latin1;
            }
            return result;
        }
        Programmatic quiet;
        ErrorCode result = GUI_ERROR_NONE;
        switch (control->kind) {
        case GUI_GROUPBOX:
            gtk_frame_set_label(GTK_FRAME(control->widget), shown);
            break;
        case GUI_LABEL:
            gtk_label_set_text(GTK_LABEL(control->widget), shown);
            break;
        case GUI_BUTTON:
        case GUI_CHECKBOX:
        case GUI_RADIO_BUTTON:
            gtk_button_set_label(GTK_BUTTON(control->widget), shown);
            button_label_align(control->widget, control->kind == GUI_BUTTON
                                                    ? button_alignment(control->flags)
                                                    : 0.0f);
            if (control->kind != GUI_BUTTON) {
                if (GtkWidget* child = gtk_bin_get_child(GTK_BIN(control->widget))) {
                    gtk_widget_set_direction(child, GTK_TEXT_DIR_LTR);
                }
            }
            break;
        case GUI_EDIT:
            if (GTK_IS_ENTRY(control->widget)) {
                gtk_entry_set_text(GTK_ENTRY(control->widget), shown);
            } else {
                gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(control->widget)),
                                         shown, -1);
            }
            break;
        case GUI_COMBOBOX: {
            // A drop-down list shows only its items: the text selects the item that has it.
            int index = combo_find(control->widget, shown);
            if (index < 0) {
                result = gtk_fail("SetDlgItemText", EINVAL);
            } else {
                gtk_combo_box_set_active(GTK_COMBO_BOX(control->widget), index);
            }
            break;
        }
        }
        if (result == GUI_ERROR_NONE && control->kind != GUI_COMBOBOX) {
            control->latin1 = latin1;
        }
        return result;
    });
    g_free(shown);
    return code;
}

ErrorCode backend_control_get_text(uint32_t id, char* buffer, uint32_t size) {
    return gtk_call([&]() -> ErrorCode {
        GtkControl* control = text_control(id);
        if (!control) {
            return gtk_fail("GetDlgItemText", EINVAL);
        }
        char* bytes = control_text(control);
        size_t length = std::strlen(bytes);
        if (length > size - 1) {
            length = size - 1;
        }
        std::memcpy(buffer, bytes, length);
        buffer[length] = '\0';
        g_free(bytes);
        return GUI_ERROR_NONE;
    });
}

ErrorCode backend_control_get_text_length(void* handle, uint32_t* length) {
    GtkControl* control = static_cast<GtkControl*>(handle);
    return gtk_call([&]() -> ErrorCode {
        char* bytes = control_text(control);
        *length = static_cast<uint32_t>(std::strlen(bytes));
        g_free(bytes);
        return GUI_ERROR_NONE;
    });
}

// ---- Check boxes and radio buttons --------------------------------------------------------------

static ErrorCode check_get(void* handle, uint32_t* native) {
    GtkControl* control = static_cast<GtkControl*>(handle);
    return gtk_call([&]() -> ErrorCode {
        GtkToggleButton* button = GTK_TOGGLE_BUTTON(control->widget);
        *native = gtk_toggle_button_get_inconsistent(button) ? 2
                  : gtk_toggle_button_get_active(button)     ? 1
                                                             : 0;
        return GUI_ERROR_NONE;
    });
}

static ErrorCode check_set(void* handle, uint32_t native) {
    GtkControl* control = static_cast<GtkControl*>(handle);
    return gtk_call([&]() -> ErrorCode {
        GtkToggleButton* button = GTK_TOGGLE_BUTTON(control->widget);
        Programmatic quiet;
        gtk_toggle_button_set_inconsistent(button, native == 2);
        gtk_toggle_button_set_active(button, native == 1);
        return GUI_ERROR_NONE;
    });
}

ErrorCode backend_checkbox_get(void* handle, uint32_t* native) {
    return check_get(handle, native);
}

ErrorCode backend_checkbox_set(void* handle, uint32_t native) {
    return check_set(handle, native);
}

ErrorCode backend_radio_button_get(void* handle, uint32_t* native) {
    return check_get(handle, native);
}

ErrorCode backend_radio_button_set(void* handle, uint32_t native) {
    return check_set(handle, native);
}

// ---- Combo boxes -------------------------------------------------------------------------------

static int combo_count(GtkControl* control) {
    return gtk_tree_model_iter_n_children(gtk_combo_box_get_model(GTK_COMBO_BOX(control->widget)),
                                          nullptr);
}

static ErrorCode combo_insert(GtkControl* control, int index, const char* text) {
    int latin1 = 0;
    char* shown = text_to_display(text, &latin1);
    control->latin1 |= latin1;
    Programmatic quiet;
    gtk_combo_box_text_insert_text(GTK_COMBO_BOX_TEXT(control->widget), index, shown);
    g_free(shown);
    return GUI_ERROR_NONE;
}

ErrorCode backend_combobox_add(void* handle, const char* text) {
    GtkControl* control = static_cast<GtkControl*>(handle);
    return gtk_call([&]() -> ErrorCode { return combo_insert(control, -1, text); });
}

ErrorCode backend_combobox_insert(void* handle, uint32_t index, const char* text) {
    GtkControl* control = static_cast<GtkControl*>(handle);
    return gtk_call([&]() -> ErrorCode {
        // 0xFFFFFFFF appends, as -1 does on Windows; any other index past the end is refused
        // instead of silently doing nothing.
        if (index == 0xFFFFFFFFu) {
            return combo_insert(control, -1, text);
        }
        if (index > static_cast<uint32_t>(combo_count(control))) {
            return GUI_ERROR_INITIALIZATION;
        }
        return combo_insert(control, static_cast<int>(index), text);
    });
}

ErrorCode backend_combobox_delete(void* handle, uint32_t index) {
    GtkControl* control = static_cast<GtkControl*>(handle);
    return gtk_call([&]() -> ErrorCode {
        if (index >= static_cast<uint32_t>(combo_count(control))) {
            return GUI_ERROR_INITIALIZATION;
        }
        Programmatic quiet;
        gtk_combo_box_text_remove(GTK_COMBO_BOX_TEXT(control->widget), static_cast<int>(index));
        return GUI_ERROR_NONE;
    });
}

ErrorCode backend_combobox_select(void* handle, uint32_t index) {
    GtkControl* control = static_cast<GtkControl*>(handle);
    return gtk_call([&]() -> ErrorCode {
        // An index past the end selects nothing, as on Windows.
        int count = combo_count(control);
        int active = index < static_cast<uint32_t>(count) ? static_cast<int>(index) : -1;
        Programmatic quiet;
        gtk_combo_box_set_active(GTK_COMBO_BOX(control->widget), active);
        return GUI_ERROR_NONE;
    });
}

ErrorCode backend_combobox_selected(void* handle, uint32_t* index) {
    GtkControl* control = static_cast<GtkControl*>(handle);
    return gtk_call([&]() -> ErrorCode {
        int active = gtk_combo_box_get_active(GTK_COMBO_BOX(control->widget));
        *index = active < 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(active);
        return GUI_ERROR_NONE;
    });
}

// ---- Progress bars -----------------------------------------------------------------------------

static gboolean marquee_step(gpointer data) {
    gtk_progress_bar_pulse(GTK_PROGRESS_BAR(static_cast<GtkControl*>(data)->widget));
    return G_SOURCE_CONTINUE;
}

ErrorCode backend_progressbar_state(void* handle, ProgressState state) {
    GtkControl* control = static_cast<GtkControl*>(handle);
    return gtk_call([&]() -> ErrorCode {
        GtkStyleContext* style = gtk_widget_get_style_context(control->widget);
        gtk_style_context_remove_class(style, "quarnel-error");
        gtk_style_context_remove_class(style, "quarnel-paused");
        if (state == GUI_PROGRESS_MARQUEE) {
            if (!control->marquee) {
                gtk_progress_bar_set_pulse_step(GTK_PROGRESS_BAR(control->widget), 0.05);
                control->marquee = g_timeout_add(30, marquee_step, control);
            }
            return GUI_ERROR_NONE;
        }
        if (control->marquee) {
            g_source_remove(control->marquee);
            control->marquee = 0;
        }
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(control->widget), control->position / 100.0);
        if (state == GUI_PROGRESS_ERROR) {
            gtk_style_context_add_class(style, "quarnel-error");
        } else if (state == GUI_PROGRESS_PAUSED) {
            gtk_style_context_add_class(style, "quarnel-paused");
        }
        return GUI_ERROR_NONE;
    });
}

ErrorCode backend_progressbar_set(void* handle, uint32_t value) {
    GtkControl* control = static_cast<GtkControl*>(handle);
    return gtk_call([&]() -> ErrorCode {
        control->position = value > 100 ? 100 : value;
        if (!control->marquee) {
            gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(control->widget),
                                          control->position / 100.0);
        }
        return GUI_ERROR_NONE;
    });
}

ErrorCode backend_progressbar_get(void* handle, uint32_t* value) {
    GtkControl* control = static_cast<GtkControl*>(handle);
    return gtk_call([&]() -> ErrorCode {
        *value = control->position;
        return GUI_ERROR_NONE;
    });
}

// ---- The main window ---------------------------------------------------------------------------

ErrorCode backend_window_move(int32_t x, int32_t y) {
    return gtk_call([&]() -> ErrorCode {
        gtk_window_move(GTK_WINDOW(gtk_main_window), x, y);
        return GUI_ERROR_NONE;
    });
}

ErrorCode backend_window_resize(int32_t width, int32_t height) {
    return gtk_call([&]() -> ErrorCode {
        gtk_widget_set_size_request(gtk_main_fixed, MAX(width - frame_width(), 1),
                                    MAX(height - frame_height(), 1));
        return GUI_ERROR_NONE;
    });
}

ErrorCode backend_window_set_title(const char* title) {
    return gtk_call([&]() -> ErrorCode {
        char* shown = text_to_display(title, &gtk_title_latin1);
        gtk_window_set_title(GTK_WINDOW(gtk_main_window), shown);
        g_free(shown);
        return GUI_ERROR_NONE;
    });
}
