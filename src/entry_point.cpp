#include "entry_point.h"

#include "actions.h"
#include "command_line.h"
#include "outcome.h"
#include "platform/win_api.h"

namespace installer_helper {

int run_entry_point() {
    const std::vector<std::u16string> arguments = split_command_line(win::GetCommandLineW());
    const auto parsed = parse_arguments(arguments);
    if (!parsed) return finish(std::unexpected(parsed.error()));
    return finish(run_action(*parsed));
}

}  // namespace installer_helper
