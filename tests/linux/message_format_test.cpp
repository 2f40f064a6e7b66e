#include "platform/linux/message_format.h"

#include <gtest/gtest.h>

#include "common/strings.h"

TEST(MessageFormat, TableTextsPassUnchanged)
{
    for (const char* text :
         {TEXT_USER_ABORT, TEXT_SUCCESS, TEXT_NO_CONTROLLER, TEXT_CANNOT_WRITE, NOTICE_TEXT}) {
        std::string out;
        ASSERT_TRUE(FormatMessageText(text, &out));
        EXPECT_EQ(text, out);
    }
}

TEST(MessageFormat, EscapesAndInsertsWithoutArguments)
{
    std::string out;
    ASSERT_TRUE(FormatMessageText("100%% done%nnext%0ignored", &out));
    EXPECT_EQ("100% done\nnext", out);
    ASSERT_TRUE(FormatMessageText("a%.b%!c% d%te", &out));
    EXPECT_EQ("a.b!c d\te", out);
    ASSERT_TRUE(FormatMessageText("", &out));
    EXPECT_EQ("", out);

    out = "unchanged";
    EXPECT_FALSE(FormatMessageText("value %1", &out));
    EXPECT_FALSE(FormatMessageText("trailing %", &out));
    EXPECT_FALSE(FormatMessageText("%q", &out));
    EXPECT_FALSE(FormatMessageText(nullptr, &out));
    EXPECT_EQ("unchanged", out);
}
