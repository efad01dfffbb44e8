// Reads a journal document strictly. nlohmann/json tokenises; a SAX reader
// that knows the journal's shape accepts each value only where the format
// allows it and fills the records as it goes. The reader refuses any
// container the format does not expect, so hostile nesting ends at the first
// bracket too many, and no tree is built for the (up to 8 MiB) document.
#include "engine/journal.h"

#include <nlohmann/json.hpp>

#include <exception>
#include <limits>
#include <span>
#include <utility>

namespace installer_helper {
namespace {

using nlohmann::json;

// What the next JSON value has to be.
// clang-format off
enum class Slot {
    none,                                 // no value is allowed here
    journal, snapshot, value,             // records: named members, or an array of them in order
    stage, scope,                         // a name, or the one-member object {"<name>":null}
    marker,                               // the null inside that object
    binaries, registration, values, data, // lists
    version, directory, sid, binary, key, exists, name, kind, byte,
};
// clang-format on

struct Member {
    std::string_view name;
    Slot slot;
};

constexpr std::array<Member, 7> JOURNAL_MEMBERS{{{"version", Slot::version},
                                                 {"directory", Slot::directory},
                                                 {"stage", Slot::stage},
                                                 {"scope", Slot::scope},
                                                 {"sid", Slot::sid},
                                                 {"binaries", Slot::binaries},
                                                 {"registration", Slot::registration}}};
constexpr std::array<Member, 3> SNAPSHOT_MEMBERS{
    {{"key", Slot::key}, {"exists", Slot::exists}, {"values", Slot::values}}};
constexpr std::array<Member, 3> VALUE_MEMBERS{
    {{"name", Slot::name}, {"kind", Slot::kind}, {"data", Slot::data}}};

bool is_record(Slot slot) {
    return slot == Slot::journal || slot == Slot::snapshot || slot == Slot::value;
}

bool is_list(Slot slot) {
    return slot == Slot::binaries || slot == Slot::registration || slot == Slot::values ||
           slot == Slot::data;
}

bool is_named_choice(Slot slot) { return slot == Slot::stage || slot == Slot::scope; }

std::span<const Member> members_of(Slot record) {
    switch (record) {
        case Slot::journal: return JOURNAL_MEMBERS;
        case Slot::snapshot: return SNAPSHOT_MEMBERS;
        default: return VALUE_MEMBERS;
    }
}

Slot element_of(Slot list) {
    switch (list) {
        case Slot::binaries: return Slot::binary;
        case Slot::registration: return Slot::snapshot;
        case Slot::values: return Slot::value;
        default: return Slot::byte;
    }
}

// One open object or array.
struct Frame {
    Slot slot;  // the record, list or named choice it holds
    bool is_array = false;
    std::uint8_t seen = 0;        // object form: one bit per member given
    std::size_t next_member = 0;  // array form of a record: members given
    Slot pending = Slot::none;    // object form: the member whose value is next
};

class JournalReader final : public nlohmann::json_sax<json> {
public:
    std::optional<Journal> take() {
        if (!complete_) return std::nullopt;
        return std::move(journal_);
    }

    bool null() override { return next_slot() == Slot::marker; }

    bool boolean(bool flag) override {
        if (next_slot() != Slot::exists) return false;
        snapshot().exists = flag;
        return true;
    }

    // A number with a minus sign arrives here, even -0; the format has none.
    bool number_integer(number_integer_t) override { return false; }
    // So does one with a fraction or exponent, or too large for 64 bits.
    bool number_float(number_float_t, const string_t&) override { return false; }

    bool number_unsigned(number_unsigned_t number) override {
        constexpr auto u32_max = std::numeric_limits<std::uint32_t>::max();
        switch (next_slot()) {
            case Slot::version:
                if (number > u32_max) return false;
                journal_.version = static_cast<std::uint32_t>(number);
                return true;
            case Slot::kind:
                if (number > u32_max) return false;
                value().kind = static_cast<std::uint32_t>(number);
                return true;
            case Slot::byte:
                if (number > 255) return false;
                value().data.push_back(static_cast<std::uint8_t>(number));
                return true;
            default: return false;
        }
    }

    bool string(string_t& text) override {
        switch (next_slot()) {
            case Slot::directory: journal_.directory = std::move(text); return true;
            case Slot::sid: journal_.sid = std::move(text); return true;
            case Slot::binary: journal_.binaries.push_back(std::move(text)); return true;
            case Slot::key: snapshot().key = std::move(text); return true;
            case Slot::name: value().name = std::move(text); return true;
            case Slot::stage: return set_stage(text);
            case Slot::scope: return set_scope(text);
            default: return false;
        }
    }

    bool binary(binary_t&) override { return false; }

    bool start_object(std::size_t) override {
        const Slot slot = next_slot();
        if (!is_record(slot) && !is_named_choice(slot)) return false;
        open(slot, false);
        return true;
    }

    bool start_array(std::size_t) override {
        const Slot slot = next_slot();
        if (!is_record(slot) && !is_list(slot)) return false;
        open(slot, true);
        return true;
    }

    bool key(string_t& name) override {
        Frame& frame = frames_.back();
        if (is_named_choice(frame.slot)) {
            if (frame.seen != 0) return false;  // one member only
            frame.seen = 1;
            frame.pending = Slot::marker;
            return frame.slot == Slot::stage ? set_stage(name) : set_scope(name);
        }
        const std::span<const Member> members = members_of(frame.slot);
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (members[i].name != name) continue;
            const auto bit = static_cast<std::uint8_t>(1u << i);
            if ((frame.seen & bit) != 0) return false;  // repeated member
            frame.seen |= bit;
            frame.pending = members[i].slot;
            return true;
        }
        return false;  // a member of another name
    }

    bool end_object() override {
        const Frame& frame = frames_.back();
        const std::size_t expected =
            is_named_choice(frame.slot) ? 1 : members_of(frame.slot).size();
        if (frame.seen != (1u << expected) - 1) return false;  // a member is missing
        close();
        return true;
    }

    bool end_array() override {
        const Frame& frame = frames_.back();
        if (is_record(frame.slot) && frame.next_member != members_of(frame.slot).size())
            return false;
        close();
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

private:
    Journal journal_;
    std::vector<Frame> frames_;
    bool started_ = false;
    bool complete_ = false;

    // The registration entry and value being read: always the last ones,
    // since only the innermost open record receives members.
    RegistrySnapshot& snapshot() { return journal_.registration.back(); }
    RegistryValue& value() { return snapshot().values.back(); }

    // Which value the format expects at this point, and that value taken.
    Slot next_slot() {
        if (frames_.empty()) return std::exchange(started_, true) ? Slot::none : Slot::journal;
        Frame& frame = frames_.back();
        if (is_list(frame.slot)) return element_of(frame.slot);
        if (!frame.is_array) return std::exchange(frame.pending, Slot::none);
        const std::span<const Member> members = members_of(frame.slot);
        if (frame.next_member == members.size()) return Slot::none;  // an element too many
        return members[frame.next_member++].slot;
    }

    void open(Slot slot, bool is_array) {
        if (slot == Slot::snapshot) journal_.registration.emplace_back();
        if (slot == Slot::value) snapshot().values.emplace_back();
        frames_.push_back(Frame{.slot = slot, .is_array = is_array});
    }

    void close() {
        frames_.pop_back();
        if (frames_.empty()) complete_ = true;
    }

    bool set_stage(std::string_view text) {
        const std::optional<JournalStage> stage = stage_from_text(text);
        if (stage) journal_.stage = *stage;
        return stage.has_value();
    }

    bool set_scope(std::string_view text) {
        const std::optional<RegistryScope> scope = scope_from_text(text);
        if (scope) journal_.scope = *scope;
        return scope.has_value();
    }
};

}  // namespace

std::optional<Journal> decode_journal(std::string_view bytes) {
    // nlohmann/json skips a leading byte-order mark, and takes a NUL byte
    // for the end of the input, so "{...}\0junk" would pass. The format has
    // neither, and a raw NUL is valid nowhere in a document.
    if (bytes.starts_with("\xEF\xBB\xBF") || bytes.find('\0') != std::string_view::npos)
        return std::nullopt;
    try {
        JournalReader reader;
        if (!json::sax_parse(bytes.begin(), bytes.end(), &reader)) return std::nullopt;
        return reader.take();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace installer_helper
