// tarvel-generate: writes a generated DIGI sheet, and optionally its codes file, for
// benchmarks, manual runs and the sample files in examples/.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tests/support/generator.hpp"

namespace {

constexpr std::string_view usage =
    "usage: tarvel-generate [--kind small|large] [--seed N] [--lines N] --out FILE\n"
    "                       [--codes-out FILE]\n"
    "  --kind small   an adversarial sheet (all the ways line ends meet; --lines is its\n"
    "                 target line count, reached shape by shape, so it may end a little above)\n"
    "  --kind large   a realistic sheet with exactly --lines lines (default)\n"
    "  --seed N       the same seed gives the same bytes (default 1)\n"
    "  --lines N      default: 1 to 40, drawn from the seed, for small; 1000000 for large\n"
    "  --out FILE     the DIGI sheet to write\n"
    "  --codes-out F  a codes file (*.CFG) listing the sheet's codes with direction\n";

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

class FileSink final : public tarvel::digi::ByteSink {
public:
    explicit FileSink(std::FILE* file) : m_file(file) {}
    void write(std::span<const std::byte> bytes) override {
        if (std::fwrite(bytes.data(), 1, bytes.size(), m_file) != bytes.size()) {
            throw std::runtime_error(std::string("write failed: ") + std::strerror(errno));
        }
    }

private:
    std::FILE* m_file;
};

File open_for_writing(const std::string& path) {
    File f(std::fopen(path.c_str(), "wb"));
    if (!f) {
        throw std::runtime_error(path + ": cannot create: " + std::strerror(errno));
    }
    return f;
}

void close_checked(File f, const std::string& path) {
    if (std::fclose(f.release()) != 0) {
        throw std::runtime_error(path + ": cannot write: " + std::strerror(errno));
    }
}

std::int64_t parse_number(std::string_view option, std::string_view text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < 0) {
        throw std::invalid_argument(std::string(option) + ": not a number: " + std::string(text));
    }
    return value;
}

struct Options {
    std::string kind = "large";
    std::uint64_t seed = 1;
    std::int64_t lines = -1;
    std::string out;
    std::string codes_out;
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << usage;
            std::exit(0);
        }
        if (i + 1 >= argc) {
            throw std::invalid_argument(std::string(arg) + ": needs a value");
        }
        const std::string_view value = argv[++i];
        if (arg == "--kind") {
            if (value != "small" && value != "large") {
                throw std::invalid_argument("--kind: small or large, not " + std::string(value));
            }
            o.kind = value;
        } else if (arg == "--seed") {
            o.seed = static_cast<std::uint64_t>(parse_number(arg, value));
        } else if (arg == "--lines") {
            o.lines = parse_number(arg, value);
        } else if (arg == "--out") {
            o.out = value;
        } else if (arg == "--codes-out") {
            o.codes_out = value;
        } else {
            throw std::invalid_argument("unknown option " + std::string(arg));
        }
    }
    if (o.out.empty()) {
        throw std::invalid_argument("--out is required");
    }
    return o;
}

int run(const Options& o) {
    using namespace tarvel::testing;
    std::vector<std::string> direction_codes;
    File out = open_for_writing(o.out);
    FileSink sink(out.get());
    if (o.kind == "small") {
        SmallSheetOptions options;
        if (o.lines >= 0) {
            options.min_lines = static_cast<int>(std::min<std::int64_t>(o.lines, 1'000'000));
            options.max_lines = options.min_lines;
        }
        const SmallSheet sheet = generate_small_sheet(o.seed, options);
        sink.write(sheet.bytes);
        direction_codes = sheet.direction_codes;
        std::cout << o.out << ": " << sheet.lines << " lines, " << sheet.texts << " texts, "
                  << sheet.other_elements << " other elements, " << sheet.bytes.size()
                  << " bytes\n";
    } else {
        LargeSheetOptions options;
        if (o.lines >= 0) {
            options.lines = o.lines;
        }
        const LargeSheetStats stats = write_large_sheet(o.seed, options, sink);
        direction_codes = large_sheet_direction_codes();
        std::cout << o.out << ": " << stats.lines << " lines, " << stats.texts << " texts, "
                  << stats.bytes << " bytes\n";
    }
    close_checked(std::move(out), o.out);
    if (!o.codes_out.empty()) {
        File codes = open_for_writing(o.codes_out);
        const std::string text = codes_file_content(direction_codes);
        if (std::fwrite(text.data(), 1, text.size(), codes.get()) != text.size()) {
            throw std::runtime_error(o.codes_out + ": cannot write");
        }
        close_checked(std::move(codes), o.codes_out);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = parse(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "tarvel-generate: " << e.what() << '\n' << usage;
        return 2;
    }
    try {
        return run(options);
    } catch (const std::exception& e) {
        std::cerr << "tarvel-generate: " << e.what() << '\n';
        return 1;
    }
}
