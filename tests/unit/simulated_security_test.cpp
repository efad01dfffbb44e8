// The simulated Windows reads SDDL as Windows does and keeps what a
// directory was created with, so that tests can check the exact entries.
#include "platform/simulated/machine.h"

#include "simulated_test.h"

#include <gtest/gtest.h>

namespace {

using sim::AccessControlEntry;
using sim::SecurityDescriptor;
using sim::Sid;

const Sid everyone{1, {0}};
const Sid users{5, {32, 545}};
const Sid administrators{5, {32, 544}};
const Sid system_account{5, {18}};
const Sid player{5, {21, 1, 2, 3, 1001}};

constexpr std::uint8_t allow = sim::ACCESS_ALLOWED_ACE_TYPE;
constexpr std::uint8_t inherited_everywhere = sim::OBJECT_INHERIT_ACE | sim::CONTAINER_INHERIT_ACE;
constexpr std::uint16_t dacl_present = sim::SE_SELF_RELATIVE | sim::SE_DACL_PRESENT;

SecurityDescriptor with_dacl(std::uint16_t control, std::vector<AccessControlEntry> dacl) {
    SecurityDescriptor descriptor;
    descriptor.control = control;
    descriptor.dacl = std::move(dacl);
    return descriptor;
}

// Every component, with every ACL flag.
SecurityDescriptor all_components() {
    SecurityDescriptor descriptor = with_dacl(
        dacl_present | sim::SE_DACL_PROTECTED | sim::SE_DACL_AUTO_INHERITED |
            sim::SE_DACL_AUTO_INHERIT_REQ | sim::SE_SACL_PRESENT | sim::SE_SACL_PROTECTED,
        {{sim::ACCESS_DENIED_ACE_TYPE,
          sim::NO_PROPAGATE_INHERIT_ACE | sim::INHERIT_ONLY_ACE | sim::INHERITED_ACE, 0xE0000000,
          everyone}});
    descriptor.owner = administrators;
    descriptor.group = system_account;
    descriptor.sacl = {{sim::SYSTEM_AUDIT_ACE_TYPE,
                        sim::SUCCESSFUL_ACCESS_ACE_FLAG | sim::FAILED_ACCESS_ACE_FLAG, 0x40000000,
                        users}};
    return descriptor;
}

struct ParseCase {
    const char* sddl;
    SecurityDescriptor expected;
};

void PrintTo(const ParseCase& row, std::ostream* out) { *out << row.sddl; }

class SddlAccepted : public ::testing::TestWithParam<ParseCase> {};

TEST_P(SddlAccepted, GivesTheDescriptorWindowsBuilds) {
    const auto parsed = sim::parse_security_descriptor(u16(GetParam().sddl));
    ASSERT_TRUE(parsed) << "Windows error " << parsed.error();
    EXPECT_EQ(*parsed, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Simulated, SddlAccepted,
    ::testing::Values(
        ParseCase{"D:P(A;OICI;0x1301bf;;;S-1-5-21-1-2-3-1001)(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)",
                  with_dacl(dacl_present | sim::SE_DACL_PROTECTED,
                            {{allow, inherited_everywhere, 0x1301BF, player},
                             {allow, inherited_everywhere, sim::FILE_ALL_ACCESS, administrators},
                             {allow, inherited_everywhere, sim::FILE_ALL_ACCESS, system_account}})},
        ParseCase{"", SecurityDescriptor{}},
        ParseCase{"D:", with_dacl(dacl_present, {})},
        ParseCase{"O:BAG:SYD:AIPAR(D;NPIOID;GRGWGX;;;WD)S:P(AU;SAFA;0X40000000;;;s-1-5-32-545)",
                  all_components()},
        // Numbers read as strtoul does with base 0; named rights OR-ed.
        ParseCase{"D:(A;;1;;;WD)(A;;020000000000;;;WD)(A;;0xFFFFFFFF;;;WD)(A;;RCSDWDWO;;;WD)",
                  with_dacl(dacl_present, {{allow, 0, 1, everyone},
                                           {allow, 0, 0x80000000, everyone},
                                           {allow, 0, 0xFFFFFFFF, everyone},
                                           {allow, 0, 0x000F0000, everyone}})},
        ParseCase{"D:(A;;FRFWFX;;;AU)(A;;KA;;;CO)",
                  with_dacl(dacl_present, {{allow, 0, 0x001201BF, Sid{5, {11}}},
                                           {allow, 0, 0x000F003F, Sid{3, {0}}}})}));

struct RefusedCase {
    const char* sddl;
    win::DWORD error;
};

void PrintTo(const RefusedCase& row, std::ostream* out) { *out << row.sddl; }

class SddlRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(SddlRefused, WithWindowsError) {
    const auto parsed = sim::parse_security_descriptor(u16(GetParam().sddl));
    ASSERT_FALSE(parsed);
    EXPECT_EQ(parsed.error(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Simulated, SddlRefused,
    ::testing::Values(RefusedCase{"ERROR:(D;;GA;;;WD)", win::ERROR_INVALID_PARAMETER},
                      RefusedCase{"X", win::ERROR_INVALID_PARAMETER},
                      RefusedCase{"O:XX", win::ERROR_INVALID_SID},
                      RefusedCase{"D:(A;;ROB;;;WD)", win::ERROR_INVALID_ACL},
                      RefusedCase{"D:(D;;GA;;;WDANDSUCH)", win::ERROR_INVALID_ACL},
                      RefusedCase{"D:(D;;GA;;;Nonexistent account)", win::ERROR_INVALID_ACL},
                      RefusedCase{"D:(A;;GA;;;S-1-5)", win::ERROR_INVALID_ACL},
                      RefusedCase{"D:(A;;GA;;;)", win::ERROR_INVALID_ACL},
                      RefusedCase{"D:(A;;GA;;WD)", win::ERROR_INVALID_ACL},
                      RefusedCase{"D:(A;;GA;;;WD", win::ERROR_INVALID_ACL},
                      RefusedCase{"D:(A;;GA;;;WD)x", win::ERROR_INVALID_ACL},
                      RefusedCase{"D:(X;;GA;;;WD)", win::ERROR_INVALID_ACL},
                      RefusedCase{"D:(A;OICX;GA;;;WD)", win::ERROR_INVALID_ACL},
                      RefusedCase{"D:(A;;0x100000000;;;WD)", win::ERROR_INVALID_ACL},
                      RefusedCase{"D:(A;;08;;;WD)", win::ERROR_INVALID_ACL},
                      RefusedCase{"D:Q(A;;GA;;;WD)", win::ERROR_INVALID_ACL}));

class SimulatedSecurityTest : public SimulatedTest {
protected:
    static constexpr const char16_t* helper_sddl =
        u"D:P(A;OICI;0x1301bf;;;S-1-5-21-1-2-3-1001)(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
};

TEST_F(SimulatedSecurityTest, ConvertsIntoLocalMemoryOfTheSelfRelativeSize) {
    void* descriptor = nullptr;
    win::ULONG size = 0;
    ASSERT_TRUE(win::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        helper_sddl, win::SDDL_REVISION_1, &descriptor, &size));
    // Header 20, ACL header 8, entries of 8 plus SIDs of 28, 16 and 12 bytes.
    EXPECT_EQ(size, 108u);
    ASSERT_NE(machine.security_descriptor(descriptor), nullptr);
    EXPECT_TRUE(machine.security_descriptor(descriptor)->dacl_protected());
    EXPECT_EQ(win::LocalFree(descriptor), nullptr);
    EXPECT_EQ(machine.security_descriptor(descriptor), nullptr);
}

TEST_F(SimulatedSecurityTest, ConversionFailuresSetTheLastError) {
    void* descriptor = reinterpret_cast<void*>(0x1);
    EXPECT_FALSE(win::ConvertStringSecurityDescriptorToSecurityDescriptorW(helper_sddl, 2,
                                                                           &descriptor, nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_UNKNOWN_REVISION);
    EXPECT_EQ(descriptor, nullptr);
    EXPECT_FALSE(win::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        u"D:(A;;ROB;;;WD)", win::SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_ACL);
    EXPECT_FALSE(win::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        nullptr, win::SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
}

TEST_F(SimulatedSecurityTest, CreateDirectoryKeepsTheDescriptorItWasGiven) {
    machine.files.add_directory("C:\\Temp");
    void* descriptor = nullptr;
    ASSERT_TRUE(win::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        helper_sddl, win::SDDL_REVISION_1, &descriptor, nullptr));
    const win::SECURITY_ATTRIBUTES attributes{24, descriptor, win::FALSE};
    ASSERT_TRUE(win::CreateDirectoryW(u"C:\\Temp\\given", &attributes));
    const SecurityDescriptor expected = *machine.security_descriptor(descriptor);
    win::LocalFree(descriptor);
    EXPECT_EQ(machine.files.find("C:\\Temp\\given")->security_descriptor, expected);

    ASSERT_TRUE(win::CreateDirectoryW(u"C:\\Temp\\default", nullptr));
    EXPECT_EQ(machine.files.find("C:\\Temp\\default")->security_descriptor, std::nullopt);

    // Freed memory, or anything else, is no descriptor: nothing is created.
    EXPECT_FALSE(win::CreateDirectoryW(u"C:\\Temp\\stale", &attributes));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_SECURITY_DESCR);
    EXPECT_FALSE(machine.files.exists("C:\\Temp\\stale"));
}

}  // namespace
