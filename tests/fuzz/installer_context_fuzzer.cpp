// The context file between two runs of the helper. Read as a file, the bytes
// either are refused or give a context that the writer writes again and the
// reader reads back the same. Read as a record, they give a context that the
// writer either refuses or writes so that the reader takes it back
// unchanged: the helper never writes a file that its next run refuses.
#include "fuzz_check.h"
#include "installer_context.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace installer_helper;

namespace {

// Long enough to cross the limit of 999 UTF-16 units a value may have.
constexpr std::size_t longest_text = 1100;

InstallerContext context_from(FuzzedDataProvider& provider) {
    InstallerContext context;
    context.scope = provider.ConsumeBool() ? RegistryScope::Machine : RegistryScope::User;
    context.legacy = provider.ConsumeBool();
    context.elevate = provider.ConsumeBool();
    for (std::string* text : {&context.sid, &context.temp, &context.desktop, &context.programs,
                              &context.local, &context.roaming, &context.directory})
        *text = provider.ConsumeRandomLengthString(longest_text);
    return context;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const Result<InstallerContext> read = decode_installer_context(bytes)) {
        const Result<std::string> written = encode_installer_context(*read);
        FUZZ_REQUIRE(written);
        FUZZ_REQUIRE(decode_installer_context(*written) == *read);
    }

    FuzzedDataProvider provider(data, size);
    const InstallerContext context = context_from(provider);
    if (const Result<std::string> written = encode_installer_context(context)) {
        FUZZ_REQUIRE(written->size() <= installer_context_size_limit);
        FUZZ_REQUIRE(decode_installer_context(*written) == context);
    }
    return 0;
}
