// The peer of the speed comparison: the same job done with the GEOS line merger, end to end.
// Reads a sheet with Tarvel's loader, groups its lines by feature code and attribute records,
// merges each group with the directed line merger (pieces join head to tail only, as lines of
// a code with direction do), and writes every merged line as WKB with X, Y and Z, each after
// its length. Usage: tarvel-bench-geos-peer SHEET OUT
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <unordered_map>
#include <vector>

#include <geos_c.h>

#include "digi/loader.hpp"

namespace {

using namespace tarvel;

/// What makes two lines of one kind: the 7 bytes of the code and the attribute records.
std::string kind_of(const digi::ElementView& line) {
    const auto code = line.bytes().subspan(digi::feature_code_offset, 7);
    const auto attributes = line.attribute_bytes();
    std::string key(reinterpret_cast<const char*>(code.data()), code.size());
    key.append(reinterpret_cast<const char*>(attributes.data()), attributes.size());
    return key;
}

GEOSGeometry* line_string(GEOSContextHandle_t context, const digi::ElementView& line,
                          std::vector<double>& coordinates) {
    const std::int32_t n = line.item_count();
    coordinates.resize(3 * static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) {
        const digi::Vertex v = line.vertex(i);
        coordinates[3 * static_cast<std::size_t>(i)] = v.x;
        coordinates[3 * static_cast<std::size_t>(i) + 1] = v.y;
        coordinates[3 * static_cast<std::size_t>(i) + 2] = v.z;
    }
    GEOSCoordSequence* sequence =
        GEOSCoordSeq_copyFromBuffer_r(context, coordinates.data(), static_cast<unsigned>(n), 1, 0);
    return GEOSGeom_createLineString_r(context, sequence);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: tarvel-bench-geos-peer SHEET OUT\n";
        return 2;
    }
    GEOSContextHandle_t context = GEOS_init_r();
    const digi::ElementTables tables = digi::CargamosFichero(argv[1]);

    std::unordered_map<std::string, std::vector<GEOSGeometry*>> groups;
    std::vector<double> coordinates;
    for (std::size_t i = 0; i < tables.lines.size(); ++i) {
        const digi::ElementView line = tables.line(i);
        if (line.item_count() >= 2) {
            groups[kind_of(line)].push_back(line_string(context, line, coordinates));
        }
    }

    std::ofstream out(argv[2], std::ios::binary);
    GEOSWKBWriter* writer = GEOSWKBWriter_create_r(context);
    GEOSWKBWriter_setOutputDimension_r(context, writer, 3);
    std::size_t written = 0;
    for (auto& [kind, lines] : groups) {
        GEOSGeometry* collection = GEOSGeom_createCollection_r(
            context, GEOS_MULTILINESTRING, lines.data(), static_cast<unsigned>(lines.size()));
        GEOSGeometry* merged = GEOSLineMergeDirected_r(context, collection);
        const int parts = GEOSGetNumGeometries_r(context, merged);
        for (int p = 0; p < parts; ++p) {
            std::size_t size = 0;
            unsigned char* wkb = GEOSWKBWriter_write_r(
                context, writer, GEOSGetGeometryN_r(context, merged, p), &size);
            const auto length = static_cast<std::uint32_t>(size);
            out.write(reinterpret_cast<const char*>(&length), sizeof length);
            out.write(reinterpret_cast<const char*>(wkb), static_cast<std::streamsize>(size));
            GEOSFree_r(context, wkb);
            ++written;
        }
        GEOSGeom_destroy_r(context, merged);
        GEOSGeom_destroy_r(context, collection);
    }
    GEOSWKBWriter_destroy_r(context, writer);
    out.close();
    GEOS_finish_r(context);
    std::cerr << "lines read " << tables.lines.size() << ", lines written " << written << "\n";
    return out ? 0 : 1;
}
