// The text pop-up: a 400 x 400 window over the main window with the file's text, read-only, in
// the fixed font. While any pop-up is open the main window takes no input.
#include "gui/gtk/gtk_internal.h"

int gtk_popup_count;
int gtk_main_blocked;
GtkWidget* gtk_popup_newest;

static void main_window_input_update() {
    if (gtk_main_window) {
        gtk_widget_set_sensitive(gtk_main_window, gtk_popup_count == 0);
    }
}

static void on_popup_destroy(GtkWidget* popup, gpointer) {
    gtk_popup_count--;
    if (gtk_popup_newest == popup) {
        gtk_popup_newest = nullptr;
    }
    main_window_input_update();
    if (gtk_test_notify) {
        gtk_test_notify();
    }
}

ErrorCode backend_popup_show(const char* caption, const char* text, uint32_t length) {
    return gtk_call([&]() -> ErrorCode {
        GtkWidget* popup = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        char* title = text_to_display(caption, nullptr);
        gtk_window_set_title(GTK_WINDOW(popup), title);
        g_free(title);
        gtk_window_set_resizable(GTK_WINDOW(popup), FALSE);
        gtk_window_set_transient_for(GTK_WINDOW(popup), GTK_WINDOW(gtk_main_window));
        gtk_window_set_destroy_with_parent(GTK_WINDOW(popup), TRUE);
        gtk_window_set_type_hint(GTK_WINDOW(popup), GDK_WINDOW_TYPE_HINT_DIALOG);

        GtkWidget* view = gtk_text_view_new();
        gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
        gtk_text_view_set_left_margin(GTK_TEXT_VIEW(view), 2);
        int latin1 = 0;
        char* shown = text_to_display(text, &latin1);
        g_object_set_data(G_OBJECT(popup), "quarnel-latin1", GINT_TO_POINTER(latin1));
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), shown, -1);
        g_free(shown);
        style_apply(view, 1);
        g_object_set_data(G_OBJECT(popup), "quarnel-view", view);
        g_object_set_data(G_OBJECT(popup), "quarnel-length", GUINT_TO_POINTER(length));

        GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER,
                                       GTK_POLICY_ALWAYS);
        gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(scrolled), FALSE);
        gtk_widget_set_size_request(scrolled, POPUP_WIDTH - frame_width(),
                                    POPUP_HEIGHT - frame_height());
        gtk_container_add(GTK_CONTAINER(scrolled), view);
        gtk_container_add(GTK_CONTAINER(popup), scrolled);

        int32_t main_x = 0, main_y = 0, x = 0, y = 0;
        gtk_window_get_position(GTK_WINDOW(gtk_main_window), &main_x, &main_y);
        popup_position(main_x, main_y, gui_description.width, gui_description.height, &x, &y);
        gtk_window_move(GTK_WINDOW(popup), x, y);

        g_signal_connect(popup, "destroy", G_CALLBACK(on_popup_destroy), nullptr);
        gtk_popup_count++;
        gtk_popup_newest = popup;
        main_window_input_update();
        gtk_widget_show_all(popup);
        return GUI_ERROR_NONE;
    });
}
