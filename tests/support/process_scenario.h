// Launcher processes on the simulated machine, for the process tests.
#pragma once

#include "platform/simulated/machine.h"
#include "text_encoding.h"

#include <string>
#include <string_view>

inline constexpr std::string_view installation = "C:\\Games\\Quillmora";
inline constexpr std::string_view elsewhere = "D:\\Other\\Quillmora";

inline std::string launcher_in(std::string_view directory) {
    return std::string(directory) + "\\Quillmora Launcher.exe";
}
inline std::string client_services_in(std::string_view directory) {
    return std::string(directory) + "\\QuillmoraClientServices.exe";
}
inline std::string resources_client_services_in(std::string_view directory) {
    return std::string(directory) + "\\resources\\QuillmoraClientServices.exe";
}

// A running process of the helper's own account; its executable is put on disk.
inline sim::Process& start_program(sim::Machine& machine, std::string_view image_path) {
    if (!machine.files.exists(image_path)) machine.files.add_file(image_path, "MZ");
    return machine.processes.start(image_path);
}
