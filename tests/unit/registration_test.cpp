#include "windows/registry/registration.h"

#include "registry_scenario.h"
#include "simulated_test.h"

#include <gtest/gtest.h>

using namespace installer_helper;

namespace installer_helper {
// Readable failures: the key, whether it exists, and each value's name and size.
void PrintTo(const RegistrySnapshot& snapshot, std::ostream* out) {
    *out << snapshot.key << (snapshot.exists ? " {" : " (absent) {");
    for (const RegistryValue& value : snapshot.values)
        *out << " \"" << value.name << "\": " << value.kind << "/" << value.data.size();
    *out << " }";
}
}  // namespace installer_helper

namespace {

constexpr std::string_view launcher_key = REGISTRATION_KEYS[0];
constexpr std::string_view uninstall_key = REGISTRATION_KEYS[1];
constexpr const char* bad_snapshot = "Invalid registration recovery snapshot.";
constexpr const char* bad_value = "Invalid registration recovery value.";
constexpr std::size_t largest = 0x100000;

template <typename T>
std::string error_of(const Result<T>& result) {
    return result ? "(success)" : result.error().message();
}

RegistryValue sz(std::string name, std::string_view text) {
    return {std::move(name), REG_SZ, string_bytes(text)};
}

// Both keys present, or the launcher's key alone.
std::vector<RegistrySnapshot> snapshots(std::vector<RegistryValue> launcher,
                                        std::vector<RegistryValue> uninstall,
                                        bool uninstall_exists = true) {
    return {{std::string(launcher_key), true, std::move(launcher)},
            {std::string(uninstall_key), uninstall_exists, std::move(uninstall)}};
}

std::vector<RegistrySnapshot> absent_registration() {
    return {{std::string(launcher_key), false, {}}, {std::string(uninstall_key), false, {}}};
}

// Scenarios below one scope's root: HKEY_LOCAL_MACHINE or the player's hive.
class RegistrationTest : public SimulatedTest {
protected:
    RegistryScope scope = RegistryScope::Machine;

    // Both hives hold a Software key, as on Windows: keys below it can be
    // created, the hive itself cannot.
    void SetUp() override {
        machine.registry.add_key(HKLM, "Software");
        machine.registry.add_key(HKU, std::string(player_sid) + "\\Software");
    }
    // Everything below Software goes, in the current scope.
    void reset() {
        for (const std::string& child : machine.registry.subkey_names(root(), full("Software")))
            machine.registry.remove_key(root(), full("Software\\" + child));
    }
    win::HKEY root() const { return scope == RegistryScope::Machine ? HKLM : HKU; }
    std::string full(std::string_view path) const {
        return scope == RegistryScope::Machine ? std::string(path)
                                               : std::string(player_sid) + "\\" + std::string(path);
    }
    void put(std::string_view key, const RegistryValue& value) {
        machine.registry.set_value(root(), full(key), value.name, value.kind, value.data);
    }
    void put_all(const std::vector<RegistrySnapshot>& list) {
        for (const RegistrySnapshot& snapshot : list) {
            if (snapshot.exists) machine.registry.add_key(root(), full(snapshot.key));
            for (const RegistryValue& value : snapshot.values) put(snapshot.key, value);
        }
    }
    Result<std::vector<RegistrySnapshot>> capture() {
        return capture_registration(scope, player_sid);
    }
    std::string restore(const std::vector<RegistrySnapshot>& list) {
        return error_of(restore_registration(scope, player_sid, list));
    }
};

TEST_F(RegistrationTest, CapturesBothKeysInEnumerationOrder) {
    EXPECT_EQ(capture().value(), absent_registration());
    const auto registered =
        snapshots({sz("", "Quillmora"), {"Version", REG_DWORD, dword_bytes(7)}},
                  {sz("DisplayName", "Quillmora Launcher")});
    put_all(registered);
    EXPECT_EQ(capture().value(), registered);
    scope = RegistryScope::User;  // the machine's registration is not the player's
    EXPECT_EQ(capture().value(), absent_registration());
    put_all(registered);
    EXPECT_EQ(capture().value(), registered);
}

TEST_F(RegistrationTest, CaptureRefusesWhatCouldNotBeRestored) {
    struct Case {
        const char* why;
        std::function<void()> arrange;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"REG_NONE", [&] { put(launcher_key, {"None", 0, {}}); },
         "Unsupported or malformed launcher registry value."},
        {"subkey", [&] { machine.registry.add_key(HKLM, std::string(launcher_key) + "\\Sub"); },
         "Unexpected subkeys in launcher registration."},
        {"link",
         [&] { machine.registry.add_link(HKLM, uninstall_key, "\\Registry\\Machine\\Software"); },
         "A registry symbolic link is not allowed."},
        // Names that the registry keeps apart, but that are one name here.
        {"ß and ẞ", [&] {
             put(uninstall_key, sz("ß", "1"));
             put(uninstall_key, sz("ẞ", "2"));
         }, bad_value},
        {"data over both keys", [&] {
             put(launcher_key, {"Half", REG_BINARY, sim::Bytes(largest / 2)});
             put(uninstall_key, {"Half", REG_BINARY, sim::Bytes(largest / 2 + 1)});
         }, bad_value},
    };
    for (const Case& c : cases) {
        reset();
        c.arrange();
        EXPECT_EQ(error_of(capture()), c.error) << c.why;
    }
}

TEST_F(RegistrationTest, ValidationChecksKeysAndValues) {
    const auto large = [](std::size_t bytes) {
        return RegistryValue{"Data", REG_BINARY, sim::Bytes(bytes)};
    };
    auto swapped = absent_registration();
    std::swap(swapped[0], swapped[1]);
    auto other_case = absent_registration();
    other_case[0].key = "Software\\Quillmora\\Quillmora launcher";
    auto three = absent_registration();
    three.push_back(three[1]);
    struct Case {
        const char* why;
        std::vector<RegistrySnapshot> list;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"absent keys", absent_registration(), "(success)"},
        {"no snapshots", {}, bad_snapshot},
        {"one snapshot", {absent_registration()[0]}, bad_snapshot},
        {"three snapshots", three, bad_snapshot},
        {"swapped keys", swapped, bad_snapshot},
        {"key in other letter case", other_case, bad_snapshot},
        {"value of an absent key", snapshots({}, {sz("A", "a")}, false), bad_snapshot},
        {"data at the limit", snapshots({large(largest - 10)}, {large(10)}), "(success)"},
        {"data over the limit", snapshots({large(largest - 10)}, {large(11)}), bad_value},
        {"same name in both keys", snapshots({sz("Name", "1")}, {sz("Name", "2")}), "(success)"},
        {"names differing in case", snapshots({sz("Name", "1"), sz("NAME", "2")}, {}), bad_value},
        {"final sigma", snapshots({}, {sz("ΣΑΣ", "1"), sz("σας", "2")}), bad_value},
        {"other sigma", snapshots({}, {sz("ΣΑΣ", "1"), sz("σασ", "2")}), "(success)"},
        {"name with NUL", snapshots({sz(std::string("a\0b", 3), "1")}, {}), bad_value},
        {"longest name", snapshots({sz(std::string(0x3FFF, 'n'), "1")}, {}), "(success)"},
        {"name too long", snapshots({sz(std::string(0x3FFE, 'n') + "\U00010400", "1")}, {}),
         bad_value},
        {"REG_NONE", snapshots({{"None", 0, {}}}, {}), bad_value},
        {"short DWORD", snapshots({{"Flag", REG_DWORD, {1, 0, 0}}}, {}), bad_value},
        {"unterminated string", snapshots({{"Text", REG_SZ, {'a', 0}}}, {}), bad_value},
        {"empty binary", snapshots({{"Empty", REG_BINARY, {}}}, {}), "(success)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of(validate_registration(c.list)), c.error) << c.why;
}

TEST_F(RegistrationTest, RestoreRemovesKeysThatDidNotExist) {
    EXPECT_EQ(restore(absent_registration()), "(success)");
    put_all(snapshots({sz("Created", "later")}, {}));
    EXPECT_EQ(restore(absent_registration()), "(success)");
    EXPECT_FALSE(machine.registry.exists(HKLM, launcher_key));
    EXPECT_FALSE(machine.registry.exists(HKLM, uninstall_key));
    EXPECT_TRUE(machine.registry.exists(HKLM, "Software\\Quillmora"));  // only the leaf goes
}

TEST_F(RegistrationTest, RestorePutsBackExactlyTheCapturedValuesDurably) {
    scope = RegistryScope::User;
    const auto captured =
        snapshots({sz("", "Quillmora"), {"Size", REG_QWORD, sim::Bytes(8, 9)}},
                  {{"Same", REG_BINARY, {1}}, sz("DisplayName", "Quillmora Launcher")});
    put_all(snapshots({sz("Extra", "x"), sz("SIZE", "now text")},
                      {{"Same", REG_BINARY, {1}}, sz("Another", "y")}));
    EXPECT_EQ(restore(captured), "(success)");
    machine.restart(sim::Machine::Restart::power_loss);
    // The value whose name differs only in letter case was overwritten in
    // place, so it keeps the name it has; every other one is as captured.
    const std::string launcher = full(launcher_key);
    EXPECT_EQ(machine.registry.value_names(HKU, launcher), (std::vector<std::string>{"SIZE", ""}));
    EXPECT_EQ(machine.registry.value(HKU, launcher, "Size")->data, sim::Bytes(8, 9));
    EXPECT_EQ(machine.registry.value(HKU, launcher, "Size")->type, REG_QWORD);
    EXPECT_EQ(capture().value()[1], captured[1]);
    EXPECT_EQ(machine.faults.calls("RegDeleteValueW"), 2);
    EXPECT_EQ(machine.faults.calls("RegSetValueExW"), 4);  // also the value that was already equal
}

TEST_F(RegistrationTest, RestoreCreatesAKeyThatWasRemoved) {
    const auto captured = snapshots({sz("", "Quillmora")}, {}, false);
    EXPECT_EQ(restore(captured), "(success)");
    machine.restart(sim::Machine::Restart::power_loss);
    EXPECT_EQ(capture().value(), captured);
}

TEST_F(RegistrationTest, RestoreChangesNothingUnlessEverythingPassesItsChecks) {
    put_all(snapshots({sz("Extra", "x")}, {sz("Extra", "y")}));
    machine.registry.add_key(HKLM, std::string(uninstall_key) + "\\Sub");
    EXPECT_EQ(restore(snapshots({}, {})), "Unexpected subkeys in launcher registration.");
    EXPECT_EQ(restore(snapshots({}, {sz("A", "1"), sz("a", "2")})), bad_value);
    EXPECT_EQ(machine.faults.calls("RegDeleteValueW") + machine.faults.calls("RegSetValueExW"), 0);
    EXPECT_EQ(machine.registry.value_names(HKLM, launcher_key), std::vector<std::string>{"Extra"});
}

TEST_F(RegistrationTest, FailedRestoreCallsNameTheirOperationAndARerunFinishes) {
    const auto captured = snapshots({sz("Kept", "1")}, {sz("Kept", "2")});
    const struct {
        const char* function;
        const char* error;
    } cases[] = {
        {"RegDeleteValueW", "Registry value removal failed (Windows error 5)."},
        {"RegSetValueExW", "Registry value restore failed (Windows error 5)."},
        {"RegFlushKey", "Registry restore flush failed (Windows error 5)."},
        {"RegCreateKeyExW", "Registry key open failed (Windows error 5)."},
    };
    for (const auto& c : cases) {
        reset();
        put_all(snapshots({sz("Extra", "x")}, {}, false));
        machine.faults.fail_nth(c.function, 1, win::ERROR_ACCESS_DENIED);
        EXPECT_EQ(restore(captured), c.error) << c.function;
        EXPECT_EQ(restore(captured), "(success)") << c.function;
        EXPECT_EQ(capture().value(), captured) << c.function;
    }
}

TEST_F(RegistrationTest, AKeyThatCannotBeCreatedFailsTheRestore) {
    machine.faults.fail_nth("RegCreateKeyExW", 1, win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(restore(snapshots({}, {}, false)), "Cannot create launcher registration.");
}

class LegacyRegistrationTest : public RegistrationTest {
protected:
    static constexpr const char* legacy_key = "Software\\3b9e2c41-7d05-5a18-9c6e-d41f80a2b7c3";
    static constexpr const char* legacy_uninstall =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
        "3b9e2c41-7d05-5a18-9c6e-d41f80a2b7c3";
    static constexpr const char* directory = "C:\\Games\\Quillmora";

    void register_legacy(const RegistryValue& location) {
        put(legacy_key, location);
        put(legacy_uninstall, sz("DisplayName", "Quillmora"));
    }
    std::string remove() {
        return error_of(remove_legacy_registration(scope, player_sid, directory));
    }
    bool legacy_present() {
        return machine.registry.exists(root(), full(legacy_key)) &&
               machine.registry.exists(root(), full(legacy_uninstall));
    }
};

TEST_F(LegacyRegistrationTest, RemovesOnlyTheRegistrationOfThisDirectory) {
    const struct {
        RegistryValue location;
        const char* error;
        bool removed;
    } cases[] = {
        {sz("InstallLocation", "C:\\Games\\Quillmora"), "(success)", true},
        {sz("installlocation", "c:\\GAMES\\quillmora\\"), "(success)", true},
        {sz("InstallLocation", "C:\\Games\\Other"), "(success)", false},
        {sz("InstallLocation", ""), "(success)", false},
        {sz("Other", "C:\\Games\\Quillmora"), "(success)", false},
        {sz("InstallLocation", "Games\\Quillmora"),
         "The installation path must be an absolute local path.", false},
        {{"InstallLocation", REG_DWORD, dword_bytes(1)}, "Expected a registry string.", false},
    };
    for (const auto& c : cases) {
        for (const RegistryScope each : {RegistryScope::Machine, RegistryScope::User}) {
            scope = each;
            register_legacy(c.location);
            EXPECT_EQ(remove(), c.error) << c.location.name;
            EXPECT_EQ(legacy_present(), !c.removed) << c.location.name;
            reset();
        }
    }
    EXPECT_EQ(remove(), "(success)");  // nothing registered
}

TEST_F(LegacyRegistrationTest, ChecksBothKeysBeforeDeletingEither) {
    register_legacy(sz("InstallLocation", directory));
    machine.registry.add_key(HKLM, std::string(legacy_uninstall) + "\\Sub");
    EXPECT_EQ(remove(), "Unexpected subkeys in launcher registration.");
    machine.registry.remove_key(HKLM, std::string(legacy_uninstall) + "\\Sub");
    put(legacy_key, {"Broken", REG_DWORD, {1}});
    EXPECT_EQ(remove(), "Unsupported or malformed launcher registry value.");
    EXPECT_EQ(machine.faults.calls("RegDeleteKeyExW"), 0);
    EXPECT_TRUE(legacy_present());
}

TEST_F(LegacyRegistrationTest, AMissingUninstallEntryLeavesTheKeyToRemove) {
    put(legacy_key, sz("InstallLocation", directory));
    EXPECT_EQ(remove(), "(success)");
    EXPECT_FALSE(machine.registry.exists(HKLM, legacy_key));
}

}  // namespace
