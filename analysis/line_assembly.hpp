// The joined line's shape: how a join orients its two lines at the joining point, how many
// vertices that gives, and the vertices themselves, built when the line is written. The
// orientation rule lives here alone; the vertex count is worked out beside it from the same
// orientation and repeat rule, and every line assembled is checked against it.
//
// The joined vertex list of first line F and second line S at joining point p is F oriented to
// end at p, then S oriented to start at p with every vertex dropped that repeats (X, Y and Z)
// the vertex placed before it; where F touches p with its vertex 1 and S with its last vertex,
// that list is turned round, so a line that runs into another keeps its direction.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "analysis/joined_lines.hpp"
#include "digi/definiciones_digi.hpp"
#include "digi/writer.hpp"

namespace tarvel::analysis {

/// Number of places in a loaded line where a vertex repeats the one before it (X, Y and Z).
[[nodiscard]] std::int32_t adjacent_repeats(const digi::ElementView& line);

/// Lays out the join of `first` and `second` at the joining point (x, y). Preconditions:
/// each line has an end there, they are different, and the second has its other end
/// elsewhere.
[[nodiscard]] JoinLayout lay_out_join(const digi::ElementTables& tables, const JoinedLines& joined,
                                      std::int32_t first, std::int32_t second, std::int32_t x,
                                      std::int32_t y);

/// The same, from the two lines' outlines.
[[nodiscard]] JoinLayout lay_out_join(const JoinedLines& joined, const LineOutline& first,
                                      const LineOutline& second, std::int32_t x, std::int32_t y);

/// The runs of loaded lines' vertices that make any line, in its running order, into `out`:
/// the assembly step, as the writer copies it and as assemble_vertices reads it.
void runs_of(const digi::ElementTables& tables, const JoinedLines& joined, std::int32_t line,
             std::vector<digi::VertexRun>& out);

/// The vertex list of any line, built into `out`.
void assemble_vertices(const digi::ElementTables& tables, const JoinedLines& joined,
                       std::int32_t line, std::vector<digi::Vertex>& out);

/// The loaded lines any line is made of, in its running order.
[[nodiscard]] std::vector<Piece> pieces_of(const JoinedLines& joined, std::int32_t line);
/// The same, into `out`.
void pieces_of(const JoinedLines& joined, std::int32_t line, std::vector<Piece>& out);

/// Joined line `line` as a line element to write: the loaded line it takes its header, further
/// values and attribute records from, the extent of its vertices, and its vertices, assembled
/// into `vertices`. Throws std::logic_error when they do not come to its vertex count.
[[nodiscard]] digi::LineElement joined_line_element(const digi::ElementTables& tables,
                                                    const JoinedLines& joined, std::int32_t line,
                                                    std::vector<digi::Vertex>& vertices);

/// The live joined lines, in the order made, as lines of runs for EscribimosSalida, each with
/// its first line's further values (the writer takes the extent). The source refers to
/// `tables` and `joined`, which must outlive it.
[[nodiscard]] digi::LineSource joined_line_source(const digi::ElementTables& tables,
                                                  const JoinedLines& joined);

} // namespace tarvel::analysis
