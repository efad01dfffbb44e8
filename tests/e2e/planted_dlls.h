// Planted DLLs: copies of the planted-dll.dll test tool under other
// libraries' names in one folder. A copy that is loaded writes its file name
// to a marker file in that folder and refuses to load.
#pragma once

#include "wine_session.h"

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

class WineTest;

// planted-dll.dll as each of `names` in `folder` (a Windows path on C:, made
// when missing).
void plant_dlls(std::string_view folder, std::span<const std::string_view> names);

// The names of the copies in `folder` that were loaded, one a line, in the
// order they were loaded.
std::string loaded_planted_dlls(std::string_view folder);

// A copy of `program` (a host path) in `folder`, run with these arguments.
RunResult run_copy_in(WineTest& test, std::string_view folder, const std::filesystem::path& program,
                      const std::vector<std::string>& arguments, const RunOptions& options = {});

}  // namespace e2e
