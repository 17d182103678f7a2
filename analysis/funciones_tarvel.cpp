#include "analysis/funciones_tarvel.hpp"

namespace tarvel::analysis {
inline namespace Funciones_Tarvel {
namespace {

void trim_spaces(std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    const std::size_t last = text.find_last_not_of(' ');
    text = text.substr(first, last - first + 1);
}

bool same_place(const digi::Vertex& a, const digi::Vertex& b) noexcept {
    return a.x == b.x && a.y == b.y;
}

} // namespace

void LimpiamosCodigo(std::string& codigo) {
    const std::size_t nul = codigo.find('\0');
    if (nul != std::string::npos) {
        codigo.resize(nul);
    }
    trim_spaces(codigo);
}

void RellenamosCodigo(std::string& codigo) {
    constexpr std::size_t code_width = 7;
    trim_spaces(codigo);
    if (codigo.size() < code_width) {
        codigo.resize(code_width, '\0');
    }
}

void AnotamosError(std::vector<digi::Vertex>& error_points, const digi::Vertex& punto) {
    error_points.push_back(punto);
}

CodesWithDirection::CodesWithDirection(const CodesList& codes)
    : m_own(std::make_shared<const CodeSet>(codes)), m_codes(m_own.get()) {}

bool CodesWithDirection::CodigoConSentido(std::string& codigo) {
    LimpiamosCodigo(codigo);
    m_con_sentido = m_codes->contains(codigo);
    return m_con_sentido;
}

bool CodesWithDirection::SiguenSentido(std::string& codigo, const digi::Vertex& first_start,
                                       const digi::Vertex& first_end,
                                       const digi::Vertex& second_start,
                                       const digi::Vertex& second_end) {
    if (!CodigoConSentido(codigo)) {
        return false;
    }
    return same_place(first_start, second_end) || same_place(first_end, second_start);
}

} // namespace Funciones_Tarvel
} // namespace tarvel::analysis
