// The file steps that the journal writer and the backup copies share. Each
// failure carries the I/O error text of the call that failed, for the
// caller's own message.
#pragma once

#include "windows/file_io.h"
#include "windows/handles.h"

#include <cstddef>
#include <string_view>

namespace installer_helper {

// Opens an existing file for reading, sharing read, write and delete so
// that no other program is blocked.
IoResult<FileHandle> open_for_reading(std::string_view path);

// Creates a file that must not exist yet, for writing only, with the same
// sharing.
IoResult<FileHandle> create_new_file(std::string_view path);

// Up to `size` bytes; 0 only at the end of the file.
IoResult<std::size_t> read_some(const FileHandle& file, void* buffer, std::size_t size);

// All of the bytes, however many calls that takes.
IoResult<> write_all(const FileHandle& file, std::string_view bytes);

// Everything written so far, on the disk.
IoResult<> flush_to_disk(const FileHandle& file);

}  // namespace installer_helper
