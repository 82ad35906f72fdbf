// libFuzzer target: a solver options or case settings file (see entry_points.h).
#include "entry_points.h"

#include "io/input_error.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    try {
        fuzz_options_input(std::string(reinterpret_cast<const char *>(data), size));
    } catch (const InputError &) {
        // Refused with a message: what bad input should get.
    }
    return 0;
}
