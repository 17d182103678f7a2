// `Funciones_Tarvel`: the small procedures on feature codes and error points used by the node
// loop and the error writer. The flag `ConSentido` (whether the code looked up last has a
// direction) is kept in a `CodesWithDirection` object together with the codes it looks up,
// one per run, instead of in module-wide state.
#pragma once

#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "digi/definiciones_digi.hpp"

namespace tarvel::analysis {

/// The list of codes with direction, as read from a codes file (trimmed codes).
using CodesList = std::vector<std::string>;

/// The codes with direction made ready for lookups. Built once for a whole run and shared,
/// read only, by every file of it.
class CodeSet {
public:
    explicit CodeSet(const CodesList& codes) : m_codes(codes.begin(), codes.end()) {}
    [[nodiscard]] bool contains(const std::string& code) const { return m_codes.contains(code); }

private:
    std::unordered_set<std::string> m_codes;
};

inline namespace Funciones_Tarvel {

/// Cuts `codigo` at its first byte 0 and trims spaces (only spaces) at both ends.
void LimpiamosCodigo(std::string& codigo);

/// Trims spaces at both ends, then fills `codigo` on the right with bytes 0 up to 7
/// characters; a code of 7 or more characters is only trimmed.
void RellenamosCodigo(std::string& codigo);

/// Appends a copy of `punto` to the error-point list.
void AnotamosError(std::vector<digi::Vertex>& error_points, const digi::Vertex& punto);

/// Looks feature codes up in the list of codes with direction and tells whether two lines of
/// such a code run head to tail. Remembers in `ConSentido()` the result of the latest lookup.
class CodesWithDirection {
public:
    /// Looks codes up in `codes`, which must outlive this object.
    explicit CodesWithDirection(const CodeSet& codes) : m_codes(&codes) {}
    /// Looks codes up in a set of its own made from `codes`.
    explicit CodesWithDirection(const CodesList& codes);

    /// Cleans `codigo` in place (LimpiamosCodigo), then true exactly when the cleaned code
    /// equals an entry of the list, case and interior spaces included. Sets ConSentido().
    [[nodiscard]] bool CodigoConSentido(std::string& codigo);

    /// True when `codigo` has a direction and the lines run head to tail: the first line's
    /// vertex 1 is at the second line's last vertex, or its last vertex at the second line's
    /// vertex 1 (X and Y only). Always looks the code up first, which sets ConSentido().
    [[nodiscard]] bool SiguenSentido(std::string& codigo, const digi::Vertex& first_start,
                                     const digi::Vertex& first_end,
                                     const digi::Vertex& second_start,
                                     const digi::Vertex& second_end);

    /// Whether the code looked up last has a direction; false before any lookup.
    [[nodiscard]] bool ConSentido() const noexcept { return m_con_sentido; }

private:
    std::shared_ptr<const CodeSet> m_own;
    const CodeSet* m_codes;
    bool m_con_sentido = false;
};

} // namespace Funciones_Tarvel
} // namespace tarvel::analysis
