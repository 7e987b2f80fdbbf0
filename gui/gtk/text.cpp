// Texts are 8-bit: UTF-8 goes to GTK as it is, anything else is read as Latin-1, so that no
// byte sequence ever makes GTK warn, and a text set as Latin-1 reads back as the same bytes.
#include "gui/gtk/gtk_internal.h"

char* text_to_display(const char* bytes, int* latin1) {
    if (g_utf8_validate(bytes, -1, nullptr)) {
        if (latin1) {
            *latin1 = 0;
        }
        return g_strdup(bytes);
    }
    if (latin1) {
        *latin1 = 1;
    }
    GString* out = g_string_sized_new(strlen(bytes) * 2 + 1);
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes); *p; p++) {
        g_string_append_unichar(out, *p);
    }
    return g_string_free(out, FALSE);
}

char* text_from_display(const char* utf8, int latin1) {
    if (!latin1) {
        return g_strdup(utf8);
    }
    GString* out = g_string_sized_new(strlen(utf8) + 1);
    for (const char* p = utf8; *p; p = g_utf8_next_char(p)) {
        gunichar c = g_utf8_get_char(p);
        g_string_append_c(out, c <= 0xFF ? static_cast<char>(c) : '?');
    }
    return g_string_free(out, FALSE);
}
