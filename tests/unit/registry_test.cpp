#include "windows/registry/registry.h"

#include "registry_scenario.h"
#include "simulated_test.h"

#include <gtest/gtest.h>

using installer_helper::check_launcher_value;
using installer_helper::enumerate_registry_values;
using installer_helper::open_key_path;
using installer_helper::open_scoped_key;
using installer_helper::read_registry_dword;
using installer_helper::read_registry_string;
using installer_helper::read_registry_value;
using installer_helper::registry_error;
using installer_helper::RegistryScope;
using installer_helper::RegistryValue;
using installer_helper::remove_registry_key;
using installer_helper::Result;
using installer_helper::to_registry_name;

namespace {

constexpr const char* launcher_key = "Software\\Quillmora\\Quillmora Launcher";
constexpr const char* invalid_path = "Invalid registry path.";
constexpr const char* link_refused = "A registry symbolic link is not allowed.";
constexpr const char* malformed = "Unsupported or malformed launcher registry value.";
constexpr std::size_t largest = 0x100000;

template <typename T>
std::string error_of(const Result<T>& result) {
    return result ? "(success)" : result.error().message();
}

class RegistryTest : public SimulatedTest {
protected:
    // "present", "absent" or the error, for a read-only open without create.
    std::string open_outcome(RegistryScope scope, std::string_view sid, std::string_view path,
                             bool writable = false, bool create = false) {
        const auto key = open_scoped_key(scope, sid, path, writable, create);
        if (!key) return key.error().message();
        return *key ? "present" : "absent";
    }
    std::string open_machine(std::string_view path, bool writable = false, bool create = false) {
        return open_outcome(RegistryScope::Machine, {}, path, writable, create);
    }

    Result<std::optional<RegistryValue>> read_value(std::string_view name,
                                                    std::string_view path = launcher_key) {
        auto key = open_scoped_key(RegistryScope::Machine, {}, path, false, false);
        EXPECT_TRUE(key && *key) << error_of(key);
        return read_registry_value((*key)->get(), name);
    }
    Result<std::vector<RegistryValue>> enumerate(std::string_view path = launcher_key) {
        auto key = open_scoped_key(RegistryScope::Machine, {}, path, false, false);
        EXPECT_TRUE(key && *key) << error_of(key);
        return enumerate_registry_values((*key)->get());
    }
    Result<std::optional<std::string>> read_string(const sim::Bytes& data,
                                                   win::DWORD kind = installer_helper::REG_SZ) {
        machine.registry.set_value(HKLM, launcher_key, "Value", kind, data);
        return read_registry_string(RegistryScope::Machine, {}, launcher_key, "Value");
    }
};

TEST_F(RegistryTest, ErrorSentenceCarriesTheWordAndTheStatusInDecimal) {
    EXPECT_TRUE(registry_error("key open", 0));
    EXPECT_EQ(error_of(registry_error("key open", 5)),
              "Registry key open failed (Windows error 5).");
    EXPECT_EQ(error_of(registry_error("restore flush", 0xC000009Au)),
              "Registry restore flush failed (Windows error 3221225626).");
}

TEST_F(RegistryTest, NamesAreNulTerminatedUtf16AndMustNotHoldNul) {
    EXPECT_EQ(to_registry_name("Dé\xF0\x9F\x98\x80").value(),
              std::u16string(u"Dé\U0001F600") + u'\0');
    EXPECT_EQ(to_registry_name("").value(), std::u16string(1, u'\0'));
    EXPECT_EQ(error_of(to_registry_name(std::string_view("a\0b", 3))),
              "A registry name contains a null character.");
}

TEST_F(RegistryTest, MalformedPathsAreRefusedBeforeAnyRegistryCall) {
    machine.registry.add_key(HKLM, "Software\\A\\B");
    for (const std::string_view path :
         {std::string_view(""), std::string_view("\\Software"), std::string_view("Software\\"),
          std::string_view("Software\\\\A"), std::string_view("."),
          std::string_view("Software\\.\\A"), std::string_view("Software\\A\\.."),
          std::string_view("Software/A"), std::string_view("Software\\A\0B", 12)}) {
        EXPECT_EQ(open_machine(path), invalid_path) << path;
        EXPECT_EQ(open_outcome(RegistryScope::User, player_sid, path), invalid_path) << path;
    }
    EXPECT_EQ(machine.faults.calls("RegOpenKeyExW"), 0);
}

TEST_F(RegistryTest, UserScopeNeedsAnAccountSid) {
    for (const char* sid :
         {"", "S-1-5-18", "S-1-5-21-1-2-3-1001\\Software", "player", "s-1-5-21-1-1001"})
        EXPECT_EQ(open_outcome(RegistryScope::User, sid, "Software"),
                  "Invalid player registry SID.")
            << sid;
    EXPECT_EQ(open_outcome(RegistryScope::Machine, "not a SID", "Software"), "absent");
}

TEST_F(RegistryTest, ScopesOpenBelowTheirOwnRootIgnoringLetterCase) {
    machine.registry.add_key(HKLM, "Software\\MachineOnly");
    machine.registry.add_key(HKU, std::string(player_sid) + "\\Software\\UserOnly");
    EXPECT_EQ(open_machine("SOFTWARE\\machineonly"), "present");
    EXPECT_EQ(open_machine("Software\\UserOnly"), "absent");
    EXPECT_EQ(open_outcome(RegistryScope::User, player_sid, "software\\USERONLY"), "present");
    EXPECT_EQ(open_outcome(RegistryScope::User, player_sid, "Software\\MachineOnly"), "absent");
    EXPECT_EQ(open_outcome(RegistryScope::User, "S-1-5-21-1-2-3-1002", "Software"), "absent");
}

TEST_F(RegistryTest, EveryComponentIsOpenedWithTheModesAccess) {
    // Only a writable open asks for KEY_SET_VALUE, also on the way to the key.
    machine.registry.add_key(HKLM, "Software\\Q\\Leaf");
    machine.registry.find(HKLM, "Software\\Q")->denied_access = win::KEY_SET_VALUE;
    EXPECT_EQ(open_machine("Software\\Q\\Leaf"), "present");
    EXPECT_EQ(open_machine("Software\\Q\\Leaf", true),
              "Registry key open failed (Windows error 5).");
}

TEST_F(RegistryTest, ALinkAnywhereOnThePathIsRefused) {
    machine.registry.add_key(HKLM, "Software\\Real\\Sub\\Deeper");
    machine.registry.add_link(HKLM, "Software\\Link", "\\Registry\\Machine\\Software\\Real");
    machine.registry.add_link(HKLM, "Software\\Real\\Sub\\Deeper\\Last",
                              "\\Registry\\Machine\\Software");
    machine.registry.add_link(HKU, player_sid, "\\Registry\\Machine\\Software\\Real");
    for (const char* path :
         {"Software\\Link", "Software\\Link\\Sub", "Software\\Real\\Sub\\Deeper\\Last"}) {
        EXPECT_EQ(open_machine(path), link_refused) << path;
        EXPECT_EQ(open_machine(path, true, true), link_refused) << path;
    }
    EXPECT_EQ(open_outcome(RegistryScope::User, player_sid, "Sub"), link_refused);
    // A value of that name with another type does not make a link.
    machine.registry.set_value(HKLM, "Software\\Real", "SymbolicLinkValue",
                               installer_helper::REG_SZ,
                               string_bytes("\\Registry\\Machine\\Software"));
    EXPECT_EQ(open_machine("Software\\Real\\Sub"), "present");
}

TEST_F(RegistryTest, MissingKeysAreAbsentOrCreatedInTurn) {
    machine.registry.add_key(HKLM, "Software");
    EXPECT_EQ(open_machine("Software\\Quillmora\\Quillmora Launcher"), "absent");
    EXPECT_FALSE(machine.registry.exists(HKLM, "Software\\Quillmora"));
    EXPECT_EQ(open_machine(launcher_key, true, true), "present");
    EXPECT_EQ(machine.registry.subkey_names(HKLM, "Software\\Quillmora"),
              std::vector<std::string>{"Quillmora Launcher"});
    EXPECT_EQ(machine.faults.calls("RegCreateKeyExW"), 2);
    EXPECT_EQ(open_machine(launcher_key, true, true), "present");  // existing keys are opened
    EXPECT_EQ(machine.faults.calls("RegCreateKeyExW"), 2);
}

TEST_F(RegistryTest, AKeyThatAppearsBeforeTheCreateFailsTheOpen) {
    machine.registry.add_key(HKLM, "Software");
    machine.faults.before_call("RegCreateKeyExW", 1,
                               [&] { machine.registry.add_key(HKLM, "Software\\Quillmora"); });
    EXPECT_EQ(open_machine(launcher_key, true, true),
              "Launcher registry changed while a missing key was created.");
    EXPECT_FALSE(machine.registry.exists(HKLM, launcher_key));
}

// A link planted at the name between the failed open and the create is
// opened as itself: its target is never created.
TEST_F(RegistryTest, ALinkThatAppearsBeforeTheCreateIsNotFollowed) {
    machine.registry.add_key(HKLM, "Software\\Quillmora");
    machine.faults.before_call("RegCreateKeyExW", 1, [&] {
        machine.registry.add_link(HKLM, launcher_key, "\\Registry\\Machine\\Software\\Victim");
    });
    EXPECT_EQ(open_machine(launcher_key, true, true),
              "Launcher registry changed while a missing key was created.");
    EXPECT_FALSE(machine.registry.exists(HKLM, "Software\\Victim"));
}

TEST_F(RegistryTest, FailedCallsNameTheirOperation) {
    machine.registry.add_key(HKLM, "Software\\Quillmora");
    machine.faults.fail_nth("RegOpenKeyExW", 1, win::ERROR_ACCESS_DENIED, u"Quillmora");
    EXPECT_EQ(open_machine("Software\\Quillmora"), "Registry key open failed (Windows error 5).");
    machine.registry.find(HKLM, "Software\\Quillmora")->denied_access = win::KEY_CREATE_SUB_KEY;
    EXPECT_EQ(open_machine(launcher_key, true, true),
              "Registry key open failed (Windows error 5).");
    machine.faults.fail_nth("RegQueryValueExW", 2, win::ERROR_NOT_READY, u"SymbolicLinkValue");
    EXPECT_EQ(open_machine("Software\\Quillmora"),
              "Registry link inspection failed (Windows error 21).");
}

TEST_F(RegistryTest, ValuesAreReadAsStored) {
    machine.registry.set_value(HKLM, launcher_key, "", installer_helper::REG_SZ,
                               string_bytes("default"));
    machine.registry.set_value(HKLM, launcher_key, "Empty", installer_helper::REG_BINARY, {});
    machine.registry.set_value(HKLM, launcher_key, "Odd", 0x12345678, {1, 2, 3});
    EXPECT_EQ(read_value("").value(),
              (RegistryValue{"", installer_helper::REG_SZ, string_bytes("default")}));
    EXPECT_EQ(read_value("empty").value(),
              (RegistryValue{"empty", installer_helper::REG_BINARY, {}}));
    EXPECT_EQ(read_value("Odd").value(), (RegistryValue{"Odd", 0x12345678, {1, 2, 3}}));
    EXPECT_EQ(read_value("Missing").value(), std::nullopt);
}

TEST_F(RegistryTest, ValuesUpToTheLimitAreRead) {
    machine.registry.set_value(HKLM, launcher_key, "Full", installer_helper::REG_BINARY,
                               sim::Bytes(largest, 7));
    machine.registry.set_value(HKLM, launcher_key, "Over", installer_helper::REG_BINARY,
                               sim::Bytes(largest + 1));
    EXPECT_EQ(read_value("Full").value()->data, sim::Bytes(largest, 7));
    EXPECT_EQ(error_of(read_value("Over")), "Launcher registry value is too large.");
    // The larger one is measured, never read: three link checks and two
    // calls for the first, three link checks and one call for the second.
    EXPECT_EQ(machine.faults.calls("RegQueryValueExW"), 3 + 2 + 3 + 1);
}

TEST_F(RegistryTest, AValueThatKeepsGrowingIsReadThreeTimesAtMost) {
    const sim::Bytes one{1}, two{2, 2}, three{3, 3, 3}, four{4, 4, 4, 4};
    machine.registry.set_value(HKLM, launcher_key, "Twice", installer_helper::REG_BINARY, one)
        .rewrites_after_size_query = {two, three};
    machine.registry.set_value(HKLM, launcher_key, "Always", installer_helper::REG_BINARY, one)
        .rewrites_after_size_query = {two, three, four};
    machine.registry.set_value(HKLM, launcher_key, "Shrinks", installer_helper::REG_BINARY, three)
        .rewrites_after_size_query = {one};
    EXPECT_EQ(read_value("Twice").value()->data, three);
    EXPECT_EQ(error_of(read_value("Always")),
              "Launcher registry changed repeatedly while being read.");
    EXPECT_EQ(read_value("Shrinks").value()->data, one);
}

TEST_F(RegistryTest, FailedReadsNameTheirStep) {
    machine.registry.set_value(HKLM, launcher_key, "Value", installer_helper::REG_BINARY, {1});
    machine.faults.fail_nth("RegQueryValueExW", 1, win::ERROR_ACCESS_DENIED, u"Value");
    EXPECT_EQ(error_of(read_value("Value")), "Registry value size read failed (Windows error 5).");
    machine.faults.fail_nth("RegQueryValueExW", 2, win::ERROR_NOT_READY, u"Value");
    EXPECT_EQ(error_of(read_value("Value")), "Registry value read failed (Windows error 21).");
    EXPECT_EQ(error_of(read_value(std::string_view("Va\0lue", 6))),
              "A registry name contains a null character.");
}

struct ShapeCase {
    std::uint32_t kind;
    sim::Bytes data;
    bool accepted;
};

TEST_F(RegistryTest, LauncherValuesMustHaveTheShapeOfTheirType) {
    using namespace installer_helper;
    const std::vector<ShapeCase> cases = {
        {REG_SZ, {0, 0}, true},
        {REG_SZ, {'a', 0, 0, 0}, true},
        {REG_SZ, {}, false},
        {REG_SZ, {0}, false},
        {REG_SZ, {'a', 0}, false},
        {REG_SZ, {'a', 0, 0}, false},
        {REG_EXPAND_SZ, {0, 0}, true},
        {REG_EXPAND_SZ, {'%', 0}, false},
        {REG_BINARY, {}, true},
        {REG_BINARY, {9, 9, 9}, true},
        {REG_DWORD, {1, 2, 3, 4}, true},
        {REG_DWORD, {1, 2, 3}, false},
        {REG_DWORD, {1, 2, 3, 4, 5}, false},
        {REG_MULTI_SZ, {0, 0, 0, 0}, true},
        {REG_MULTI_SZ, {'a', 0, 0, 0, 0, 0}, true},
        {REG_MULTI_SZ, {0, 0}, false},
        {REG_MULTI_SZ, {'a', 0, 0, 0, 0}, false},
        {REG_MULTI_SZ, {'a', 0, 'b', 0}, false},
        {REG_QWORD, sim::Bytes(8), true},
        {REG_QWORD, sim::Bytes(4), false},
        {0 /* REG_NONE */, {}, false},
        {REG_LINK, {'a', 0}, false},
        {5 /* REG_DWORD_BIG_ENDIAN */, {0, 0, 0, 1}, false},
        {8 /* REG_RESOURCE_LIST */, {}, false},
    };
    for (const ShapeCase& shape : cases) {
        const auto checked = check_launcher_value({"Name", shape.kind, shape.data});
        EXPECT_EQ(error_of(checked), shape.accepted ? "(success)" : malformed)
            << "kind " << shape.kind << ", " << shape.data.size() << " bytes";
    }
}

TEST_F(RegistryTest, LauncherValueNamesAndSizesHaveLimits) {
    const auto check = [](std::string name, std::size_t bytes) {
        return error_of(check_launcher_value(
            {std::move(name), installer_helper::REG_BINARY, sim::Bytes(bytes)}));
    };
    EXPECT_EQ(check("", largest), "(success)");
    EXPECT_EQ(check(std::string(0x3FFF, 'n'), 0), "(success)");
    EXPECT_EQ(check(std::string(0x3FFE, 'n') + "\xF0\x9F\x98\x80", 0),
              "Invalid launcher registry value.");
    EXPECT_EQ(check(std::string(0x4000, 'n'), 0), "Invalid launcher registry value.");
    EXPECT_EQ(check(std::string("a\0b", 3), 0), "Invalid launcher registry value.");
    EXPECT_EQ(check("Name", largest + 1), "Invalid launcher registry value.");
}

TEST_F(RegistryTest, StringsAreDecodedWithoutTheirTerminator) {
    using installer_helper::REG_EXPAND_SZ;
    EXPECT_EQ(read_string({0, 0}).value(), "");
    EXPECT_EQ(read_string(string_bytes("C:\\Games\\Ünïcode \xF0\x9F\x98\x80")).value(),
              "C:\\Games\\Ünïcode \xF0\x9F\x98\x80");
    EXPECT_EQ(read_string(string_bytes("%LOCALAPPDATA%\\Quillmora"), REG_EXPAND_SZ).value(),
              "%LOCALAPPDATA%\\Quillmora");
    EXPECT_EQ(error_of(read_string({'a', 0, 0, 0, 0, 0})),
              "Registry string contains an embedded null.");
    EXPECT_EQ(error_of(read_string({'a', 0, 0, 0, 'b', 0, 0, 0})),
              "Registry string contains an embedded null.");
    EXPECT_EQ(error_of(read_string({'a', 0})), malformed);
    EXPECT_EQ(error_of(read_string({0x00, 0xD8, 0, 0})), "Invalid UTF-16 registry string.");
    EXPECT_EQ(error_of(read_string(dword_bytes(1), installer_helper::REG_DWORD)),
              "Expected a registry string.");
    EXPECT_EQ(error_of(read_string({}, installer_helper::REG_BINARY)),
              "Expected a registry string.");
}

TEST_F(RegistryTest, AbsentStringsAreNotErrors) {
    machine.registry.set_value(HKU, std::string(player_sid) + "\\Software\\Q", "Here",
                               installer_helper::REG_SZ, string_bytes("user"));
    EXPECT_EQ(read_registry_string(RegistryScope::User, player_sid, "Software\\Q", "here").value(),
              "user");
    EXPECT_EQ(read_registry_string(RegistryScope::User, player_sid, "Software\\Q", "Gone").value(),
              std::nullopt);
    EXPECT_EQ(
        read_registry_string(RegistryScope::User, player_sid, "Software\\None", "Here").value(),
        std::nullopt);
    EXPECT_EQ(
        read_registry_string(RegistryScope::Machine, player_sid, "Software\\Q", "Here").value(),
        std::nullopt);
}

TEST_F(RegistryTest, DwordsAreReadFromTheMachineLittleEndian) {
    constexpr const char* runtime = "SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x64";
    machine.registry.set_value(HKLM, runtime, "Installed", installer_helper::REG_DWORD,
                               dword_bytes(0xA1B2C3D4));
    machine.registry.set_value(HKLM, runtime, "Short", installer_helper::REG_DWORD, {1, 0, 0});
    machine.registry.set_value(HKLM, runtime, "Text", installer_helper::REG_SZ, string_bytes("1"));
    machine.registry.set_value(HKLM, runtime, "None", 0, dword_bytes(1));
    EXPECT_EQ(read_registry_dword(runtime, "Installed").value(), 0xA1B2C3D4u);
    EXPECT_EQ(error_of(read_registry_dword(runtime, "Short")), malformed);
    EXPECT_EQ(error_of(read_registry_dword(runtime, "Text")), "Expected a registry DWORD.");
    EXPECT_EQ(error_of(read_registry_dword(runtime, "None")), malformed);
    EXPECT_EQ(read_registry_dword(runtime, "Missing").value(), std::nullopt);
    EXPECT_EQ(read_registry_dword("SOFTWARE\\Nothing", "Installed").value(), std::nullopt);
}

TEST_F(RegistryTest, EnumerationGivesEveryValueInRegistryOrder) {
    using namespace installer_helper;
    machine.registry.set_value(HKLM, launcher_key, "Zeta", REG_SZ, string_bytes("z"));
    machine.registry.set_value(HKLM, launcher_key, "", REG_EXPAND_SZ, string_bytes("%x%"));
    machine.registry.set_value(HKLM, launcher_key, "Alpha", REG_QWORD, sim::Bytes(8, 1));
    machine.registry.set_value(HKLM, launcher_key, "Müller", REG_MULTI_SZ, {'a', 0, 0, 0, 0, 0});
    const std::vector<RegistryValue> expected = {
        {"Zeta", REG_SZ, string_bytes("z")},
        {"", REG_EXPAND_SZ, string_bytes("%x%")},
        {"Alpha", REG_QWORD, sim::Bytes(8, 1)},
        {"Müller", REG_MULTI_SZ, {'a', 0, 0, 0, 0, 0}},
    };
    EXPECT_EQ(enumerate().value(), expected);
    machine.registry.add_key(HKLM, "Software\\Empty");
    EXPECT_EQ(enumerate("Software\\Empty").value(), std::vector<RegistryValue>{});
}

TEST_F(RegistryTest, EnumerationRefusesWhatALauncherKeyNeverHolds) {
    using namespace installer_helper;
    machine.registry.set_value(HKLM, launcher_key, "Fine", REG_SZ, string_bytes("x"));
    machine.registry.add_key(HKLM, std::string(launcher_key) + "\\Sub");
    EXPECT_EQ(error_of(enumerate()), "Unexpected subkeys in launcher registration.");
    machine.registry.remove_key(HKLM, std::string(launcher_key) + "\\Sub");
    machine.registry.set_value(HKLM, launcher_key, "Nothing", 0, {});
    EXPECT_EQ(error_of(enumerate()), malformed);
    machine.registry.find(HKLM, launcher_key)->values.back().name = u"Bad\xD800";
    EXPECT_EQ(error_of(enumerate()), "Invalid UTF-16 registry value name.");
}

TEST_F(RegistryTest, AValueThatVanishesDuringEnumerationFailsIt) {
    machine.registry.set_value(HKLM, launcher_key, "First", installer_helper::REG_SZ,
                               string_bytes("1"));
    machine.registry
        .set_value(HKLM, launcher_key, "Going", installer_helper::REG_SZ, string_bytes("2"))
        .vanishes_after_enumeration = true;
    EXPECT_EQ(error_of(enumerate()), "Launcher registry changed during enumeration.");
}

TEST_F(RegistryTest, FailedEnumerationCallsNameTheirOperation) {
    machine.registry.set_value(HKLM, launcher_key, "Value", installer_helper::REG_SZ,
                               string_bytes("1"));
    machine.faults.fail_nth("RegQueryInfoKeyW", 1, win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(error_of(enumerate()), "Registry subkey inspection failed (Windows error 5).");
    machine.faults.fail_nth("RegEnumValueW", 2, win::ERROR_NOT_READY);
    EXPECT_EQ(error_of(enumerate()), "Registry value enumeration failed (Windows error 21).");
}

class RegistryRemovalTest : public RegistryTest {
protected:
    std::string remove(std::string_view path, RegistryScope scope = RegistryScope::Machine) {
        return error_of(remove_registry_key(scope, player_sid, path));
    }
};

TEST_F(RegistryRemovalTest, RemovesTheLeafDurably) {
    machine.registry.set_value(HKLM, launcher_key, "Value", installer_helper::REG_SZ,
                               string_bytes("1"));
    machine.registry.add_key(HKLM, "Software\\Quillmora\\Sibling");
    EXPECT_EQ(remove(launcher_key), "(success)");
    EXPECT_EQ(machine.registry.subkey_names(HKLM, "Software\\Quillmora"),
              std::vector<std::string>{"Sibling"});
    machine.restart(sim::Machine::Restart::power_loss);
    EXPECT_FALSE(machine.registry.exists(HKLM, launcher_key));
}

TEST_F(RegistryRemovalTest, RemovesBelowTheUsersHive) {
    const std::string key = std::string(player_sid) + "\\Software\\Q\\Leaf";
    machine.registry.add_key(HKU, key);
    EXPECT_EQ(remove("Software\\Q\\Leaf", RegistryScope::User), "(success)");
    EXPECT_FALSE(machine.registry.exists(HKU, key));
}

TEST_F(RegistryRemovalTest, AbsentKeysNeedNothing) {
    machine.registry.add_key(HKLM, "Software\\Quillmora");
    EXPECT_EQ(remove(launcher_key), "(success)");
    EXPECT_EQ(remove("Software\\Nothing\\Here"), "(success)");
    EXPECT_EQ(machine.faults.calls("RegDeleteKeyExW"), 0);
}

TEST_F(RegistryRemovalTest, RefusesWhatIsNotASingleLeafKey) {
    machine.registry.add_key(HKLM, std::string(launcher_key) + "\\Sub");
    machine.registry.add_key(HKLM, "Software\\Real");
    machine.registry.add_link(HKLM, "Software\\Quillmora\\Link",
                              "\\Registry\\Machine\\Software\\Real");
    EXPECT_EQ(remove("Software"), "Invalid registry deletion path.");
    EXPECT_EQ(remove(launcher_key), "Unexpected subkeys in launcher registration.");
    EXPECT_EQ(remove("Software\\Quillmora\\Link"), link_refused);
    // An empty leaf would name the parent itself.
    EXPECT_EQ(remove("Software\\Real\\"), invalid_path);
    EXPECT_EQ(remove("Software\\Real\\.."), invalid_path);
    EXPECT_EQ(machine.faults.calls("RegDeleteKeyExW"), 0);
    EXPECT_TRUE(machine.registry.exists(HKLM, std::string(launcher_key) + "\\Sub"));
    EXPECT_TRUE(machine.registry.exists(HKLM, "Software\\Real"));
}

// The leaf is deleted through the handle it was checked through: a link
// that takes its name in between is never followed.
TEST_F(RegistryRemovalTest, ALinkSwappedInAfterTheCheckIsNotFollowed) {
    machine.registry.add_key(HKLM, launcher_key);
    machine.registry.set_value(HKLM, "Software\\Victim", "Keep", installer_helper::REG_DWORD,
                               dword_bytes(1));
    machine.faults.before_call("RegDeleteKeyExW", 1, [&] {
        machine.registry.remove_key(HKLM, launcher_key);
        machine.registry.add_link(HKLM, launcher_key, "\\Registry\\Machine\\Software\\Victim");
    });
    EXPECT_EQ(remove(launcher_key), "(success)");
    EXPECT_TRUE(machine.registry.exists(HKLM, "Software\\Victim"));
    EXPECT_TRUE(machine.registry.find(HKLM, launcher_key)->is_link);
}

TEST_F(RegistryRemovalTest, FailedCallsNameTheirOperation) {
    machine.registry.add_key(HKLM, launcher_key);
    machine.faults.fail_nth("RegDeleteKeyExW", 1, win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(remove(launcher_key), "Registry key removal failed (Windows error 5).");
    machine.registry.find(HKLM, "Software\\Quillmora")->flush_error = win::ERROR_NOT_READY;
    EXPECT_EQ(remove(launcher_key), "Registry removal flush failed (Windows error 21).");
    EXPECT_FALSE(machine.registry.exists(HKLM, launcher_key));  // the removal itself stays done
}

}  // namespace
