#include "platform/paint/dialog_text.h"

#include <glib.h>
#include <pango/pangocairo.h>

namespace {

// Stands in for the dialog font of the boxes the program's messages were written for.
constexpr const char* kDialogFont = "Sans 9";
constexpr double kDpi = 96.0;

// A layout of text in the dialog font for cr. Text that is not UTF-8 (a name read from the
// system, say) is shown with its bad bytes replaced rather than not at all.
PangoLayout* CreateLayout(cairo_t* cr, const std::string& text, int wrapWidth, TextAlign align)
{
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoContext* context = pango_layout_get_context(layout);
    pango_cairo_context_set_resolution(context, kDpi);
    // Glyph advances that do not depend on the scale drawn at: a text wraps on a high-density
    // screen where it was measured to wrap.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(context, FALSE);
    pango_layout_context_changed(layout);
    PangoFontDescription* font = pango_font_description_from_string(kDialogFont);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
    pango_layout_set_text(layout, valid, -1);
    g_free(valid);
    if (wrapWidth > 0) {
        pango_layout_set_width(layout, wrapWidth * PANGO_SCALE);
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    }
    pango_layout_set_alignment(layout,
                               align == TextAlign::Centre ? PANGO_ALIGN_CENTER : PANGO_ALIGN_LEFT);
    return layout;
}

// Measures on an image surface, as every display draws into one, so that the sizes are those
// of the drawing.
TextSize Measure(const std::string& text, int wrapWidth)
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    cairo_t* cr = cairo_create(surface);
    PangoLayout* layout = CreateLayout(cr, text, wrapWidth, TextAlign::Left);
    PangoRectangle logical{};
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return TextSize{logical.width, logical.height};
}

}  // namespace

void DialogFontMetrics(int* averageWidth, int* lineHeight)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const TextSize alphabet = Measure(kAlphabet, 0);
    *averageWidth = (alphabet.width / 26 + 1) / 2;
    *lineHeight = alphabet.height;
}

TextSize MeasureDialogText(const std::string& text, int wrapWidth)
{
    return Measure(text, wrapWidth);
}

void PrepareDialogText()
{
    static const char kSample[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz 0123456789 .,:;-%()'\"";
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 600, 40);
    cairo_t* cr = cairo_create(surface);
    Measure(kSample, 480);
    DrawDialogText(cr, kSample, 0, 0, 0, TextAlign::Left, 0);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

void DrawDialogText(cairo_t* cr, const std::string& text, int x, int y, int wrapWidth,
                    TextAlign align, std::uint32_t rgb)
{
    PangoLayout* layout = CreateLayout(cr, text, wrapWidth, align);
    SetSourceRgb(cr, rgb);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
}

void SetSourceRgb(cairo_t* cr, std::uint32_t rgb)
{
    cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                         (rgb & 0xFF) / 255.0);
}
