#include "run/gis_plugin.hpp"

#include <dlfcn.h>
#include <mutex>
#include <vector>

#include "common/errors.hpp"
#include "run/gis_export.hpp"

namespace tarvel::run {
namespace {

/// Where the library may be: beside the installed program, then where this build made it.
std::vector<std::filesystem::path> places() {
    std::vector<std::filesystem::path> found;
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        found.push_back(program.parent_path() / TARVEL_GIS_BESIDE_PROGRAM);
    }
    found.emplace_back(TARVEL_GIS_BUILT);
    return found;
}

struct Loaded {
    const GisPlugin* plugin = nullptr;
    std::string failure;
};

Loaded load() {
    Loaded loaded;
    for (const std::filesystem::path& place : places()) {
        std::error_code error;
        if (!std::filesystem::exists(place, error)) {
            continue;
        }
        // Kept for the life of the process: what it made may be in use until the end.
        void* library = ::dlopen(place.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            loaded.failure = ::dlerror();
            continue;
        }
        using Entry = const GisPlugin* (*)();
        const auto entry = reinterpret_cast<Entry>(::dlsym(library, gis_plugin_entry));
        if (entry != nullptr) {
            loaded.plugin = entry();
            return loaded;
        }
        loaded.failure = place.string() + ": no es la biblioteca de exportación SIG";
    }
    if (loaded.failure.empty()) {
        loaded.failure =
            "no se encuentra la biblioteca de exportación SIG (" + places().front().string() + ")";
    }
    return loaded;
}

} // namespace

const GisPlugin& gis_plugin() {
    static const Loaded loaded = load();
    if (loaded.plugin == nullptr) {
        throw RunRefused("la exportación SIG no está disponible: " + loaded.failure);
    }
    return *loaded.plugin;
}

bool valid_crs(const std::string& crs, std::string& error) {
    try {
        return gis_plugin().valid_crs(crs, error);
    } catch (const RunRefused& e) {
        error = e.what();
        return false;
    }
}

std::unique_ptr<RunWideOutput> open_gis_export(const std::filesystem::path& target,
                                               const std::string& crs) {
    return gis_plugin().open(target, crs);
}

} // namespace tarvel::run
