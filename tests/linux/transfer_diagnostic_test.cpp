#include "platform/transfer_diagnostic.h"

#include <gtest/gtest.h>

// The variants the hidraw test cannot provoke: a padded length, a system text as Windows words
// it (full stop, line break), and a short count.
TEST(TransferDiagnostic, NamesPaddedLengthAndShortCount)
{
    FailedTransfer padded;
    padded.set = false;
    padded.reportId = 0x80;
    padded.length = 20;
    padded.passed = 72;
    padded.error = 1784;
    padded.meaning = "The supplied user buffer is not valid\r\nfor the requested operation.\r\n";
    EXPECT_EQ(
        "qavel: get feature report 80, 20 bytes (72 passed): error 1784 (The supplied user buffer "
        "is not valid for the requested operation)\n",
        DescribeFailedTransfer(padded));

    FailedTransfer shortCount;
    shortCount.reportId = 0x05;
    shortCount.length = 72;
    shortCount.passed = 72;
    shortCount.transferred = 9;
    EXPECT_EQ("qavel: set feature report 05, 72 bytes: only 9 transferred\n",
              DescribeFailedTransfer(shortCount));
}
