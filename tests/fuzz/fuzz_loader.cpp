// libFuzzer target: the loader on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tarvel::fuzz::run_or_abort(&tarvel::fuzz::check_loader, data, size);
    return 0;
}
