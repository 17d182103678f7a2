#include "analysis/joined_lines.hpp"

#include <stdexcept>
#include <string>

namespace tarvel::analysis {
JoinedLines::JoinedLines(std::int32_t loaded_line_count,
                         std::span<const std::int32_t> lines_with_repeats)
    : m_loaded(loaded_line_count), m_repeats_known(true),
      m_repeat_bits((static_cast<std::size_t>(loaded_line_count) + 63) / 64, 0) {
    for (const std::int32_t line : lines_with_repeats) {
        if (line < 0 || line >= loaded_line_count) {
            throw std::out_of_range("JoinedLines: line " + std::to_string(line) +
                                    " with repeats is not loaded");
        }
        const auto k = static_cast<std::size_t>(line);
        m_repeat_bits[k / 64] |= std::uint64_t{1} << (k % 64);
    }
}

void JoinedLines::not_joined(std::int32_t line) {
    throw std::out_of_range("JoinedLines: line " + std::to_string(line) + " is not joined");
}

bool JoinedLines::absorbed(std::int32_t line) const {
    return (record(line).flags & absorbed_flag) != 0;
}

void JoinedLines::absorb(std::int32_t line) {
    Record& r = m_lines.at(slot(line));
    if ((r.flags & absorbed_flag) == 0) {
        r.flags = static_cast<std::uint8_t>(r.flags | absorbed_flag);
        --m_live;
    }
}

std::int32_t JoinedLines::add(const JoinLayout& layout) {
    if (layout.vertex_count < 2 || layout.vertex_count > digi::max_item_count) {
        throw std::logic_error("JoinedLines: a joined line of " +
                               std::to_string(layout.vertex_count) + " vertices");
    }
    const EndRef first_end = end_ref(layout.first, layout.first_reversed);
    const EndRef second_end = end_ref(layout.second, !layout.second_reversed);
    const std::int32_t first_origin = origin(layout.first);
    const std::int32_t number = line_count();
    // Filled where it is kept, field by field: a record made aside and copied in was read back
    // in wider pieces than it was written, which stalled the loop at every join.
    Record& r = m_lines.emplace_back();
    r.first = layout.first;
    r.second = layout.second;
    r.start = layout.whole_reversed ? second_end : first_end;
    r.end = layout.whole_reversed ? first_end : second_end;
    r.origin = first_origin;
    r.vertex_count = static_cast<std::int16_t>(layout.vertex_count);
    r.flags = static_cast<std::uint8_t>((layout.first_reversed ? first_reversed_flag : 0) |
                                        (layout.second_reversed ? second_reversed_flag : 0) |
                                        (layout.whole_reversed ? whole_reversed_flag : 0));
    ++m_live;
    return number;
}

} // namespace tarvel::analysis
