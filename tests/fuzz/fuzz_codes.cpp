// libFuzzer target: the codes file reader on arbitrary content.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tarvel::fuzz::run_or_abort(&tarvel::fuzz::check_codes_bytes, data, size);
    return 0;
}
