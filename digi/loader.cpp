#include "digi/loader.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "common/errors.hpp"

namespace tarvel::digi {
namespace {

/// A line of a few vertices and no attributes: most sheets' lines are at least this long.
constexpr std::size_t expected_line_bytes = 128;

/// The shortest line that has two ends (two vertices, no attributes).
constexpr auto shortest_line_with_ends = static_cast<std::size_t>(element_length(2, 0));

/// A watch is told of the lines found every so many lines.
constexpr std::size_t watch_every = 4096;

bool is_type(const std::byte* header, const TypeCode& code) {
    return static_cast<char>(header[0]) == code[0] && static_cast<char>(header[1]) == code[1];
}

/// Length of the element that starts at `offset`, after checking that its header and body
/// are in the file and that its counts are sound.
std::int64_t checked_length(std::span<const std::byte> bytes, std::size_t offset,
                            const std::string& file_name) {
    const auto position = static_cast<std::int64_t>(offset) + 1;
    const std::size_t left = bytes.size() - offset;
    if (left < header_bytes) {
        throw FormatError(file_name, position,
                          "cabecera de elemento incompleta: quedan " + std::to_string(left) +
                              " bytes de 12");
    }
    const std::byte* header = bytes.data() + offset;
    const std::int32_t items = load_i16(header + item_count_offset);
    const auto attributes = static_cast<std::int32_t>(header[attribute_count_offset]);
    if (items < 0) {
        throw FormatError(file_name, position,
                          "número de elementos negativo (" + std::to_string(items) + ")");
    }
    if (items == 0 && is_type(header, text_type_code)) {
        throw FormatError(file_name, position,
                          "texto sin vértice de anclaje (número de elementos 0)");
    }
    const std::int64_t length = element_length(items, attributes);
    if (length > static_cast<std::int64_t>(left)) {
        throw FormatError(file_name, position,
                          "el elemento anuncia " + std::to_string(items) + " elementos y " +
                              std::to_string(attributes) + " atributos (" + std::to_string(length) +
                              " bytes) pero el fichero termina en el byte " +
                              std::to_string(bytes.size()));
    }
    return length;
}

/// Walks the elements: one is read while the 1-based position of the next unread byte is
/// smaller than the file length, so a single stray byte at the end is no element.
template <typename Visit>
void walk_elements(std::span<const std::byte> bytes, const std::string& file_name, Visit visit) {
    std::size_t offset = 0;
    while (offset + 1 < bytes.size()) {
        read_ahead(bytes, offset);
        const std::int64_t length = checked_length(bytes, offset, file_name);
        visit(offset, length);
        offset += static_cast<std::size_t>(length);
    }
}

} // namespace

ElementTables load_elements(FileBytes bytes, std::string file_name, const StepProgress& progress,
                            LineWatch* watch) {
    ElementTables tables;
    tables.file_name = std::move(file_name);
    tables.bytes = std::move(bytes);
    const std::span<const std::byte> data = tables.bytes.span();

    // One walk checks every element's framing and fills both tables as it goes: a second walk
    // to count first would read a large mapped sheet twice. The guess makes growing rare.
    // Growing stops a watch's reading, so for a watch there is room for as many lines as the
    // sheet could hold with ends; room never touched costs no memory.
    if (watch != nullptr && !watch->starting(data, data.size() / expected_line_bytes)) {
        watch = nullptr;
    }
    if (watch != nullptr) {
        try {
            tables.lines.reserve(data.size() / shortest_line_with_ends);
        } catch (const std::bad_alloc&) {
            // No room that large to be had (a sheet near the largest): loaded unwatched.
            watch->let_go();
            watch = nullptr;
        }
    }
    if (watch == nullptr) {
        tables.lines.reserve(data.size() / expected_line_bytes);
    }
    const auto total = static_cast<std::int64_t>(data.size());
    std::int64_t told = -16 * progress_every;
    try {
        walk_elements(data, tables.file_name, [&](std::size_t offset, std::int64_t length) {
            const std::byte* header = data.data() + offset;
            if (progress && static_cast<std::int64_t>(offset) - told >= 16 * progress_every) {
                told = static_cast<std::int64_t>(offset);
                progress(told, total);
            }
            const auto position = static_cast<std::int64_t>(offset) + 1;
            const auto length32 = static_cast<std::int32_t>(length);
            if (is_type(header, line_type_code)) {
                if (watch != nullptr && tables.lines.size() == tables.lines.capacity()) {
                    watch->let_go(); // and is told nothing more
                    watch = nullptr;
                }
                tables.lines.push_back(LineRecord{position, length32});
                if (watch != nullptr && tables.lines.size() % watch_every == 0) {
                    watch->found(tables.lines.data(), tables.lines.size());
                }
            } else if (is_type(header, text_type_code)) {
                tables.texts.push_back(TextRecord{position, length32});
            }
        });
    } catch (...) {
        if (watch != nullptr) {
            watch->let_go();
        }
        throw;
    }
    if (watch != nullptr) {
        watch->found(tables.lines.data(), tables.lines.size());
    }
    return tables;
}

ElementTables load_elements(std::span<const std::byte> bytes, std::string file_name) {
    return load_elements(FileBytes(bytes), std::move(file_name));
}

FileBytes read_file(const std::filesystem::path& path) {
    const std::string name = path.string();
    // Non-blocking, so that a named pipe without a writer is refused below as no file instead
    // of keeping the run waiting for good; reads of a regular file are not affected.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        throw FileError(name + ": no se puede abrir: " + std::strerror(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        throw FileError(name + ": no se puede leer: " + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        throw FileError(name + ": no es un fichero");
    }
    if (info.st_size > LineRecord::max_file_bytes) {
        throw FileError(name + ": el fichero pasa de 1 TiB, el mayor que se puede leer");
    }
    // A large sheet is mapped rather than copied: its pages stay the file's, which the system
    // may drop and read again, so a sheet larger than memory can still be processed.
    if (info.st_size >= static_cast<off_t>(map_from_bytes)) {
        if (std::unique_ptr<MappedInput> mapped = MappedInput::map(fd, info)) {
            return FileBytes(std::move(mapped));
        }
    }
    FileBytes bytes(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FileError(name + ": no se puede leer: " + std::strerror(errno));
        }
        if (got == 0) {
            throw FileError(name + ": el fichero se ha acortado durante la lectura");
        }
        done += static_cast<std::size_t>(got);
    }
    return bytes;
}

ElementTables CargamosFichero(const std::filesystem::path& path, const StepProgress& progress,
                              LineWatch* watch) {
    return load_elements(read_file(path), path.string(), progress, watch);
}

} // namespace tarvel::digi
