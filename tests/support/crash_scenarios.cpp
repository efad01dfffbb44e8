#include "crash_scenarios.h"

#include "engine/begin.h"
#include "engine/journal.h"
#include "engine/owned_paths.h"
#include "engine/recovery_journal.h"

#include <algorithm>
#include <stdexcept>

namespace {

using installer_helper::JournalStage;

const std::string directory(legacy_directory);
const std::string recovery = directory + "\\.quillmora-migration";

std::string binary_path(std::string_view binary) { return directory + "\\" + std::string(binary); }

void lay_out_binaries(sim::Machine& machine, const Scenario& scenario) {
    for (const std::string_view binary : installer_helper::LAUNCHER_BINARIES) {
        const bool kept = scenario.binaries == Binaries::all ||
                          (scenario.binaries == Binaries::client_services_only &&
                           binary == "QuillmoraClientServices.exe");
        sim::Node* node = machine.files.find(binary_path(binary));
        if (!kept) {
            machine.files.remove_child(*machine.files.find(directory), *node);
            continue;
        }
        if (scenario.binary_bytes) {
            node->data.resize(*scenario.binary_bytes);
            for (std::size_t i = 0; i < node->data.size(); ++i)
                node->data[i] = static_cast<std::uint8_t>((i * 31 + binary.size()) % 251);
        }
    }
}

void make_read_only(sim::Machine& machine) {
    for (const std::string_view binary : installer_helper::LAUNCHER_BINARIES)
        if (sim::Node* node = machine.files.find(binary_path(binary)))
            node->attributes |= win::FILE_ATTRIBUTE_READONLY;
    for (const std::string_view owned : installer_helper::OWNED_FILES) {
        std::string relative(owned);
        std::replace(relative.begin(), relative.end(), '/', '\\');
        machine.files.find(directory + "\\" + relative)->attributes |= win::FILE_ATTRIBUTE_READONLY;
    }
    machine.files.find(directory + "\\locales\\sub\\b.dat")->attributes |=
        win::FILE_ATTRIBUTE_READONLY;
}

void lay_out_registration(sim::Machine& machine, const Scenario& scenario) {
    // A name whose letter case the restore must keep.
    machine.registry.set_value(HKU, player_key(launcher_registration), "iNsTaLl PaTh",
                               installer_helper::REG_SZ, string_bytes("C:\\Games\\Quillmora"));
    if (scenario.registration != Registration::full)
        machine.registry.remove_key(HKU, player_key(uninstall_registration));
    if (scenario.registration == Registration::none)
        machine.registry.remove_key(HKU, player_key(launcher_registration));
    if (!scenario.legacy_here)
        machine.registry.set_value(HKU, player_key(legacy_registration), "InstallLocation",
                                   installer_helper::REG_SZ,
                                   string_bytes("D:\\Elsewhere\\Quillmora\\"));
}

installer_helper::MigrationTarget target() {
    return installer_helper::open_migration_target(legacy_directory, legacy_context()).value();
}

void begin(sim::Machine&) {
    const auto begun = installer_helper::begin_migration(legacy_directory, legacy_context());
    if (!begun) throw std::runtime_error("scenario: begin failed: " + begun.error().message());
}

void rewrite_stage(JournalStage stage) {
    const auto migration = target();
    auto journal = installer_helper::read_recovery_state(migration).value().value();
    journal.stage = stage;
    if (!installer_helper::write_journal(migration, journal))
        throw std::runtime_error("scenario: the journal could not be rewritten");
}

void leave(sim::Machine& machine, Leftover leftover) {
    switch (leftover) {
        case Leftover::none: return;
        case Leftover::backing_up:
            begin(machine);
            rewrite_stage(JournalStage::BackingUp);
            return;
        case Leftover::prepared:
            begin(machine);
            make_setup_changes(machine);
            return;
        case Leftover::committed:
            begin(machine);
            make_setup_changes(machine);
            rewrite_stage(JournalStage::Committed);
            return;
        case Leftover::rolled_back:
            begin(machine);  // no changes since: the restore is complete
            rewrite_stage(JournalStage::RolledBack);
            return;
        case Leftover::prepared_with_journal_new: {
            begin(machine);
            make_setup_changes(machine);
            // The commit's rewrite, complete and flushed but never renamed.
            const std::string prepared = machine.files.contents(recovery + "\\journal.json");
            rewrite_stage(JournalStage::Committed);
            const std::string committed_document = machine.files.contents(recovery + "\\journal.json");
            machine.files.find(recovery + "\\journal.json")->data.assign(prepared.begin(),
                                                                         prepared.end());
            machine.files.add_file(recovery + "\\journal.new", committed_document);
            return;
        }
        case Leftover::prepared_with_restore_new: {
            begin(machine);
            make_setup_changes(machine);
            const std::string backup = machine.files.contents(recovery + "\\Quillmora Launcher.exe");
            machine.files.add_file(recovery + "\\restore.new", backup.substr(0, backup.size() / 2));
            return;
        }
        case Leftover::torn_first_journal: {
            begin(machine);
            const std::string document = machine.files.contents(recovery + "\\journal.json");
            for (const std::string& name : machine.files.list(recovery))
                machine.files.remove_child(*machine.files.find(recovery),
                                           *machine.files.find(recovery + "\\" + name));
            machine.files.add_file(recovery + "\\journal.new", document.substr(0, document.size() / 3));
            return;
        }
    }
}

}  // namespace

const std::vector<Scenario>& crash_scenarios() {
    static const std::vector<Scenario> scenarios{
        {.name = "full installation"},
        {.name = "only Client Services, one key",
         .binaries = Binaries::client_services_only,
         .registration = Registration::launcher_key_only},
        {.name = "no binaries, no keys, older registration elsewhere",
         .binaries = Binaries::none,
         .registration = Registration::none,
         .legacy_here = false},
        {.name = "read-only files", .read_only = true},
        {.name = "empty binaries", .binary_bytes = 0},
        {.name = "binaries of one copy buffer", .binary_bytes = 8192},
        {.name = "binaries over one copy buffer, earlier begin cut off",
         .binary_bytes = 20'000,
         .leftover = Leftover::backing_up},
        {.name = "earlier begin prepared", .leftover = Leftover::prepared},
        {.name = "earlier commit cut off", .leftover = Leftover::committed},
        {.name = "earlier rollback cut off", .leftover = Leftover::rolled_back},
        {.name = "stale journal.new", .leftover = Leftover::prepared_with_journal_new},
        {.name = "stale restore.new", .read_only = true, .leftover = Leftover::prepared_with_restore_new},
        {.name = "torn first journal", .leftover = Leftover::torn_first_journal},
    };
    return scenarios;
}

void lay_out(sim::Machine& machine, const Scenario& scenario) {
    install_legacy(machine);
    lay_out_binaries(machine, scenario);
    if (scenario.read_only) make_read_only(machine);
    lay_out_registration(machine, scenario);
    machine.files.make_all_durable();
    leave(machine, scenario.leftover);
    machine.files.make_all_durable();
}

void make_setup_changes(sim::Machine& machine) {
    const auto write = [&](std::string_view binary, std::string_view bytes) {
        sim::Node* node = machine.files.find(binary_path(binary));
        if (node == nullptr) node = &machine.files.add_file(binary_path(binary));
        node->data.assign(bytes.begin(), bytes.end());
        node->durable = node->data;
    };
    write("Quillmora Launcher.exe", "the new launcher");
    if (!machine.files.exists(binary_path("QuillmoraClientServices.exe")))
        write("QuillmoraClientServices.exe", "the new Client Services");
    if (sim::Node* uninstaller = machine.files.find(binary_path("uninstall.exe")))
        machine.files.remove_child(*machine.files.find(directory), *uninstaller);
    machine.registry.set_value(HKU, player_key(launcher_registration), "Added",
                               installer_helper::REG_DWORD, dword_bytes(7));
    machine.registry.set_value(HKU, player_key(launcher_registration), "Icon",
                               installer_helper::REG_BINARY, {9});
    machine.files.make_all_durable();
}

MachineState committed(const MachineState& state, bool legacy_here) {
    MachineState after;
    for (const auto& [entry, content] : state)
        if (!is_owned(entry) && !(legacy_here && is_legacy_registration(entry)))
            after[entry] = content;
    return after;
}
