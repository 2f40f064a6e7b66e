// The hidraw layer's report-descriptor parser over any bytes a device may hand over.

#include <cstddef>
#include <cstdint>

#include "fuzz_require.h"
#include "platform/linux/report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::uint32_t count = CountFeatureValueCaps(data, size);
    // Each counted capability is a Feature item of its own, at least one byte long.
    FuzzRequire(count <= size, "more capabilities than descriptor bytes");
    FuzzRequire(CountFeatureValueCaps(data, size) == count, "the same bytes counted differently");
    return 0;
}
