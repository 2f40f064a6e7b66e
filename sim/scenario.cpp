// Scenario files: strict parsing. A scenario that is not understood exactly is a setup error, never
// a guess, because a quietly misread line would make a test pass or fail for the wrong reason.

#include "sim_controller.h"
#include "synthetic_descriptor.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kCoordinateMin = -2048;
constexpr std::int64_t kCoordinateMax = 2047;
constexpr std::int64_t kCountMax = 1000000000;  // far beyond any test, still safe in an int
constexpr std::size_t kReplyBodyMax = 54;       // the reply frame must fit one report's payload
constexpr std::int64_t kExtraReportMax = 4096;  // a whole extra feature report, id byte counted

struct Line {
    const std::string* fileName;
    int number;
    std::vector<std::string> words;
};

struct ParseState {
    bool linearizationSeen = false;
    bool calibrationPageSeen = false;
    bool asciiStartSeen = false;
    bool touchFromSeen = false;
    bool pageReadSeen = false;
};

bool Fail(const Line& line, const std::string& reason, std::string* error)
{
    if (error != nullptr) {
        *error = *line.fileName + ":" + std::to_string(line.number) + ": " + reason;
    }
    return false;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Digits only (no sign, no prefix), in the given base, with overflow detection.
bool ParseDigits(const std::string& text, std::size_t start, int base, std::uint64_t* value)
{
    if (start >= text.size())
        return false;
    std::uint64_t v = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        int d = HexDigit(text[i]);
        if (d < 0 || d >= base)
            return false;
        if (v > (UINT64_MAX - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(base)) {
            return false;
        }
        v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    }
    *value = v;
    return true;
}

// An integer: optional '-', then decimal digits or 0x and hex digits. Nothing may follow.
bool ParseInteger(const std::string& text, std::int64_t* value)
{
    std::size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && text[pos] == '-') {
        negative = true;
        ++pos;
    }
    int base = 10;
    if (text.size() - pos >= 2 && text[pos] == '0' &&
        (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        base = 16;
        pos += 2;
    }
    std::uint64_t magnitude = 0;
    if (!ParseDigits(text, pos, base, &magnitude))
        return false;
    if (magnitude > static_cast<std::uint64_t>(INT64_MAX))
        return false;
    std::int64_t v = static_cast<std::int64_t>(magnitude);
    *value = negative ? -v : v;
    return true;
}

bool ParseRanged(const Line& line, const std::string& what, const std::string& text,
                 std::int64_t low, std::int64_t high, std::int64_t* value, std::string* error)
{
    std::int64_t v = 0;
    if (!ParseInteger(text, &v)) {
        return Fail(line, what + ": '" + text + "' is not a number", error);
    }
    if (v < low || v > high) {
        return Fail(line,
                    what + ": " + text + " is out of range " + std::to_string(low) + ".." +
                        std::to_string(high),
                    error);
    }
    *value = v;
    return true;
}

bool ParseFourHex(const std::string& text, std::uint16_t* value)
{
    if (text.size() != 4)
        return false;
    std::uint64_t v = 0;
    if (!ParseDigits(text, 0, 16, &v))
        return false;
    *value = static_cast<std::uint16_t>(v);
    return true;
}

// The options after the positional words: each "name=value", each known name at most once.
struct Option {
    const char* name;
    std::string value;
    bool given = false;
};

bool ParseOptions(const Line& line, std::size_t first, std::vector<Option>* options,
                  std::string* error)
{
    for (std::size_t i = first; i < line.words.size(); ++i) {
        const std::string& word = line.words[i];
        std::size_t eq = word.find('=');
        if (eq == std::string::npos) {
            return Fail(line, "unexpected argument '" + word + "'", error);
        }
        std::string name = word.substr(0, eq);
        Option* match = nullptr;
        for (Option& option : *options) {
            if (name == option.name)
                match = &option;
        }
        if (match == nullptr) {
            return Fail(line, "unknown option '" + name + "'", error);
        }
        if (match->given) {
            return Fail(line, "option '" + name + "' given twice", error);
        }
        match->given = true;
        match->value = word.substr(eq + 1);
        if (match->value.empty()) {
            return Fail(line, "option '" + name + "' has no value", error);
        }
    }
    return true;
}

bool ExpectPositional(const Line& line, std::size_t count, const std::string& usage,
                      std::string* error)
{
    // Positional words are those before the first option.
    std::size_t positional = 0;
    while (positional + 1 < line.words.size() &&
           line.words[positional + 1].find('=') == std::string::npos) {
        ++positional;
    }
    if (positional < count)
        return Fail(line, "missing argument; usage: " + usage, error);
    if (positional > count) {
        return Fail(line, "unexpected argument '" + line.words[count + 1] + "'; usage: " + usage,
                    error);
    }
    return true;
}

// "ID:LENGTH" of extra-feature: a report id the controller does not use, and a whole length.
bool ParseExtraFeature(const Line& line, const std::string& text, SimDeviceSpec* device,
                       std::string* error)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        return Fail(line, "extra-feature: '" + text + "' is not ID:LENGTH", error);
    }
    std::int64_t id = 0;
    std::int64_t length = 0;
    if (!ParseRanged(line, "extra-feature id", text.substr(0, colon), 1, 255, &id, error) ||
        !ParseRanged(line, "extra-feature length", text.substr(colon + 1), 2, kExtraReportMax,
                     &length, error)) {
        return false;
    }
    if (IsSyntheticControllerReport(static_cast<std::uint8_t>(id))) {
        return Fail(
            line,
            "extra-feature: report " + text.substr(0, colon) + " is one of the controller's own",
            error);
    }
    device->extraReportId = static_cast<std::uint8_t>(id);
    device->extraReportLength = static_cast<std::uint16_t>(length);
    return true;
}

bool ParseDevice(const Line& line, SimScenario* out, std::string* error)
{
    const std::string usage =
        "device VVVV:PPPP [nofeatures] [composite] [denied] [extra-feature=ID:LENGTH]";
    if (line.words.size() < 2)
        return Fail(line, "missing argument; usage: " + usage, error);
    const std::string& ids = line.words[1];
    SimDeviceSpec device;
    if (ids.size() != 9 || ids[4] != ':' || !ParseFourHex(ids.substr(0, 4), &device.vendor) ||
        !ParseFourHex(ids.substr(5), &device.product)) {
        return Fail(line, "'" + ids + "' is not VVVV:PPPP (4 hex digits each)", error);
    }
    std::size_t next = 2;
    if (next < line.words.size() && line.words[next] == "nofeatures") {
        device.featureValues = false;
        ++next;
    }
    if (next < line.words.size() && line.words[next] == "composite") {
        device.composite = true;
        ++next;
    }
    if (next < line.words.size() && line.words[next] == "denied") {
        device.denied = true;
        ++next;
    }
    std::vector<Option> options = {{"extra-feature", {}}};
    if (!ParseOptions(line, next, &options, error))
        return false;
    if (options[0].given && !ParseExtraFeature(line, options[0].value, &device, error))
        return false;
    out->devices.push_back(device);
    return true;
}

bool ParseTouch(const Line& line, SimScenario* out, std::string* error)
{
    const std::string usage = "touch X Y [samples=N] [jitter=J] [per-report=1|2] [rest=K]";
    if (!ExpectPositional(line, 2, usage, error))
        return false;
    std::int64_t x = 0;
    std::int64_t y = 0;
    if (!ParseRanged(line, "x", line.words[1], kCoordinateMin, kCoordinateMax, &x, error) ||
        !ParseRanged(line, "y", line.words[2], kCoordinateMin, kCoordinateMax, &y, error)) {
        return false;
    }
    std::vector<Option> options = {
        {"samples", {}}, {"jitter", {}}, {"per-report", {}}, {"rest", {}}};
    if (!ParseOptions(line, 3, &options, error))
        return false;
    SimTouch touch;
    touch.x = static_cast<std::int32_t>(x);
    touch.y = static_cast<std::int32_t>(y);
    std::int64_t v = 0;
    if (options[0].given) {
        if (!ParseRanged(line, "samples", options[0].value, 1, kCountMax, &v, error))
            return false;
        touch.samples = static_cast<int>(v);
    }
    if (options[1].given) {
        // Beyond the full coordinate span a larger jitter changes nothing but the clamping.
        if (!ParseRanged(line, "jitter", options[1].value, 0, 4095, &v, error))
            return false;
        touch.jitter = static_cast<int>(v);
    }
    if (options[2].given) {
        if (!ParseRanged(line, "per-report", options[2].value, 1, 2, &v, error))
            return false;
        touch.perReport = static_cast<int>(v);
    }
    if (options[3].given) {
        if (!ParseRanged(line, "rest", options[3].value, 0, kCountMax, &v, error))
            return false;
        touch.rest = static_cast<int>(v);
    }
    out->touches.push_back(touch);
    return true;
}

bool ParseLinearization(const Line& line, SimScenario* out, ParseState* state, std::string* error)
{
    if (state->linearizationSeen) {
        return Fail(line, "the linearization page is given twice", error);
    }
    state->linearizationSeen = true;
    if (line.words.size() >= 2 && line.words[1] == "fill") {
        if (line.words.size() != 4) {
            return Fail(line, "usage: linearization fill DX DY", error);
        }
        std::int64_t dx = 0;
        std::int64_t dy = 0;
        if (!ParseRanged(line, "dx", line.words[2], -128, 127, &dx, error) ||
            !ParseRanged(line, "dy", line.words[3], -128, 127, &dy, error)) {
            return false;
        }
        for (int k = 0; k < 25; ++k) {
            out->linearization[2 * k] = static_cast<std::int8_t>(dx);
            out->linearization[2 * k + 1] = static_cast<std::int8_t>(dy);
        }
        return true;
    }
    if (line.words.size() != 51) {
        return Fail(line,
                    "linearization needs 50 bytes, got " + std::to_string(line.words.size() - 1),
                    error);
    }
    for (int i = 0; i < 50; ++i) {
        std::int64_t v = 0;
        if (!ParseRanged(line, "byte " + std::to_string(i),
                         line.words[static_cast<std::size_t>(i) + 1], -128, 127, &v, error)) {
            return false;
        }
        out->linearization[i] = static_cast<std::int8_t>(v);
    }
    return true;
}

bool ParseCalibrationPage(const Line& line, SimScenario* out, ParseState* state, std::string* error)
{
    if (state->calibrationPageSeen) {
        return Fail(line, "the calibration page is given twice", error);
    }
    state->calibrationPageSeen = true;
    if (line.words.size() != 27) {
        return Fail(line,
                    "calibration-page needs 26 bytes, got " + std::to_string(line.words.size() - 1),
                    error);
    }
    for (int i = 0; i < 26; ++i) {
        const std::string& word = line.words[static_cast<std::size_t>(i) + 1];
        std::size_t start = 0;
        if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X'))
            start = 2;
        std::uint64_t v = 0;
        if (!ParseDigits(word, start, 16, &v)) {
            return Fail(line,
                        "byte " + std::to_string(i) + ": '" + word + "' is not a hexadecimal byte",
                        error);
        }
        if (v > 0xFF) {
            return Fail(line, "byte " + std::to_string(i) + ": " + word + " is out of range 00..ff",
                        error);
        }
        out->calibrationPage[i] = static_cast<std::uint8_t>(v);
    }
    return true;
}

bool ParseAfterOnly(const Line& line, int defaultAfter, std::vector<int>* list, std::string* error)
{
    if (!ExpectPositional(line, 0, line.words[0] + " [after=K]", error))
        return false;
    std::vector<Option> options = {{"after", {}}};
    if (!ParseOptions(line, 1, &options, error))
        return false;
    std::int64_t after = defaultAfter;
    if (options[0].given &&
        !ParseRanged(line, "after", options[0].value, 0, kCountMax, &after, error)) {
        return false;
    }
    list->push_back(static_cast<int>(after));
    return true;
}

bool ParseAsciiStart(const Line& line, SimScenario* out, ParseState* state, std::string* error)
{
    if (state->asciiStartSeen)
        return Fail(line, "ascii-start is given twice", error);
    state->asciiStartSeen = true;
    if (!ExpectPositional(line, 0, "ascii-start [reply=R] [after=K]", error))
        return false;
    std::vector<Option> options = {{"reply", {}}, {"after", {}}};
    if (!ParseOptions(line, 1, &options, error))
        return false;
    if (options[0].given) {
        const std::string& reply = options[0].value;
        if (reply.size() > kReplyBodyMax) {
            return Fail(line, "reply: longer than " + std::to_string(kReplyBodyMax) + " characters",
                        error);
        }
        for (char c : reply) {
            if (c < 0x21 || c > 0x7E) {
                return Fail(line, "reply: only printable ASCII characters are allowed", error);
            }
        }
        out->asciiStartReply = reply;
    }
    if (options[1].given) {
        std::int64_t v = 0;
        if (!ParseRanged(line, "after", options[1].value, 0, kCountMax, &v, error))
            return false;
        out->asciiStartAfter = static_cast<int>(v);
    }
    return true;
}

bool ParseRefuse(const Line& line, SimScenario* out, std::string* error)
{
    const std::string usage =
        "refuse set|get ID [times=N] [from=M] | refuse any [times=N] [from=M]";
    SimRefusal refusal;
    std::int64_t v = 0;
    std::size_t firstOption = 3;
    if (line.words.size() > 1 && line.words[1] == "any") {
        if (!ExpectPositional(line, 1, usage, error))
            return false;
        refusal.any = true;
        firstOption = 2;
    } else {
        if (!ExpectPositional(line, 2, usage, error))
            return false;
        if (line.words[1] == "set") {
            refusal.set = true;
        } else if (line.words[1] == "get") {
            refusal.set = false;
        } else {
            return Fail(line, "direction '" + line.words[1] + "' is neither set nor get", error);
        }
        if (!ParseRanged(line, "report id", line.words[2], 0, 255, &v, error))
            return false;
        refusal.reportId = static_cast<std::uint8_t>(v);
    }
    std::vector<Option> options = {{"times", {}}, {"from", {}}};
    if (!ParseOptions(line, firstOption, &options, error))
        return false;
    if (options[0].given) {
        if (!ParseRanged(line, "times", options[0].value, 1, kCountMax, &v, error))
            return false;
        refusal.times = static_cast<int>(v);
    }
    if (options[1].given) {
        if (!ParseRanged(line, "from", options[1].value, 1, kCountMax, &v, error))
            return false;
        refusal.from = static_cast<int>(v);
    }
    out->refusals.push_back(refusal);
    return true;
}

bool ParseTouchFrom(const Line& line, SimScenario* out, ParseState* state, std::string* error)
{
    if (state->touchFromSeen)
        return Fail(line, "touch-from is given twice", error);
    state->touchFromSeen = true;
    if (line.words.size() != 2)
        return Fail(line, "usage: touch-from pointer", error);
    if (line.words[1] != "pointer") {
        return Fail(line, "unknown touch source '" + line.words[1] + "'", error);
    }
    out->touchFromPointer = true;
    return true;
}

bool ParsePageRead(const Line& line, SimScenario* out, ParseState* state, std::string* error)
{
    if (state->pageReadSeen)
        return Fail(line, "page-read is given twice", error);
    state->pageReadSeen = true;
    if (!ExpectPositional(line, 0, "page-read [id=N] [header=echo|zero]", error))
        return false;
    std::vector<Option> options = {{"id", {}}, {"header", {}}};
    if (!ParseOptions(line, 1, &options, error))
        return false;
    if (options[0].given) {
        std::int64_t v = 0;
        if (!ParseRanged(line, "id", options[0].value, 0, 255, &v, error))
            return false;
        out->pageReadId = static_cast<std::uint8_t>(v);
    }
    if (options[1].given) {
        if (options[1].value != "echo" && options[1].value != "zero") {
            return Fail(line, "header: '" + options[1].value + "' is neither echo nor zero", error);
        }
        out->pageReadEchoes = options[1].value == "echo";
    }
    return true;
}

bool ParseLine(const Line& line, SimScenario* out, ParseState* state, std::string* error)
{
    const std::string& directive = line.words[0];
    if (directive == "device")
        return ParseDevice(line, out, error);
    if (directive == "touch")
        return ParseTouch(line, out, error);
    if (directive == "linearization")
        return ParseLinearization(line, out, state, error);
    if (directive == "calibration-page")
        return ParseCalibrationPage(line, out, state, error);
    if (directive == "status-touch")
        return ParseAfterOnly(line, 3, &out->statusTouches, error);
    if (directive == "ascii-start")
        return ParseAsciiStart(line, out, state, error);
    if (directive == "ascii-touch")
        return ParseAfterOnly(line, 2, &out->asciiTouches, error);
    if (directive == "refuse")
        return ParseRefuse(line, out, error);
    if (directive == "touch-from")
        return ParseTouchFrom(line, out, state, error);
    if (directive == "page-read")
        return ParsePageRead(line, out, state, error);
    return Fail(line, "unknown directive '" + directive + "'", error);
}

}  // namespace

bool ParseScenario(const std::string& text, const std::string& fileName, SimScenario* out,
                   std::string* error)
{
    SimScenario scenario;
    ParseState state;
    Line line;
    line.fileName = &fileName;
    line.number = 0;
    std::size_t pos = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        pos = 3;  // byte-order mark of some editors
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string raw = text.substr(pos, end - pos);
        pos = end + 1;
        ++line.number;
        std::size_t hash = raw.find('#');
        if (hash != std::string::npos)
            raw.resize(hash);
        line.words.clear();
        std::string word;
        for (char c : raw) {
            // Carriage returns are taken as blanks so that files saved on Windows read the same.
            if (c == ' ' || c == '\t' || c == '\r') {
                if (!word.empty())
                    line.words.push_back(word);
                word.clear();
            } else if (static_cast<unsigned char>(c) < 0x20 ||
                       static_cast<unsigned char>(c) > 0x7E) {
                return Fail(line,
                            "unexpected character (code " +
                                std::to_string(static_cast<unsigned char>(c)) + ")",
                            error);
            } else {
                word.push_back(c);
            }
        }
        if (!word.empty())
            line.words.push_back(word);
        if (line.words.empty())
            continue;
        if (!ParseLine(line, &scenario, &state, error))
            return false;
    }
    *out = scenario;
    return true;
}

bool LoadScenarioFile(const std::string& path, SimScenario* out, std::string* error)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        if (error != nullptr) {
            *error = path + ": cannot open the scenario file (" + std::strerror(errno) + ")";
        }
        return false;
    }
    std::string content;
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        content.append(chunk, n);
    // A directory opens but cannot be read: that must not pass for an empty scenario.
    bool failed = std::ferror(file) != 0;
    int readErrno = errno;
    std::fclose(file);
    if (failed) {
        if (error != nullptr) {
            *error = path + ": cannot read the scenario file (" + std::strerror(readErrno) + ")";
        }
        return false;
    }
    return ParseScenario(content, path, out, error);
}

SimScenario LoadScenarioFromEnvironmentOrExit()
{
    SimScenario scenario;
    const char* path = std::getenv("QAVEL_SIM");
    if (path == nullptr || path[0] == '\0')
        return scenario;
    std::string error;
    if (!LoadScenarioFile(path, &scenario, &error)) {
        std::fprintf(stderr, "qavel simulator: %s\n", error.c_str());
        std::fflush(stderr);
        std::exit(2);
    }
    return scenario;
}
