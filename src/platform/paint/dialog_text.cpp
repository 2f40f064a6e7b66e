#include "platform/paint/dialog_text.h"

#include <glib.h>
#include <pango/pangocairo.h>

#include <cstdio>

#include "platform/linux/loaded_library.h"

namespace {

// pango is loaded when text is first wanted, not with the program: with GLib it brings sixteen
// libraries, whose loading would delay every start by about 1.5 ms, and only the boxes need it.
struct PangoCalls {
    decltype(&pango_cairo_create_layout) cairoCreateLayout;
    decltype(&pango_cairo_context_set_resolution) cairoContextSetResolution;
    decltype(&pango_cairo_context_set_font_options) cairoContextSetFontOptions;
    decltype(&pango_cairo_show_layout) cairoShowLayout;
    decltype(&pango_layout_get_context) layoutGetContext;
    decltype(&pango_context_set_round_glyph_positions) contextSetRoundGlyphPositions;
    decltype(&pango_layout_context_changed) layoutContextChanged;
    decltype(&pango_font_description_from_string) fontDescriptionFromString;
    decltype(&pango_font_description_free) fontDescriptionFree;
    decltype(&pango_layout_set_font_description) layoutSetFontDescription;
    decltype(&pango_layout_set_text) layoutSetText;
    decltype(&pango_layout_set_width) layoutSetWidth;
    decltype(&pango_layout_set_wrap) layoutSetWrap;
    decltype(&pango_layout_set_alignment) layoutSetAlignment;
    decltype(&pango_layout_get_pixel_extents) layoutGetPixelExtents;
    decltype(&g_object_unref) objectUnref;
    decltype(&g_utf8_make_valid) utf8MakeValid;
    decltype(&g_free) free;
};

// The calls, or null (said once on standard error) where pango cannot be loaded: the boxes then
// come without their text rather than not at all.
const PangoCalls* Pango()
{
    static PangoCalls calls{};
    static const bool loaded = [] {
        void* library = dlopen("libpangocairo-1.0.so.0", RTLD_NOW | RTLD_LOCAL);
        PangoCalls* c = &calls;
        const bool found =
            library != nullptr &&
            FindCall(library, "pango_cairo_create_layout", &c->cairoCreateLayout) &&
            FindCall(library, "pango_cairo_context_set_resolution",
                     &c->cairoContextSetResolution) &&
            FindCall(library, "pango_cairo_context_set_font_options",
                     &c->cairoContextSetFontOptions) &&
            FindCall(library, "pango_cairo_show_layout", &c->cairoShowLayout) &&
            FindCall(library, "pango_layout_get_context", &c->layoutGetContext) &&
            FindCall(library, "pango_context_set_round_glyph_positions",
                     &c->contextSetRoundGlyphPositions) &&
            FindCall(library, "pango_layout_context_changed", &c->layoutContextChanged) &&
            FindCall(library, "pango_font_description_from_string",
                     &c->fontDescriptionFromString) &&
            FindCall(library, "pango_font_description_free", &c->fontDescriptionFree) &&
            FindCall(library, "pango_layout_set_font_description", &c->layoutSetFontDescription) &&
            FindCall(library, "pango_layout_set_text", &c->layoutSetText) &&
            FindCall(library, "pango_layout_set_width", &c->layoutSetWidth) &&
            FindCall(library, "pango_layout_set_wrap", &c->layoutSetWrap) &&
            FindCall(library, "pango_layout_set_alignment", &c->layoutSetAlignment) &&
            FindCall(library, "pango_layout_get_pixel_extents", &c->layoutGetPixelExtents) &&
            FindCall(library, "g_object_unref", &c->objectUnref) &&
            FindCall(library, "g_utf8_make_valid", &c->utf8MakeValid) &&
            FindCall(library, "g_free", &c->free);
        if (!found) {
            std::fprintf(stderr, "qavel-calib: cannot load pango (%s): messages show no text\n",
                         library == nullptr ? dlerror() : "a function is missing");
        }
        return found;
    }();
    return loaded ? &calls : nullptr;
}

// Stands in for the dialog font of the boxes the program's messages were written for.
constexpr const char* kDialogFont = "Sans 9";
constexpr double kDpi = 96.0;

// A layout of text in the dialog font for cr. Text that is not UTF-8 (a name read from the
// system, say) is shown with its bad bytes replaced rather than not at all.
PangoLayout* CreateLayout(const PangoCalls& p, cairo_t* cr, const std::string& text, int wrapWidth,
                          TextAlign align)
{
    PangoLayout* layout = p.cairoCreateLayout(cr);
    PangoContext* context = p.layoutGetContext(layout);
    p.cairoContextSetResolution(context, kDpi);
    // Glyph advances that do not depend on the scale drawn at: a text wraps on a high-density
    // screen where it was measured to wrap.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    p.cairoContextSetFontOptions(context, options);
    cairo_font_options_destroy(options);
    p.contextSetRoundGlyphPositions(context, FALSE);
    p.layoutContextChanged(layout);
    PangoFontDescription* font = p.fontDescriptionFromString(kDialogFont);
    p.layoutSetFontDescription(layout, font);
    p.fontDescriptionFree(font);
    gchar* valid = p.utf8MakeValid(text.c_str(), static_cast<gssize>(text.size()));
    p.layoutSetText(layout, valid, -1);
    p.free(valid);
    if (wrapWidth > 0) {
        p.layoutSetWidth(layout, wrapWidth * PANGO_SCALE);
        p.layoutSetWrap(layout, PANGO_WRAP_WORD_CHAR);
    }
    p.layoutSetAlignment(layout,
                         align == TextAlign::Centre ? PANGO_ALIGN_CENTER : PANGO_ALIGN_LEFT);
    return layout;
}

// Measures on an image surface, as every display draws into one, so that the sizes are those
// of the drawing.
TextSize Measure(const std::string& text, int wrapWidth)
{
    const PangoCalls* p = Pango();
    if (p == nullptr) {
        return TextSize{0, 0};
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    cairo_t* cr = cairo_create(surface);
    PangoLayout* layout = CreateLayout(*p, cr, text, wrapWidth, TextAlign::Left);
    PangoRectangle logical{};
    p->layoutGetPixelExtents(layout, nullptr, &logical);
    p->objectUnref(layout);
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
    const PangoCalls* p = Pango();
    if (p == nullptr) {
        return;
    }
    PangoLayout* layout = CreateLayout(*p, cr, text, wrapWidth, align);
    SetSourceRgb(cr, rgb);
    cairo_move_to(cr, x, y);
    p->cairoShowLayout(cr, layout);
    p->objectUnref(layout);
}

void SetSourceRgb(cairo_t* cr, std::uint32_t rgb)
{
    cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                         (rgb & 0xFF) / 255.0);
}
