// Message boxes: a window of their own with no owner, so the main window stays usable, and a
// modal loop on the GUI thread that keeps serving the main window and other threads' calls.
#include <cerrno>

#include "gui/gtk/gtk_internal.h"

GtkModal* gtk_modal_top;
void (*gtk_test_notify)();
void (*gtk_test_message_shown)(GtkModal* modal);
std::atomic<int> gtk_test_autoanswer;
std::atomic<uint32_t> gtk_test_autoanswer_value;

int modal_run(GtkModal* modal) {
    modal->done = 0;
    modal->response = GTK_RESPONSE_NONE;
    modal->loop = g_main_loop_new(nullptr, FALSE);
    modal->outer = gtk_modal_top;
    gtk_modal_top = modal;
    gtk_widget_show(modal->dialog);
    gtk_window_present(GTK_WINDOW(modal->dialog));
    if (gtk_test_notify) {
        gtk_test_notify();
    }
    if (!modal->done) {
        g_main_loop_run(modal->loop);
    }
    gtk_modal_top = modal->outer;
    g_main_loop_unref(modal->loop);
    modal->loop = nullptr;
    return modal->response;
}

void modal_finish(GtkModal* modal, int response) {
    modal->response = response;
    modal->done = 1;
    if (modal->loop) {
        g_main_loop_quit(modal->loop);
    }
}

int message_box_response(NotificationAnswer answer) {
    return static_cast<int>(answer) + 1;
}

struct BoxButton {
    const char* label;
    NotificationAnswer answer;
};

static const BoxButton ok_buttons[] = {{"OK", GUI_ANSWER_OK}};
static const BoxButton yes_no[] = {{"_Yes", GUI_ANSWER_YES}, {"_No", GUI_ANSWER_NO}};
static const BoxButton yes_no_cancel[] = {
    {"_Yes", GUI_ANSWER_YES}, {"_No", GUI_ANSWER_NO}, {"Cancel", GUI_ANSWER_CANCEL}};
static const BoxButton ok_cancel[] = {{"OK", GUI_ANSWER_OK}, {"Cancel", GUI_ANSWER_CANCEL}};
static const BoxButton retry_cancel[] = {{"_Retry", GUI_ANSWER_RETRY},
                                         {"Cancel", GUI_ANSWER_CANCEL}};
static const BoxButton abort_retry_ignore[] = {
    {"_Abort", GUI_ANSWER_ABORT}, {"_Retry", GUI_ANSWER_RETRY}, {"_Ignore", GUI_ANSWER_IGNORE}};
static const BoxButton cancel_try_continue[] = {{"Cancel", GUI_ANSWER_CANCEL},
                                                {"_Try Again", GUI_ANSWER_TRY_AGAIN},
                                                {"_Continue", GUI_ANSWER_CONTINUE}};

struct BoxKind {
    const BoxButton* buttons;
    int count;
    int closable; // the close button (and Escape) work
    NotificationAnswer on_close;
};

static const BoxKind box_kinds[] = {
    {ok_buttons, 1, 1, GUI_ANSWER_OK},
    {yes_no, 2, 0, GUI_ANSWER_NO},
    {yes_no_cancel, 3, 1, GUI_ANSWER_CANCEL},
    {ok_cancel, 2, 1, GUI_ANSWER_CANCEL},
    {retry_cancel, 2, 1, GUI_ANSWER_CANCEL},
    {abort_retry_ignore, 3, 0, GUI_ANSWER_ABORT},
    {cancel_try_continue, 3, 1, GUI_ANSWER_CANCEL},
};

// The response that `answer` gives in a box of `type`, or 0 when the box has no such button.
// GUI_ANSWER_CANCEL + 1 is also what the close button gives where it works.
static int box_response(NotificationType type, uint32_t answer) {
    const BoxKind* kind = &box_kinds[type];
    if (answer == 0xFFFFFFFFu) {
        return kind->closable ? GTK_RESPONSE_DELETE_EVENT : 0;
    }
    for (int i = 0; i < kind->count; i++) {
        if (kind->buttons[i].answer == answer) {
            return message_box_response(answer);
        }
    }
    return 0;
}

int message_box_accepts(NotificationType type, uint32_t answer) {
    return type <= GUI_NOTIFY_CANCEL_TRY_CONTINUE && box_response(type, answer) != 0;
}

static void on_button(GtkButton* button, gpointer data) {
    int response = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "quarnel-response"));
    modal_finish(static_cast<GtkModal*>(data), response);
}

static gboolean on_box_delete(GtkWidget*, GdkEvent*, gpointer data) {
    GtkModal* modal = static_cast<GtkModal*>(data);
    if (box_kinds[modal->type].closable) {
        modal_finish(modal, GTK_RESPONSE_DELETE_EVENT);
    }
    return TRUE; // the box is destroyed by its caller
}

static gboolean on_box_key(GtkWidget* widget, GdkEventKey* event, gpointer data) {
    if (event->keyval == GDK_KEY_Escape) {
        on_box_delete(widget, nullptr, data);
        return TRUE;
    }
    return FALSE;
}

static GtkWidget* box_build(GtkModal* modal, GtkWindow* parent) {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    char* caption = text_to_display(modal->caption, nullptr);
    gtk_window_set_title(GTK_WINDOW(window), caption);
    g_free(caption);
    gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window), FALSE);
    const BoxKind* kind = &box_kinds[modal->type];
    gtk_window_set_deletable(GTK_WINDOW(window), kind->closable);
    if (parent) {
        gtk_window_set_transient_for(GTK_WINDOW(window), parent);
        gtk_window_set_modal(GTK_WINDOW(window), TRUE);
        gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER_ON_PARENT);
    } else {
        gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    }

    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(column), 12);
    char* text = text_to_display(modal->text, nullptr);
    GtkWidget* label = gtk_label_new(text);
    g_free(text);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 70);
    gtk_label_set_selectable(GTK_LABEL(label), TRUE);
    gtk_box_pack_start(GTK_BOX(column), label, TRUE, TRUE, 0);

    GtkWidget* row = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(row), GTK_BUTTONBOX_END);
    gtk_box_set_spacing(GTK_BOX(row), 6);
    GtkWidget* first = nullptr;
    for (int i = 0; i < kind->count; i++) {
        GtkWidget* button = gtk_button_new_with_mnemonic(kind->buttons[i].label);
        g_object_set_data(G_OBJECT(button), "quarnel-response",
                          GINT_TO_POINTER(message_box_response(kind->buttons[i].answer)));
        g_signal_connect(button, "clicked", G_CALLBACK(on_button), modal);
        gtk_container_add(GTK_CONTAINER(row), button);
        if (!first) {
            first = button;
        }
    }
    gtk_box_pack_start(GTK_BOX(column), row, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window), column);
    gtk_widget_show_all(column);
    gtk_widget_set_can_default(first, TRUE);
    gtk_window_set_default(GTK_WINDOW(window), first);
    gtk_widget_grab_focus(first);
    g_signal_connect(window, "delete-event", G_CALLBACK(on_box_delete), modal);
    g_signal_connect(window, "key-press-event", G_CALLBACK(on_box_key), modal);
    return window;
}

ErrorCode message_box_run(const char* text, const char* caption, NotificationType type,
                          GtkWindow* parent, NotificationAnswer* answer) {
    GtkModal modal{};
    modal.kind = 1;
    modal.type = type;
    modal.text = g_strdup(text);
    modal.caption = g_strdup(caption);
    if (gtk_test_message_shown) {
        gtk_test_message_shown(&modal);
    }
    int response = 0;
    if (gtk_test_autoanswer) {
        response = box_response(type, gtk_test_autoanswer_value);
    }
    if (response == 0) {
        modal.dialog = box_build(&modal, parent);
        response = modal_run(&modal);
        gtk_widget_destroy(modal.dialog);
        modal.dialog = nullptr;
    }
    g_free(modal.text);
    g_free(modal.caption);
    if (response == GTK_RESPONSE_DELETE_EVENT) {
        response = message_box_response(box_kinds[type].on_close);
    }
    if (type != GUI_NOTIFY_OK && answer && response >= 1 && response <= 9) {
        *answer = static_cast<NotificationAnswer>(response - 1);
    }
    if (gtk_test_notify) {
        gtk_test_notify();
    }
    return GUI_ERROR_NONE;
}

ErrorCode backend_message_box(const char* text, const char* caption, NotificationType type,
                              NotificationAnswer* answer) {
    return gtk_call(
        [&]() -> ErrorCode { return message_box_run(text, caption, type, nullptr, answer); });
}
