// Whole-file reads and writes through the seam, with I/O errors that render
// as "{description} (os error {code})".
#pragma once

#include "platform/win_api.h"

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace installer_helper {

struct IoError {
    std::optional<win::DWORD> code;  // absent for errors of the I/O layer itself
    std::string description;         // used when there is no code
    std::string text() const;
    static IoError last_windows_error();
};

template <typename T = void>
using IoResult = std::expected<T, IoError>;

// The size of the file at `path` (links followed).
IoResult<std::uint64_t> file_size(std::string_view path);

// At most `limit` bytes from the start of the file, opened for reading and
// shared for reading, writing and deleting.
IoResult<std::string> read_file_prefix(std::string_view path, std::size_t limit);

// All of the bytes through an open handle, however many calls that takes.
IoResult<> write_all(win::HANDLE file, std::string_view bytes);

// Creates or truncates the file and writes all bytes: no temporary file and
// no flush.
IoResult<> write_whole_file(std::string_view path, std::string_view bytes);

}  // namespace installer_helper
