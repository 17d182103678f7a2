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

namespace {

/// A last part of a name that normalizing leaves as it is.
bool plain_name(const std::filesystem::path& name) {
    return !name.empty() && name != "." && name != "..";
}

/// Whether `a` and `b` are different names in a folder spelled the same way: names that lead
/// to no file then normalize to that folder's path and their own, different, last parts.
bool different_names_in_one_folder(const std::filesystem::path& a, const std::filesystem::path& b) {
    return a.parent_path() == b.parent_path() && plain_name(a.filename()) &&
           plain_name(b.filename()) && a.filename() != b.filename();
}

} // namespace

bool same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error_a;
    std::error_code error_b;
    const bool a_exists = std::filesystem::exists(a, error_a);
    const bool b_exists = std::filesystem::exists(b, error_b);
    if (!error_a && !error_b) {
        if (a_exists != b_exists) {
            // A name that leads to no file is not a name of one that exists. The usual case (an
            // output not written yet, against the input) so costs two lookups, not a lookup
            // of every folder of both names.
            return false;
        }
        if (!a_exists && different_names_in_one_folder(a, b)) {
            return false; // two outputs of a sheet, neither written yet
        }
        if (a_exists) {
            std::error_code error;
            const bool same = std::filesystem::equivalent(a, b, error);
            if (!error) {
                return same;
            }
        }
    }
    return normalized_path(a) == normalized_path(b);
}

} // namespace tarvel::run
