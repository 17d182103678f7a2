// `tarvel`: the command line. Everything but guarding the process, taking the user's locale,
// reading argv and asking whether stderr is a terminal lives in run_cli, where tests reach it.
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "cli/app.hpp"
#include "cli/process_guard.hpp"
#include "common/user_locale.hpp"

int main(int argc, char** argv) {
    tarvel::cli::guard_process();
    tarvel::use_user_locale();
    const std::vector<std::string> args(argv + 1, argv + argc);
    return tarvel::cli::run_cli(args, std::cin, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}
