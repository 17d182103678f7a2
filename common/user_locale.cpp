#include "common/user_locale.hpp"

#include <clocale>

namespace tarvel {

void use_user_locale() noexcept {
    std::setlocale(LC_ALL, "");
    // Numbers are read by the C library on the C locale's terms (the option parser reads
    // "-t 0.25" with strtold): a Spanish locale's decimal comma would refuse it.
    std::setlocale(LC_NUMERIC, "C");
}

} // namespace tarvel
