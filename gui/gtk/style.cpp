// Fonts and the compact look of the controls. Controls sit at absolute pixel positions sized for
// the Win32 look (push buttons 20 pixels high, radio buttons 18), so paddings and minimum sizes
// shrink to let every control keep the size it was given. The fixed font is "Courier New" at 16
// pixels where it is installed, else the system's monospace face at that size; every other
// control uses the interface face (see default_family_read) at 11 pixels (8 points), the size of
// the Win32 GUI font.
#include <cstring>

#include "gui/gtk/gtk_internal.h"

static GtkCssProvider* provider;
static char fixed_family[64] = "Monospace";
static char default_family[128] = "Sans";

enum : int32_t { FIXED_PIXELS = 16, DEFAULT_PIXELS = 11 };

static int font_installed(const char* family) {
    PangoFontMap* map = pango_cairo_font_map_get_default();
    PangoFontFamily** families = nullptr;
    int count = 0;
    pango_font_map_list_families(map, &families, &count);
    int found = 0;
    for (int i = 0; i < count && !found; i++) {
        found = g_ascii_strcasecmp(pango_font_family_get_name(families[i]), family) == 0;
    }
    g_free(families);
    return found;
}

// The interface face: a narrow sans where one with Arial's metrics is installed, so that captions
// laid out for the Win32 GUI font fit their controls; else the desktop's own face.
static void default_family_read() {
    if (font_installed("Liberation Sans")) {
        g_strlcpy(default_family, "Liberation Sans", sizeof default_family);
        return;
    }
    char* name = nullptr;
    g_object_get(gtk_settings_get_default(), "gtk-font-name", &name, nullptr);
    if (name) {
        PangoFontDescription* description = pango_font_description_from_string(name);
        const char* family = pango_font_description_get_family(description);
        if (family) {
            g_strlcpy(default_family, family, sizeof default_family);
        }
        pango_font_description_free(description);
        g_free(name);
    }
}

void style_install() {
    if (provider) {
        return;
    }
    g_strlcpy(fixed_family, font_installed("Courier New") ? "Courier New" : "Monospace",
              sizeof fixed_family);
    default_family_read();
    char* css = g_strdup_printf(
        ".quarnel-main, .quarnel-main * { font-family: \"%s\"; font-size: %dpx; }\n"
        ".quarnel-fixed, .quarnel-fixed * { font-family: \"%s\"; font-size: %dpx; }\n"
        ".quarnel-main button { padding: 0 1px; min-height: 0; min-width: 0; }\n"
        ".quarnel-main checkbutton, .quarnel-main radiobutton { padding: 0; min-height: 0; }\n"
        ".quarnel-main check, .quarnel-main radio { min-width: 12px; min-height: 12px;"
        " margin: 0 3px 0 0; padding: 0; }\n"
        ".quarnel-main checkbutton:dir(rtl) check, .quarnel-main radiobutton:dir(rtl) radio"
        " { margin: 0 0 0 3px; }\n"
        ".quarnel-main checkbutton > label, .quarnel-main radiobutton > label { padding: 0; }\n"
        ".quarnel-main entry { min-height: 0; padding: 0 3px; }\n"
        ".quarnel-main combobox button { padding: 0 4px; min-height: 0; }\n"
        ".quarnel-main frame > label { padding: 0 2px; }\n"
        ".quarnel-main progressbar trough, .quarnel-main progressbar progress"
        " { min-height: 12px; }\n"
        ".quarnel-main progressbar.quarnel-error progress { background-color: #c01c28;"
        " border-color: #a51d2d; }\n"
        ".quarnel-main progressbar.quarnel-paused progress { background-color: #e5a50a;"
        " border-color: #c88800; }\n",
        default_family, DEFAULT_PIXELS, fixed_family, FIXED_PIXELS);
    provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css, -1, nullptr);
    g_free(css);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(),
                                              GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void style_remove() {
    if (!provider) {
        return;
    }
    gtk_style_context_remove_provider_for_screen(gdk_screen_get_default(),
                                                 GTK_STYLE_PROVIDER(provider));
    g_object_unref(provider);
    provider = nullptr;
}

void style_apply(GtkWidget* widget, int fixed_font) {
    if (fixed_font) {
        gtk_style_context_add_class(gtk_widget_get_style_context(widget), "quarnel-fixed");
    }
}

const char* style_fixed_family() {
    return fixed_family;
}

int32_t style_fixed_pixels() {
    return FIXED_PIXELS;
}

const char* style_default_family() {
    return default_family;
}

int32_t style_default_pixels() {
    return DEFAULT_PIXELS;
}
