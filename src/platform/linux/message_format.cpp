#include "platform/linux/message_format.h"

bool FormatMessageText(const char* text, std::string* out)
{
    if (text == nullptr || out == nullptr) {
        return false;
    }
    std::string result;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p != '%') {
            result.push_back(*p);
            continue;
        }
        const char next = p[1];
        switch (next) {
        case '%':
        case '.':
        case '!':
        case ' ': result.push_back(next); break;
        case 'n': result.push_back('\n'); break;
        case 'r': result.push_back('\r'); break;
        case 't': result.push_back('\t'); break;
        case '0': *out = result; return true;
        default: return false;
        }
        ++p;
    }
    *out = result;
    return true;
}
