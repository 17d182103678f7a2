#include "tests/robustness/robustness_fixture.hpp"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "digi/writer.hpp"
#include "tests/support/digi_builder.hpp"

namespace tarvel::testing {

namespace fs = std::filesystem;

Snapshot snapshot(const fs::path& folder) {
    Snapshot snap;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(entry.path(), folder).string();
        struct stat info {};
        if (::lstat(entry.path().c_str(), &info) != 0) {
            snap[name] = "<gone>";
        } else if (S_ISREG(info.st_mode)) {
            const std::vector<std::byte> bytes = read_bytes(entry.path().string());
            snap[name] = text_of(bytes);
        } else if (S_ISDIR(info.st_mode)) {
            snap[name] = "<folder>";
        } else if (S_ISLNK(info.st_mode)) {
            snap[name] = "<link to " + fs::read_symlink(entry.path()).string() + ">";
        } else if (S_ISCHR(info.st_mode)) {
            snap[name] = "<device " + std::to_string(major(info.st_rdev)) + "," +
                         std::to_string(minor(info.st_rdev)) + ">";
        } else {
            snap[name] = "<other>";
        }
    }
    return snap;
}

std::vector<std::string> temporaries(const Snapshot& snap) {
    std::vector<std::string> found;
    for (const auto& [name, content] : snap) {
        if (fs::path(name).filename().string().rfind(".tarvel-", 0) == 0) {
            found.push_back(name);
        }
    }
    return found;
}

std::string names(const Snapshot& snap) {
    std::string text;
    for (const auto& [name, content] : snap) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

std::string text_of(const std::vector<std::byte>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::vector<std::byte> older_output() {
    return bytes_of("salida de una ejecución anterior");
}

std::vector<std::byte> joining_pair(std::int32_t y) {
    return DigiBuilder{}
        .line("RIO0001", {{0, y, 0}, {10, y, 0}})
        .line("RIO0001", {{10, y, 0}, {20, y, 0}})
        .bytes();
}

std::vector<std::byte> joined_pair_output(std::int32_t y) {
    return DigiBuilder{}.line("RIO0001", {{0, y, 0}, {10, y, 0}, {20, y, 0}}).bytes();
}

std::vector<std::byte> head_to_head_pair() {
    return DigiBuilder{}
        .line("RIO0001", {{10, 0, 7}, {0, 0, 7}})
        .line("RIO0001", {{10, 0, 7}, {20, 0, 7}})
        .line("CAM0001", {{100, 100, 0}, {110, 100, 0}})
        .bytes();
}

std::vector<std::byte> head_to_head_errors(std::int32_t unit_factor) {
    const std::int32_t h = unit_factor == 1 ? 2 : (unit_factor == 100 ? 150 : 1500);
    digi::ElementHeader header;
    header.type_code = digi::text_type_code;
    header.feature_code = {'E', 'R', 'R', 'O', 'R', '\0', '\0'};
    header.attribute_count = 0;
    header.item_count = 2;
    digi::ElementBlock block;
    block.values = {10, 0, 0, 10 + 6 * h, h, 0, h, 0, 0};
    const digi::TextPiece piece{'N', 'o', 'S', 'e', 'n', 't', '\0', ' ', ' ', ' ', ' ', ' '};
    digi::MemorySink sink;
    digi::write_text(sink, header, block, {10, 0, 7}, std::span(&piece, 1), {});
    return sink.bytes();
}

void RobustnessTest::put(const std::string& name, const std::vector<std::byte>& bytes) const {
    write_bytes(path(name), bytes);
}

void RobustnessTest::put_text(const std::string& name, const std::string& text) const {
    write_bytes(path(name), bytes_of(text));
}

std::vector<std::byte> RobustnessTest::get(const std::string& name) const {
    return read_bytes(path(name));
}

void RobustnessTest::open_folder_to_everyone() const {
    fs::permissions(folder.path(), fs::perms::all, fs::perm_options::replace);
}

::testing::AssertionResult Contains(const std::string& text, const std::string& piece) {
    if (text.find(piece) != std::string::npos) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "\"" << piece << "\" is not in:\n" << text;
}

} // namespace tarvel::testing
