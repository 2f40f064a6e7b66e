#include "platform/transfer_diagnostic.h"

#include <cinttypes>
#include <cstdio>

std::string DescribeFailedTransfer(const FailedTransfer& failure)
{
    char line[160];
    int n = std::snprintf(line, sizeof line, "qavel: %s feature report %02x, %" PRIu32 " bytes",
                          failure.set ? "set" : "get", static_cast<unsigned>(failure.reportId),
                          failure.length);
    std::string text(line, static_cast<std::size_t>(n));
    if (failure.passed != failure.length) {
        n = std::snprintf(line, sizeof line, " (%" PRIu32 " passed)", failure.passed);
        text.append(line, static_cast<std::size_t>(n));
    }
    if (failure.transferred >= 0) {
        n = std::snprintf(line, sizeof line, ": only %" PRId64 " transferred\n",
                          failure.transferred);
        text.append(line, static_cast<std::size_t>(n));
        return text;
    }
    n = std::snprintf(line, sizeof line, ": error %lu", failure.error);
    text.append(line, static_cast<std::size_t>(n));
    // One line, in parentheses: the system's text with its line breaks as single spaces, without
    // its full stop.
    std::string meaning;
    for (const char c : failure.meaning) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
            meaning += c;
        } else if (!meaning.empty() && meaning.back() != ' ') {
            meaning += ' ';
        }
    }
    while (!meaning.empty() && (meaning.back() == ' ' || meaning.back() == '.')) {
        meaning.pop_back();
    }
    if (!meaning.empty()) {
        text += " (" + meaning + ")";
    }
    text += "\n";
    return text;
}
