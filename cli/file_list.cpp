#include "cli/file_list.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <istream>
#include <iterator>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "common/errors.hpp"

namespace tarvel::cli {
namespace {

[[noreturn]] void fail(const std::string& list, const char* what, int error) {
    throw FileError(list + ": " + what + ": " + std::strerror(error) + " (lista de ficheros)");
}

/// The whole list file. Read with the system's calls, so that a failure says why.
std::string file_text(const std::filesystem::path& list) {
    const int fd = ::open(list.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fail(list.string(), "no se puede abrir", errno);
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            fail(list.string(), "no se puede leer", error);
        }
        if (got == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

} // namespace

std::vector<std::filesystem::path> names_in(std::string_view text, char separator) {
    std::vector<std::filesystem::path> names;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find(separator), text.size());
        std::string_view name = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (separator == '\n' && !name.empty() && name.back() == '\r') {
            name.remove_suffix(1);
        }
        if (!name.empty()) {
            names.emplace_back(name);
        }
    }
    return names;
}

std::vector<std::filesystem::path> read_file_list(const std::filesystem::path& list,
                                                  std::istream& standard_input,
                                                  bool null_separated) {
    std::string text;
    if (list == "-") {
        text.assign(std::istreambuf_iterator<char>(standard_input), {});
        if (standard_input.bad()) {
            throw FileError("-: no se puede leer la entrada estándar (lista de ficheros)");
        }
    } else {
        text = file_text(list);
    }
    return names_in(text, null_separated ? '\0' : '\n');
}

} // namespace tarvel::cli
