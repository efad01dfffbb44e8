// The recovery journal between two runs of the helper. Read as a document,
// the bytes either are refused or give a journal that the writer writes again
// and the reader reads back the same. Read as a record, they give a journal
// that the writer refuses only when a text is not valid Unicode, and
// otherwise writes so that the reader takes it back unchanged.
#include "engine/journal.h"
#include "fuzz_check.h"
#include "text_encoding.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace installer_helper;

namespace {

constexpr std::size_t longest_text = 64;

std::string text_from(FuzzedDataProvider& provider) {
    return provider.ConsumeRandomLengthString(longest_text);
}

RegistryValue value_from(FuzzedDataProvider& provider) {
    RegistryValue value;
    value.name = text_from(provider);
    value.kind = provider.ConsumeIntegral<std::uint32_t>();
    value.data = provider.ConsumeBytes<std::uint8_t>(provider.ConsumeIntegralInRange(0, 24));
    return value;
}

Journal journal_from(FuzzedDataProvider& provider) {
    Journal journal;
    journal.version = provider.ConsumeIntegral<std::uint32_t>();
    journal.stage = provider.PickValueInArray({JournalStage::BackingUp, JournalStage::Prepared,
                                               JournalStage::Committed, JournalStage::RolledBack});
    journal.scope = provider.ConsumeBool() ? RegistryScope::Machine : RegistryScope::User;
    journal.directory = text_from(provider);
    journal.sid = text_from(provider);
    for (int i = provider.ConsumeIntegralInRange(0, 3); i > 0; --i)
        journal.binaries.push_back(text_from(provider));
    for (int i = provider.ConsumeIntegralInRange(0, 2); i > 0; --i) {
        RegistrySnapshot& snapshot = journal.registration.emplace_back();
        snapshot.key = text_from(provider);
        snapshot.exists = provider.ConsumeBool();
        for (int j = provider.ConsumeIntegralInRange(0, 3); j > 0; --j)
            snapshot.values.push_back(value_from(provider));
    }
    return journal;
}

bool every_text_is_unicode(const Journal& journal) {
    bool valid = is_valid_unicode(journal.directory) && is_valid_unicode(journal.sid);
    for (const std::string& binary : journal.binaries) valid = valid && is_valid_unicode(binary);
    for (const RegistrySnapshot& snapshot : journal.registration) {
        valid = valid && is_valid_unicode(snapshot.key);
        for (const RegistryValue& value : snapshot.values)
            valid = valid && is_valid_unicode(value.name);
    }
    return valid;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const std::optional<Journal> read = decode_journal(bytes)) {
        const Result<std::string> written = encode_journal(*read);
        FUZZ_REQUIRE(written);
        FUZZ_REQUIRE(decode_journal(*written) == *read);
    }

    FuzzedDataProvider provider(data, size);
    const Journal journal = journal_from(provider);
    const Result<std::string> written = encode_journal(journal);
    FUZZ_REQUIRE(written.has_value() == every_text_is_unicode(journal));
    if (written) FUZZ_REQUIRE(decode_journal(*written) == journal);
    return 0;
}
