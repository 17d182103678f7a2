#include "run/codes_file.hpp"

#include "common/errors.hpp"
#include "digi/loader.hpp"

namespace tarvel::run {
namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

/// Walks the fields of a codes file one at a time.
class FieldReader {
public:
    explicit FieldReader(std::string_view content) : m_text(content) {
        if (m_text.substr(0, byte_order_mark.size()) == byte_order_mark) {
            m_pos = byte_order_mark.size();
        }
    }

    /// The next field, or false at the end of the content.
    bool next(std::string& field) {
        field.clear();
        for (;;) {
            skip_blanks();
            // A line holding nothing but blanks gives no field; after a comma there is
            // always one more field, empty when the line or the content ends there.
            if (m_pos >= m_text.size()) {
                if (m_at_line_start) {
                    return false;
                }
                m_at_line_start = true;
                return true;
            }
            if (m_at_line_start && line_end_length() > 0) {
                m_pos += line_end_length();
                continue;
            }
            break;
        }
        if (m_text[m_pos] == '"') {
            read_quoted(field);
        } else {
            read_plain(field);
        }
        finish_field();
        return true;
    }

private:
    void skip_blanks() {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t')) {
            ++m_pos;
        }
    }

    /// Length of the line end at the read position: 1 for LF, 2 for CRLF, 0 otherwise.
    [[nodiscard]] std::size_t line_end_length() const {
        if (m_pos < m_text.size() && m_text[m_pos] == '\n') {
            return 1;
        }
        if (m_pos + 1 < m_text.size() && m_text[m_pos] == '\r' && m_text[m_pos + 1] == '\n') {
            return 2;
        }
        return 0;
    }

    [[nodiscard]] bool at_separator() const {
        return m_pos >= m_text.size() || m_text[m_pos] == ',' || line_end_length() > 0;
    }

    void read_plain(std::string& field) {
        const std::size_t start = m_pos;
        while (!at_separator()) {
            ++m_pos;
        }
        field.assign(m_text.substr(start, m_pos - start));
    }

    /// A quoted field runs to its closing quote, over line ends if need be. A quote that is
    /// never closed ends with its line, so that it costs one line only.
    void read_quoted(std::string& field) {
        ++m_pos;
        const std::size_t start = m_pos;
        // Past the last quote of the content no field can close: no search, so that many
        // unclosed quotes cost no more than one reading of the content.
        const std::size_t close =
            m_pos <= m_last_quote ? m_text.find('"', m_pos) : std::string_view::npos;
        if (close != std::string_view::npos) {
            m_pos = close;
        } else {
            while (m_pos < m_text.size() && line_end_length() == 0) {
                ++m_pos;
            }
        }
        field.assign(m_text.substr(start, m_pos - start));
        if (m_pos < m_text.size() && m_text[m_pos] == '"') {
            ++m_pos;
        }
        while (!at_separator()) {
            ++m_pos;
        }
    }

    /// Consumes the separator that ended the field.
    void finish_field() {
        if (m_pos >= m_text.size()) {
            m_at_line_start = true;
            return;
        }
        if (m_text[m_pos] == ',') {
            ++m_pos;
            m_at_line_start = false;
        } else {
            m_pos += line_end_length();
            m_at_line_start = true;
        }
    }

    std::string_view m_text;
    std::size_t m_last_quote = m_text.rfind('"');
    std::size_t m_pos = 0;
    bool m_at_line_start = true;
};

std::string trim_spaces(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

} // namespace

std::vector<std::string> parse_codes(std::string_view content) {
    std::vector<std::string> codes;
    FieldReader reader(content);
    std::string field;
    while (reader.next(field)) {
        codes.push_back(trim_spaces(field));
        // The second field of the pair is read and dropped; the content may end before it.
        if (!reader.next(field)) {
            break;
        }
    }
    return codes;
}

std::vector<std::string> read_codes_file(const std::filesystem::path& path) {
    digi::FileBytes bytes;
    try {
        bytes = digi::read_file(path);
    } catch (const FileError& e) {
        throw CodesFileError(std::string(e.what()) + " (fichero de códigos)");
    }
    const std::span<const std::byte> data = bytes.span();
    return parse_codes(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

const analysis::CodeSet& CodesRead::get() const {
    if (failure) {
        std::rethrow_exception(failure);
    }
    return *codes;
}

std::shared_ptr<const CodesRead> read_codes_once(const std::filesystem::path& path) {
    auto read = std::make_shared<CodesRead>();
    try {
        read->codes = std::make_shared<const analysis::CodeSet>(read_codes_file(path));
    } catch (...) {
        read->failure = std::current_exception();
    }
    return read;
}

} // namespace tarvel::run
