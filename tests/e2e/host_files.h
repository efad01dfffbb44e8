// Whole-file reads and writes on the host side, bytes as they are.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace e2e {

// The file's bytes; empty when it does not exist.
std::string read_host_file(const std::filesystem::path& path);

// Creates missing parent directories, then replaces the file's content.
void write_host_file(const std::filesystem::path& path, std::string_view bytes);

}  // namespace e2e
