#include "common/errors.hpp"

#include <utility>

namespace tarvel {

FormatError::FormatError(std::string file, std::int64_t byte_position, const std::string& detail)
    : Error(file + ": byte " + std::to_string(byte_position) + ": " + detail),
      m_file(std::move(file)), m_byte_position(byte_position) {}

} // namespace tarvel
