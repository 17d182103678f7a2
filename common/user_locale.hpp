// The locale a program runs in: the user's, so that what the system says inside our messages
// (why a file cannot be opened) is in the user's language, with the C locale's numbers.
#pragma once

namespace tarvel {

/// Takes the locale of the environment (LANG, LC_ALL...) for everything but numbers, which
/// keep the C locale's form ("0.25"). Call at start, and again after anything that sets the
/// whole locale (QApplication does).
void use_user_locale() noexcept;

} // namespace tarvel
