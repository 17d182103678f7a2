// The errors Tarvel reports. Every message is one line and names the file first;
// a DIGI format error also carries the 1-based byte position of the bad element.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tarvel {

/// Base of every error the core throws.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// A DIGI file that is not well formed. `what()` reads "FILE: byte N: DETAIL".
class FormatError : public Error {
public:
    FormatError(std::string file, std::int64_t byte_position, const std::string& detail);

    [[nodiscard]] const std::string& file() const noexcept { return m_file; }
    /// 1-based position of the first byte of the bad element.
    [[nodiscard]] std::int64_t byte_position() const noexcept { return m_byte_position; }

private:
    std::string m_file;
    std::int64_t m_byte_position;
};

/// A file that cannot be opened, read or written. `what()` names the file and the reason.
class FileError : public Error {
public:
    using Error::Error;
};

/// A codes file that cannot be read.
class CodesFileError : public Error {
public:
    using Error::Error;
};

/// A run that must not start: it would write over a file it reads, or lacks its input.
class RunRefused : public Error {
public:
    using Error::Error;
};

/// A run stopped because the user asked it to: what it was writing is abandoned.
class Cancelled : public Error {
public:
    Cancelled() : Error("cancelado") {}
};

} // namespace tarvel
