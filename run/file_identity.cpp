#include "run/file_identity.hpp"

#include <system_error>

namespace tarvel::run {

std::filesystem::path normalized_path(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::path result = std::filesystem::weakly_canonical(path, error);
    if (error) {
        result = std::filesystem::absolute(path, error).lexically_normal();
        if (error) {
            result = path.lexically_normal();
        }
    }
    return result;
}

bool same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    if (std::filesystem::exists(a, error) && std::filesystem::exists(b, error)) {
        const bool same = std::filesystem::equivalent(a, b, error);
        if (!error) {
            return same;
        }
    }
    return normalized_path(a) == normalized_path(b);
}

} // namespace tarvel::run
