// Conversions between the window's texts and file-system paths. File names are carried in
// the system's local encoding both ways, so a name that is not valid UTF-8 still reaches the
// run unchanged.
#pragma once

#include <QString>
#include <filesystem>

namespace tarvel::ui {

/// The path that `name` (as shown in a text box) stands for.
[[nodiscard]] std::filesystem::path to_path(const QString& name);

/// `path` as shown in a text box.
[[nodiscard]] QString to_qstring(const std::filesystem::path& path);

} // namespace tarvel::ui
