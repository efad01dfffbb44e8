// The simulated registry must behave as Windows' does where the helper's
// safety depends on it: these tests pin the model down.
#include "platform/simulated/machine.h"

#include "registry_scenario.h"
#include "simulated_test.h"

#include <gtest/gtest.h>

namespace {

using win::HKEY;
using win::LONG;

constexpr LONG success = 0;
constexpr LONG not_found = 2;
constexpr LONG access_denied = 5;

class SimulatedRegistryTest : public SimulatedTest {
protected:
    LONG open(HKEY parent, const char16_t* path, HKEY* key, win::DWORD options = 0,
              win::REGSAM access = win::KEY_READ) {
        return win::RegOpenKeyExW(parent, path, options, access, key);
    }
    // The data of a value read through an open key.
    std::string data_of(HKEY key, const char16_t* name) {
        std::uint8_t buffer[64] = {};
        win::DWORD size = sizeof buffer;
        if (win::RegQueryValueExW(key, name, nullptr, buffer, &size) != success) return "(none)";
        return std::string(buffer, buffer + size);
    }
};

TEST_F(SimulatedRegistryTest, LinksAreFollowedUnlessTheLastComponentIsOpenedAsALink) {
    machine.registry.set_value(HKLM, "Software\\Real", "Where", 3, {'r'});
    machine.registry.add_link(HKLM, "Software\\Link", "\\REGISTRY\\machine\\Software\\Real");
    machine.registry.set_value(HKLM, "Software\\Real\\Sub", "Where", 3, {'s'});
    HKEY key = nullptr;
    ASSERT_EQ(open(HKLM, u"Software\\Link", &key), success);
    EXPECT_EQ(data_of(key, u"Where"), "r");
    win::RegCloseKey(key);
    ASSERT_EQ(open(HKLM, u"Software\\Link\\Sub", &key, win::REG_OPTION_OPEN_LINK), success);
    EXPECT_EQ(data_of(key, u"Where"), "s");  // only the last component is opened as itself
    win::RegCloseKey(key);
    ASSERT_EQ(open(HKLM, u"software\\LINK", &key, win::REG_OPTION_OPEN_LINK), success);
    win::DWORD type = 0;
    EXPECT_EQ(win::RegQueryValueExW(key, u"SymbolicLinkValue", &type, nullptr, nullptr), success);
    EXPECT_EQ(type, win::REG_LINK);
    win::RegCloseKey(key);
}

TEST_F(SimulatedRegistryTest, DeletingALinkDeletesItsTarget) {
    // RegDeleteKeyExW opens the subkey as an ordinary open does.
    machine.registry.add_key(HKLM, "Software\\Real");
    machine.registry.add_link(HKLM, "Software\\Link", "\\Registry\\Machine\\Software\\Real");
    EXPECT_EQ(win::RegDeleteKeyExW(HKLM, u"Software\\Link", win::KEY_WOW64_64KEY), success);
    EXPECT_FALSE(machine.registry.exists(HKLM, "Software\\Real"));
    EXPECT_TRUE(machine.registry.exists(HKLM, "Software\\Link"));
}

TEST_F(SimulatedRegistryTest, KeysWithSubkeysRootsAndHivesAreNotDeleted) {
    machine.registry.add_key(HKLM, "Software\\Parent\\Child");
    EXPECT_EQ(win::RegDeleteKeyExW(HKLM, u"Software\\Parent", 0), access_denied);
    EXPECT_EQ(win::RegDeleteKeyExW(HKLM, u"Software", 0), access_denied);
    EXPECT_EQ(win::RegDeleteKeyExW(HKLM, u"Software\\Missing", 0), not_found);
    machine.registry.find(HKLM, "Software\\Parent\\Child")->denied_access = win::DELETE;
    EXPECT_EQ(win::RegDeleteKeyExW(HKLM, u"Software\\Parent\\Child", 0), access_denied);
    EXPECT_TRUE(machine.registry.exists(HKLM, "Software\\Parent\\Child"));
}

TEST_F(SimulatedRegistryTest, CreationTellsNewFromExistingAndKeepsToHives) {
    machine.registry.add_key(HKLM, "Software");
    HKEY key = nullptr;
    win::DWORD disposition = 0;
    ASSERT_EQ(win::RegCreateKeyExW(HKLM, u"Software\\A\\B", 0, win::KEY_WRITE, &key, &disposition),
              success);
    EXPECT_EQ(disposition, win::REG_CREATED_NEW_KEY);
    win::RegCloseKey(key);
    ASSERT_EQ(win::RegCreateKeyExW(HKLM, u"software\\a", 0, win::KEY_WRITE, &key, &disposition),
              success);
    EXPECT_EQ(disposition, win::REG_OPENED_EXISTING_KEY);
    win::RegCloseKey(key);
    EXPECT_EQ(win::RegCreateKeyExW(HKLM, u"NewHive", 0, win::KEY_WRITE, &key, &disposition),
              access_denied);
    EXPECT_EQ(machine.registry.subkey_names(HKLM, ""), std::vector<std::string>{"Software"});
}

TEST_F(SimulatedRegistryTest, ValuesKeepTheirPlaceAndNameWhenRewritten) {
    machine.registry.add_key(HKLM, "Software\\Q");
    HKEY key = nullptr;
    ASSERT_EQ(open(HKLM, u"Software\\Q", &key, 0, win::KEY_READ | win::KEY_WRITE), success);
    const std::uint8_t byte = 1;
    for (const char16_t* name : {u"First", u"Second", u"FIRST"})
        EXPECT_EQ(win::RegSetValueExW(key, name, 3, &byte, 1), success);
    EXPECT_EQ(machine.registry.value_names(HKLM, "Software\\Q"),
              (std::vector<std::string>{"First", "Second"}));
    EXPECT_EQ(win::RegDeleteValueW(key, u"first"), success);
    EXPECT_EQ(win::RegDeleteValueW(key, u"first"), not_found);
    win::RegCloseKey(key);
    // Without KEY_SET_VALUE nothing is written.
    ASSERT_EQ(open(HKLM, u"Software\\Q", &key), success);
    EXPECT_EQ(win::RegSetValueExW(key, u"Third", 3, &byte, 1), access_denied);
    win::RegCloseKey(key);
}

TEST_F(SimulatedRegistryTest, SmallBuffersGetTheSizeAndTheLastErrorIsLeftAlone) {
    machine.registry.set_value(HKLM, "Software\\Q", "Value", 3, {1, 2, 3, 4});
    machine.last_error = 1234;
    HKEY key = nullptr;
    ASSERT_EQ(open(HKLM, u"Software\\Q", &key), success);
    std::uint8_t buffer[2] = {};
    win::DWORD size = sizeof buffer;
    EXPECT_EQ(win::RegQueryValueExW(key, u"Value", nullptr, buffer, &size),
              LONG(win::ERROR_MORE_DATA));
    EXPECT_EQ(size, 4u);
    machine.faults.fail_nth("RegQueryValueExW", 1, win::ERROR_NOT_READY);
    EXPECT_EQ(win::RegQueryValueExW(key, u"Value", nullptr, nullptr, &size),
              LONG(win::ERROR_NOT_READY));
    EXPECT_EQ(machine.last_error, 1234u);
    win::RegCloseKey(key);
}

TEST_F(SimulatedRegistryTest, HandlesToADeletedKeyStillCloseButDoNothingElse) {
    machine.registry.set_value(HKLM, "Software\\Q", "Value", 3, {1});
    HKEY key = nullptr;
    ASSERT_EQ(open(HKLM, u"Software\\Q", &key), success);
    machine.registry.remove_key(HKLM, "Software\\Q");
    EXPECT_EQ(win::RegQueryValueExW(key, u"Value", nullptr, nullptr, nullptr),
              LONG(win::ERROR_KEY_DELETED));
    EXPECT_EQ(machine.open_handle_count(), 1u);  // what the leak check counts
    EXPECT_EQ(win::RegCloseKey(key), success);
    EXPECT_EQ(win::RegCloseKey(key), LONG(win::ERROR_INVALID_HANDLE));
    EXPECT_EQ(win::RegCloseKey(HKLM), success);  // the roots are never really closed
}

TEST_F(SimulatedRegistryTest, APowerLossDropsWhatNoFlushOfItsHiveCovered) {
    machine.registry.add_key(HKLM, "Software\\Q");
    machine.registry.add_key(HKLM, "System\\Q");
    HKEY software = nullptr;
    HKEY system = nullptr;
    ASSERT_EQ(open(HKLM, u"Software\\Q", &software, 0, win::KEY_READ | win::KEY_WRITE), success);
    ASSERT_EQ(open(HKLM, u"System\\Q", &system, 0, win::KEY_READ | win::KEY_WRITE), success);
    const std::uint8_t byte = 1;
    EXPECT_EQ(win::RegSetValueExW(software, u"Flushed", 3, &byte, 1), success);
    EXPECT_EQ(win::RegSetValueExW(system, u"Lost", 3, &byte, 1), success);
    EXPECT_EQ(win::RegFlushKey(software), success);
    EXPECT_EQ(win::RegSetValueExW(software, u"LostToo", 3, &byte, 1), success);
    machine.restart(sim::Machine::Restart::power_loss);
    EXPECT_EQ(machine.registry.value_names(HKLM, "Software\\Q"),
              std::vector<std::string>{"Flushed"});
    EXPECT_EQ(machine.registry.value_names(HKLM, "System\\Q"), std::vector<std::string>{});
}

TEST_F(SimulatedRegistryTest, ChangesCountTowardsACrash) {
    machine.registry.add_key(HKLM, "Software\\Q");
    HKEY key = nullptr;
    ASSERT_EQ(open(HKLM, u"Software\\Q", &key, 0, win::KEY_READ | win::KEY_WRITE), success);
    machine.crash_at_change(2);
    const std::uint8_t byte = 1;
    EXPECT_EQ(win::RegSetValueExW(key, u"Before", 3, &byte, 1), success);
    EXPECT_EQ(win::RegQueryValueExW(key, u"Before", nullptr, nullptr, nullptr),
              success);  // reads do not count
    EXPECT_EQ(win::RegDeleteValueW(key, u"Before"), LONG(win::ERROR_NOT_READY));
    EXPECT_TRUE(machine.crashed());
    machine.restart(sim::Machine::Restart::clean);
    EXPECT_EQ(machine.registry.value_names(HKLM, "Software\\Q"),
              std::vector<std::string>{"Before"});
}

}  // namespace
