// libFuzzer target: a monitor file (see entry_points.h).
#include "entry_points.h"

#include "io/input_error.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    try {
        fuzz_monitor_input(std::string(reinterpret_cast<const char *>(data), size));
    } catch (const InputError &) {
        // Refused with a message: what bad input should get.
    }
    return 0;
}
