#include "analysis/joined_lines.hpp"

#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace tarvel::analysis {
namespace {

bool at_place(const digi::Vertex& v, std::int32_t x, std::int32_t y) noexcept {
    return v.x == x && v.y == y;
}

/// An end vertex of a loaded line: line * 2, plus 1 for its last vertex.
digi::Vertex vertex_at(const digi::ElementTables& tables, std::uint32_t ref) {
    const digi::ElementView line = tables.line(ref >> 1);
    return line.vertex((ref & 1U) != 0 ? line.item_count() - 1 : 0);
}

/// Number of places where a vertex repeats the one before it (X, Y and Z).
std::int64_t adjacent_repeats(const digi::ElementView& line) {
    std::int64_t repeats = 0;
    const std::int32_t n = line.item_count();
    for (std::int32_t i = 1; i < n; ++i) {
        if (std::memcmp(line.item_data(i - 1), line.item_data(i), digi::item_bytes) == 0) {
            ++repeats;
        }
    }
    return repeats;
}

/// How vertices repeating the one placed last are dropped while a line is emitted.
enum class Drop : std::uint8_t {
    first_only, ///< only the line's first vertex may be dropped; the rest go in as they are
    all,        ///< every vertex equal to the one placed last is dropped
};

struct Task {
    std::int32_t line;
    bool reversed;
    Drop drop;
};

void emit_loaded(const digi::ElementView& line, bool reversed, Drop drop,
                 std::vector<digi::Vertex>& out) {
    const std::int32_t n = line.item_count();
    for (std::int32_t step = 0; step < n; ++step) {
        const digi::Vertex v = line.vertex(reversed ? n - 1 - step : step);
        const bool may_drop = drop == Drop::all || step == 0;
        if (may_drop && !out.empty() && out.back() == v) {
            continue;
        }
        out.push_back(v);
    }
}

} // namespace

std::size_t JoinedLines::slot(std::int32_t line) const {
    if (line < m_loaded) {
        throw std::out_of_range("JoinedLines: line " + std::to_string(line) + " is not joined");
    }
    return static_cast<std::size_t>(line - m_loaded);
}

const JoinedLines::Record& JoinedLines::record(std::int32_t line) const {
    return m_lines.at(slot(line));
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

std::int32_t JoinedLines::vertex_count(const digi::ElementTables& tables, std::int32_t line) const {
    if (is_joined(line)) {
        return record(line).vertex_count;
    }
    return tables.line(static_cast<std::size_t>(line)).item_count();
}

JoinedLines::EndRef JoinedLines::end_ref(std::int32_t line, bool last) const {
    if (is_joined(line)) {
        const Record& r = record(line);
        return last ? r.end : r.start;
    }
    return static_cast<EndRef>(line) * 2 + (last ? 1U : 0U);
}

digi::Vertex JoinedLines::start_vertex(const digi::ElementTables& tables, std::int32_t line) const {
    return vertex_at(tables, end_ref(line, false));
}

digi::Vertex JoinedLines::end_vertex(const digi::ElementTables& tables, std::int32_t line) const {
    return vertex_at(tables, end_ref(line, true));
}

std::int32_t JoinedLines::origin(std::int32_t line) const {
    return is_joined(line) ? record(line).origin : line;
}

JoinPlan JoinedLines::plan_join(const digi::ElementTables& tables, std::int32_t first,
                                std::int32_t second, std::int32_t x, std::int32_t y) const {
    JoinPlan plan;
    plan.first = first;
    plan.second = second;
    const digi::Vertex first_start = start_vertex(tables, first);
    const digi::Vertex second_start = start_vertex(tables, second);
    plan.first_reversed = at_place(first_start, x, y);
    plan.second_reversed = !at_place(second_start, x, y);
    plan.whole_reversed = plan.first_reversed && plan.second_reversed;

    // The first line goes in whole; of the second line, a vertex is dropped exactly where it
    // repeats the vertex before it in the second line, or, for its first vertex, the first
    // line's copy of the joining point. A joined line's repeats are those of the loaded line
    // it starts from: the second line of a join never brings any, and turning a list round
    // keeps them.
    const digi::Vertex joining = plan.first_reversed ? first_start : end_vertex(tables, first);
    const digi::Vertex second_first =
        plan.second_reversed ? end_vertex(tables, second) : second_start;
    const std::int64_t repeats =
        adjacent_repeats(tables.line(static_cast<std::size_t>(origin(second))));
    plan.vertex_count = std::int64_t{vertex_count(tables, first)} + vertex_count(tables, second) -
                        repeats - (second_first == joining ? 1 : 0);
    return plan;
}

std::int32_t JoinedLines::add(const JoinPlan& plan) {
    if (plan.vertex_count < 2 || plan.vertex_count > digi::max_item_count) {
        throw std::logic_error("JoinedLines: a joined line of " +
                               std::to_string(plan.vertex_count) + " vertices");
    }
    Record r{};
    r.first = plan.first;
    r.second = plan.second;
    r.start = end_ref(plan.first, plan.first_reversed);
    r.end = end_ref(plan.second, !plan.second_reversed);
    if (plan.whole_reversed) {
        std::swap(r.start, r.end);
    }
    r.origin = origin(plan.first);
    r.vertex_count = static_cast<std::int16_t>(plan.vertex_count);
    r.flags = static_cast<std::uint8_t>((plan.first_reversed ? first_reversed_flag : 0) |
                                        (plan.second_reversed ? second_reversed_flag : 0) |
                                        (plan.whole_reversed ? whole_reversed_flag : 0));
    const std::int32_t number = line_count();
    m_lines.push_back(r);
    ++m_live;
    return number;
}

void JoinedLines::build(const digi::ElementTables& tables, std::int32_t line,
                        std::vector<digi::Vertex>& out) const {
    // A joined line's list is F (its first line, oriented) then S (its second line, oriented,
    // less every vertex that repeats the one placed before it), or that list turned round.
    // A line is emitted "first only" (its list as it stands, its first vertex dropped when it
    // repeats the last vertex out) or "all" (every vertex dropped that repeats the one before
    // it). F is emitted the way its joined line is, and S "all", which is how it was placed.
    // Turned round, S comes first, reversed: it holds no repeats and does not start with the
    // joining point, so "all" gives it exactly, apart from a run equal to the joining point
    // that S had dropped at its start and that now comes out once at the end; F, reversed,
    // starts with that same vertex and drops it. Chains run tens of thousands of joins deep,
    // hence an explicit stack rather than recursion.
    out.clear();
    std::vector<Task> stack{{line, false, Drop::first_only}};
    while (!stack.empty()) {
        const Task task = stack.back();
        stack.pop_back();
        if (!is_joined(task.line)) {
            emit_loaded(tables.line(static_cast<std::size_t>(task.line)), task.reversed, task.drop,
                        out);
            continue;
        }
        const Record& r = record(task.line);
        const bool first_reversed = (r.flags & first_reversed_flag) != 0;
        const bool second_reversed = (r.flags & second_reversed_flag) != 0;
        const bool whole_reversed = (r.flags & whole_reversed_flag) != 0;
        if (task.reversed == whole_reversed) {
            stack.push_back({r.second, second_reversed, Drop::all});
            stack.push_back({r.first, first_reversed, task.drop});
        } else {
            stack.push_back({r.first, !first_reversed, task.drop});
            stack.push_back({r.second, !second_reversed, Drop::all});
        }
    }
}

std::vector<digi::Vertex> JoinedLines::vertices(const digi::ElementTables& tables,
                                                std::int32_t line) const {
    std::vector<digi::Vertex> out;
    build(tables, line, out);
    return out;
}

void extent_step(std::span<const digi::Vertex> vertices, digi::ElementBlock& block) {
    std::int32_t MinX = vertices.front().x;
    std::int32_t MinY = vertices.front().y;
    std::int32_t MinZ = vertices.front().z;
    std::int32_t MaxX = MinX;
    std::int32_t MaxY = MinY;
    std::int32_t MaxZ = MinZ;
    for (const digi::Vertex& v : vertices) {
        if (v.x < MinX) {
            MinX = v.x;
        }
        if (v.y < MinY) {
            MinY = v.y;
        }
        if (v.z < MinZ) {
            MinZ = v.z;
        }
        if (v.x > MaxX) {
            MaxX = v.x;
        }
        if (v.y > MaxY) {
            MaxY = v.y;
        }
        if (v.z > MaxZ) {
            MaxZ = v.z;
        }
    }
    block.values[0] = MinX;
    block.values[1] = MinY;
    block.values[2] = MinZ;
    block.values[3] = MaxX;
    block.values[4] = MaxY;
    block.values[5] = MaxZ;
}

void JoinedLines::write(digi::ByteSink& out, const digi::ElementTables& tables) const {
    std::vector<digi::Vertex> vertex_list;
    std::vector<std::byte> bytes;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const Record& r = m_lines[i];
        if ((r.flags & absorbed_flag) != 0) {
            continue;
        }
        build(tables, m_loaded + static_cast<std::int32_t>(i), vertex_list);
        if (vertex_list.size() != static_cast<std::size_t>(r.vertex_count)) {
            throw std::logic_error("JoinedLines: a joined line built " +
                                   std::to_string(vertex_list.size()) + " vertices of " +
                                   std::to_string(r.vertex_count));
        }
        const digi::ElementView first = tables.line(static_cast<std::size_t>(r.origin));
        // Every vertex of both lines is in the list or repeats one that is, so the extent of
        // the list is the extent of both lines.
        digi::ElementBlock block = first.block();
        extent_step(vertex_list, block);
        const std::span<const std::byte> attributes = first.attribute_bytes();

        bytes.resize(digi::header_bytes + digi::block_bytes +
                     digi::item_bytes * vertex_list.size() + attributes.size());
        std::byte* p = bytes.data();
        // Type code, feature code and attribute count as the first line holds them.
        std::memcpy(p, first.bytes().data(), digi::item_count_offset);
        digi::store_i16(p + digi::item_count_offset, r.vertex_count);
        digi::encode_block(block, p + digi::header_bytes);
        p += digi::header_bytes + digi::block_bytes;
        for (const digi::Vertex& v : vertex_list) {
            digi::encode_vertex(v, p);
            p += digi::item_bytes;
        }
        if (!attributes.empty()) {
            std::memcpy(p, attributes.data(), attributes.size());
        }
        out.write(bytes);
    }
}

} // namespace tarvel::analysis
