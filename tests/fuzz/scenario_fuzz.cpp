// The simulator's scenario parser over any text: a clear error naming file and line, or a
// scenario the simulator can be built from.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_require.h"
#include "sim_controller.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    SimScenario scenario;
    scenario.asciiStartReply = "untouched";
    std::string error;
    if (!ParseScenario(text, "f.scenario", &scenario, &error)) {
        FuzzRequire(error.rfind("f.scenario:", 0) == 0, "an error that does not name the file");
        const std::size_t colon = error.find(": ", 11);
        FuzzRequire(colon != std::string::npos && colon > 11, "an error without a line number");
        long line = 0;
        for (std::size_t i = 11; i < colon; ++i) {
            FuzzRequire(error[i] >= '0' && error[i] <= '9', "a line number that is not a number");
            line = line * 10 + (error[i] - '0');
        }
        long lines = 1;
        for (char c : text) {
            lines += c == '\n' ? 1 : 0;
        }
        FuzzRequire(line >= 1 && line <= lines, "an error naming a line the text lacks");
        FuzzRequire(scenario.asciiStartReply == "untouched", "a failed parse changed its output");
        return 0;
    }
    for (const SimTouch& t : scenario.touches) {
        FuzzRequire(t.x >= -2048 && t.x <= 2047 && t.y >= -2048 && t.y <= 2047,
                    "a touch outside controller units accepted");
        FuzzRequire(t.samples >= 1 && t.perReport >= 1 && t.perReport <= 2 && t.rest >= 0,
                    "a touch option out of range accepted");
    }
    SimScenario again;
    std::string error2;
    FuzzRequire(ParseScenario(text, "f.scenario", &again, &error2) &&
                    again.devices.size() == scenario.devices.size() &&
                    again.touches.size() == scenario.touches.size(),
                "the same text parsed differently");
    // The simulator must take whatever the parser accepts.
    SimController* sim = SimCreate(scenario, nullptr);
    FuzzRequire(SimDeviceCount(sim) == static_cast<int>(scenario.devices.size()),
                "the simulator lost a device");
    SimDestroy(sim);
    return 0;
}
