#include "platform/paint/target_frame.h"

#include <cmath>
#include <numbers>

#include "app/target_geometry.h"
#include "platform/linux/window_math.h"
#include "platform/paint/dialog_text.h"

namespace {

constexpr std::uint32_t kWhiteRgb = 0xFFFFFF;
constexpr std::uint32_t kBlackRgb = 0x000000;

// The path of the ellipse inscribed in the box (left, top) to (right, bottom), whose right and
// bottom edges lie outside it: through the centres of its outermost pixels.
void InscribedEllipse(cairo_t* cr, int left, int top, int right, int bottom)
{
    const double rx = (right - left - 1) / 2.0;
    const double ry = (bottom - top - 1) / 2.0;
    cairo_new_path(cr);
    if (rx <= 0 || ry <= 0) {
        return;
    }
    cairo_save(cr);
    cairo_translate(cr, (left + right) / 2.0, (top + bottom) / 2.0);
    cairo_scale(cr, rx, ry);
    cairo_arc(cr, 0, 0, 1, 0, 2 * std::numbers::pi);
    cairo_restore(cr);
}

// A line from pixel (x0, y0) towards pixel (x1, y1), leaving out the final pixel.
void Line(cairo_t* cr, int x0, int y0, int x1, int y1, int width)
{
    const double dx = x1 - x0;
    const double dy = y1 - y0;
    const double length = std::hypot(dx, dy);
    if (length == 0) {
        return;
    }
    // Through the pixels' centres, begun and ended half a pixel early.
    const double backX = 0.5 - 0.5 * dx / length;
    const double backY = 0.5 - 0.5 * dy / length;
    cairo_set_line_width(cr, width);
    cairo_move_to(cr, x0 + backX, y0 + backY);
    cairo_line_to(cr, x1 + backX, y1 + backY);
    cairo_stroke(cr);
}

}  // namespace

void PaintCalibrationFrame(cairo_t* cr, int width, int height, float targetX, float targetY,
                           std::uint32_t colorRef)
{
    cairo_save(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    SetSourceRgb(cr, kWhiteRgb);
    cairo_paint(cr);

    TargetGeometry box{};
    if (!ComputeTargetGeometry(width, height, targetX, targetY, &box)) {
        cairo_restore(cr);
        return;
    }
    // Later drawing lies on top: the diagonals cross the disc, the thick centre lines lie over all.
    SetSourceRgb(cr, kBlackRgb);
    cairo_set_line_width(cr, 3);
    InscribedEllipse(cr, box.left, box.top, box.right, box.bottom);
    cairo_stroke(cr);

    InscribedEllipse(cr, box.left + box.inset, box.top + box.inset, box.right - box.inset,
                     box.bottom - box.inset);
    SetSourceRgb(cr, ColorRefToRgb(colorRef));
    cairo_fill_preserve(cr);
    SetSourceRgb(cr, kBlackRgb);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);

    Line(cr, box.left, box.top, box.right, box.bottom, 1);
    Line(cr, box.left, box.bottom, box.right, box.top, 1);
    Line(cr, box.left, box.midY, box.right, box.midY, 3);
    Line(cr, box.midX, box.bottom, box.midX, box.top, 3);
    cairo_restore(cr);
}
