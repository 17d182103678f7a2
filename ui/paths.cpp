#include "ui/paths.hpp"

#include <QByteArray>
#include <QFile>
#include <string>

namespace tarvel::ui {

std::filesystem::path to_path(const QString& name) {
    const QByteArray bytes = QFile::encodeName(name);
    return std::filesystem::path(
        std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

QString to_qstring(const std::filesystem::path& path) {
    const std::string& native = path.native();
    return QFile::decodeName(QByteArray(native.data(), static_cast<qsizetype>(native.size())));
}

} // namespace tarvel::ui
