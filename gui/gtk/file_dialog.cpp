// File dialogs over GtkFileChooserDialog, modal to the main window. The toolkit applies the
// Windows rules itself: filters match case-blind, an open dialog takes only existing files, a
// save dialog adds the default extension to a name without one and asks before overwriting. The
// process's current directory is put back afterwards.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "gui/gtk/gtk_internal.h"

static gboolean filter_accepts(const GtkFileFilterInfo* info, gpointer data) {
    const FileFilter* filter = static_cast<const FileFilter*>(data);
    return info->display_name && file_filter_accepts(filter, info->display_name);
}

// A deep copy of one filter that lives as long as the GTK filter does.
static FileFilter* filter_copy(const FileFilter* filter) {
    FileFilter* copy = g_new0(FileFilter, 1);
    copy->description = g_strdup(filter->description);
    const char** patterns = g_new0(const char*, filter->pattern_count + 1);
    for (uint32_t i = 0; i < filter->pattern_count; i++) {
        patterns[i] = g_strdup(filter->patterns[i]);
    }
    copy->patterns = patterns;
    copy->pattern_count = filter->pattern_count;
    return copy;
}

static void filter_copy_free(gpointer data) {
    FileFilter* filter = static_cast<FileFilter*>(data);
    g_free(const_cast<char*>(filter->description));
    g_strfreev(const_cast<char**>(filter->patterns));
    g_free(filter);
}

static void filters_add(GtkFileChooser* chooser, const FileFilterList* filters) {
    for (uint32_t i = 0; i < filters->count; i++) {
        GtkFileFilter* filter = gtk_file_filter_new();
        char* name = text_to_display(filters->filters[i].description, nullptr);
        gtk_file_filter_set_name(filter, name);
        g_free(name);
        gtk_file_filter_add_custom(filter, GTK_FILE_FILTER_DISPLAY_NAME, filter_accepts,
                                   filter_copy(&filters->filters[i]), filter_copy_free);
        gtk_file_chooser_add_filter(chooser, filter);
    }
}

static void on_dialog_response(GtkDialog*, int response, gpointer data) {
    modal_finish(static_cast<GtkModal*>(data), response);
}

// The name the user chose, as an absolute path (g_free), or null.
static char* dialog_choice(GtkModal* modal, GtkFileChooser* chooser) {
    if (modal->answered) {
        char* path = modal->answer_path;
        modal->answer_path = nullptr;
        modal->answered = 0;
        if (path && !g_path_is_absolute(path)) {
            char* folder = gtk_file_chooser_get_current_folder(chooser);
            char* full = g_build_filename(folder ? folder : ".", path, nullptr);
            g_free(folder);
            g_free(path);
            path = full;
        }
        return path;
    }
    return gtk_file_chooser_get_filename(chooser);
}

// Adds the default extension (given with or without its dot) to a name that has none.
static char* extension_add(char* path, const char* default_extension) {
    if (!default_extension) {
        return path;
    }
    while (*default_extension == '.') {
        default_extension++;
    }
    char* base = g_path_get_basename(path);
    bool has_extension = std::strchr(base, '.') != nullptr;
    g_free(base);
    if (has_extension || *default_extension == '\0') {
        return path;
    }
    char* longer = g_strconcat(path, ".", default_extension, nullptr);
    g_free(path);
    return longer;
}

static ErrorCode dialog_run(int save, const char* title, const char* file_name,
                            const char* initial_directory, const char* default_extension,
                            const FileFilterList* filters, char** chosen) {
    const char* shown_title = title ? title : (save ? "Save As" : "Open");
    char* utf8_title = text_to_display(shown_title, nullptr);
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        utf8_title, GTK_WINDOW(gtk_main_window),
        save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
        GTK_RESPONSE_CANCEL, save ? "_Save" : "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    g_free(utf8_title);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, FALSE);
    filters_add(chooser, filters);

    char* folder = nullptr;
    if (initial_directory && *initial_directory) {
        folder = g_strdup(initial_directory);
    } else {
        folder = g_get_current_dir();
    }
    gtk_file_chooser_set_current_folder(chooser, folder);
    if (file_name && *file_name) {
        if (save) {
            char* base = g_path_get_basename(file_name);
            gtk_file_chooser_set_current_name(chooser, base);
            g_free(base);
        } else {
            char* full = g_path_is_absolute(file_name)
                             ? g_strdup(file_name)
                             : g_build_filename(folder, file_name, nullptr);
            gtk_file_chooser_set_filename(chooser, full);
            g_free(full);
        }
    }

    GtkModal modal{};
    modal.kind = save ? 3 : 2;
    modal.dialog = dialog;
    modal.caption = g_strdup(shown_title);
    modal.file_name = g_strdup(file_name ? file_name : "");
    modal.folder = g_strdup(initial_directory ? initial_directory : "");
    modal.filter_count = filters->count;
    g_signal_connect(dialog, "response", G_CALLBACK(on_dialog_response), &modal);

    gtk_main_blocked++;
    char* path = nullptr;
    for (;;) {
        int response = modal_run(&modal);
        if (response != GTK_RESPONSE_ACCEPT) {
            break;
        }
        path = dialog_choice(&modal, chooser);
        if (!path) {
            continue;
        }
        if (!save) {
            if (g_file_test(path, G_FILE_TEST_IS_REGULAR)) {
                break;
            }
            char* base = g_path_get_basename(path);
            char* text =
                g_strdup_printf("%s\nFile not found.\nCheck the file name and try again.", base);
            message_box_run(text, shown_title, GUI_NOTIFY_OK, GTK_WINDOW(dialog), nullptr);
            g_free(text);
            g_free(base);
        } else {
            path = extension_add(path, default_extension);
            if (g_file_test(path, G_FILE_TEST_IS_DIR)) {
                gtk_file_chooser_set_current_folder(chooser, path);
            } else if (!g_file_test(path, G_FILE_TEST_EXISTS)) {
                break;
            } else {
                char* base = g_path_get_basename(path);
                char* text =
                    g_strdup_printf("%s already exists.\nDo you want to replace it?", base);
                NotificationAnswer answer = GUI_ANSWER_NO;
                message_box_run(text, "Confirm Save As", GUI_NOTIFY_YES_NO, GTK_WINDOW(dialog),
                                &answer);
                g_free(text);
                g_free(base);
                if (answer == GUI_ANSWER_YES) {
                    break;
                }
            }
        }
        g_free(path);
        path = nullptr;
    }
    gtk_main_blocked--;
    gtk_widget_destroy(dialog);
    g_free(modal.caption);
    g_free(modal.file_name);
    g_free(modal.folder);
    g_free(modal.answer_path);
    g_free(folder);

    *chosen = nullptr;
    if (path) {
        *chosen = strdup(path);
        g_free(path);
        if (!*chosen) {
            return GUI_ERROR_MALLOC;
        }
    }
    if (gtk_test_notify) {
        gtk_test_notify();
    }
    return GUI_ERROR_NONE;
}

ErrorCode backend_dialog_file(int save, const char* title, const char* file_name,
                              const char* initial_directory, const char* default_extension,
                              const FileFilterList* filters, char** chosen) {
    return gtk_call([&]() -> ErrorCode {
        // The dialog must not move the process: whatever it does, the current directory is
        // the same afterwards.
        char* directory = g_get_current_dir();
        ErrorCode result = dialog_run(save, title, file_name, initial_directory, default_extension,
                                      filters, chosen);
        if (chdir(directory) != 0) {
            result = gtk_fail("SetCurrentDirectory", errno);
            std::free(*chosen);
            *chosen = nullptr;
        }
        g_free(directory);
        return result;
    });
}
