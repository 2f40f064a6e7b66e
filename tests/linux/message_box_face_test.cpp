// The message box's content as both Linux displays show it: where a window system gives the box a
// size of its own (a kiosk makes it full screen), the content and OK stay centred in it.

#include "platform/paint/message_box_face.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

std::uint32_t PixelAt(cairo_surface_t* image, int x, int y)
{
    cairo_surface_flush(image);
    const unsigned char* row =
        cairo_image_surface_get_data(image) + y * cairo_image_surface_get_stride(image);
    return reinterpret_cast<const std::uint32_t*>(row)[x] & 0xFFFFFFu;
}

TEST(MessageBoxFace, ContentAndOkStayCentredInTheSizeGiven)
{
    MessageBoxView view{LayOutMessageBox("Invalid touch.", MessageIcon::Error), 1024, 768, false};
    const int left = (1024 - view.face.width) / 2;
    const int top = (768 - view.face.height) / 2;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    OkButtonRect(view, &x, &y, &width, &height);
    EXPECT_EQ(x, left + view.face.buttonX);
    EXPECT_EQ(y, top + view.face.buttonY);

    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1024, 768);
    cairo_t* cr = cairo_create(image);
    DrawMessageBox(cr, view);
    cairo_destroy(cr);
    EXPECT_EQ(PixelAt(image, 2, 2), 0xF0F0F0u) << "the face colour fills what was given";
    EXPECT_EQ(PixelAt(image, left + 22, top + 32), 0xD32F2Fu) << "the error icon, centred";
    EXPECT_EQ(PixelAt(image, x + 2, y + height / 2), 0xE1E1E1u) << "OK, centred";
    cairo_surface_destroy(image);

    // Smaller than asked for: the content starts at the top-left corner, nothing is cut there.
    view.width = 100;
    view.height = 50;
    OkButtonRect(view, &x, &y, &width, &height);
    EXPECT_EQ(x, view.face.buttonX);
    EXPECT_EQ(y, view.face.buttonY);
}

TEST(MessageBoxFace, OnlyAPressAndReleaseBothOnOkDismiss)
{
    MessageBoxView view{
        LayOutMessageBox("Calibration completed successfully.", MessageIcon::Information), 800, 600,
        false};
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    OkButtonRect(view, &x, &y, &width, &height);
    const int insideX = x + width / 2;
    const int insideY = y + height / 2;

    EXPECT_TRUE(PressMessageBox(&view, insideX, insideY));
    EXPECT_TRUE(ReleaseMessageBox(&view, insideX, insideY));
    EXPECT_FALSE(view.pressed);

    // Pressed beside OK, or moved off it before the release: not dismissed.
    EXPECT_FALSE(PressMessageBox(&view, x - 1, insideY));
    EXPECT_FALSE(ReleaseMessageBox(&view, insideX, insideY));
    EXPECT_TRUE(PressMessageBox(&view, insideX, insideY));
    EXPECT_FALSE(ReleaseMessageBox(&view, x + width, insideY));
    // A touch the compositor took back is released nowhere.
    EXPECT_TRUE(PressMessageBox(&view, insideX, insideY));
    EXPECT_FALSE(ReleaseMessageBox(&view, -1, -1));
}

TEST(MessageBoxFace, LongTextWrapsWithinTheBoxWidth)
{
    const std::string longLine(300, 'x');
    const MessageBoxFace wide = LayOutMessageBox(longLine, MessageIcon::Error);
    const MessageBoxFace narrow = LayOutMessageBox("OK.", MessageIcon::Error);
    EXPECT_LE(wide.width, wide.textX + 480 + 16);
    EXPECT_GT(wide.buttonY, narrow.buttonY) << "the wrapped text takes more lines";
    EXPECT_EQ(narrow.width, 220) << "a short text keeps the smallest width";
}

}  // namespace
