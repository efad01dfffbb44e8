// The simulated registry: the HKEY_LOCAL_MACHINE and HKEY_USERS roots, keys
// with case-insensitive names, typed values as raw bytes in the order they
// were added, registry link keys, and changes that a power loss drops until
// the hive they belong to is flushed.
#pragma once

#include "platform/win_api.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

using win::DWORD;
using Bytes = std::vector<std::uint8_t>;

struct KeyValue {
    std::u16string name;
    DWORD type = 0;
    Bytes data;

    // Stand-ins for another program changing the value while it is read.
    std::vector<Bytes> rewrites_after_size_query;  // each size query is followed by the next
    bool vanishes_after_enumeration = false;       // gone once RegEnumValueW has named it
};

struct Key {
    std::u16string name;
    Key* parent = nullptr;
    // By upper-case name, which is also the order RegEnumKeyExW lists them in.
    std::map<std::u16string, std::shared_ptr<Key>> subkeys;
    std::vector<KeyValue> values;  // enumeration order
    // Created with REG_OPTION_CREATE_LINK; its "SymbolicLinkValue" names the target.
    bool is_link = false;
    bool deleted = false;  // handles that are still open see ERROR_KEY_DELETED

    // Stand-ins for access control and failing storage.
    DWORD denied_access = 0;  // opening with any of these rights fails with ERROR_ACCESS_DENIED
    DWORD flush_error = 0;    // RegFlushKey of this key fails with it

    KeyValue* find_value(std::u16string_view value_name);
};

using KeyPtr = std::shared_ptr<Key>;

// Where a key path leads. `key` is null when a component does not exist;
// `error` then says why, and `parent` and `leaf` name the first missing
// component.
struct KeyLookup {
    KeyPtr key;
    KeyPtr parent;
    std::u16string leaf;
    DWORD error = 0;
};

class Registry {
public:
    Registry();

    // --- scenario set-up and checks: `root` is HKEY_LOCAL_MACHINE or
    // HKEY_USERS, paths are UTF-8 below it (missing keys are created), and
    // everything set up is already on disk ---
    Key& add_key(win::HKEY root, std::string_view path);
    // Adds the value, or replaces the data of one with the same name.
    KeyValue& set_value(win::HKEY root, std::string_view path, std::string_view name, DWORD type,
                        Bytes data);
    // A link key whose target is an absolute registry path such as
    // "\Registry\Machine\Software\Target" or "\Registry\User\<sid>\...".
    Key& add_link(win::HKEY root, std::string_view path, std::string_view target);
    // The key itself (links not followed), or null.
    Key* find(win::HKEY root, std::string_view path);
    bool exists(win::HKEY root, std::string_view path) { return find(root, path) != nullptr; }
    // The value's type and bytes, or null when the key or value is absent.
    const KeyValue* value(win::HKEY root, std::string_view path, std::string_view name);
    std::vector<std::string> value_names(win::HKEY root, std::string_view path);
    std::vector<std::string> subkey_names(win::HKEY root, std::string_view path);
    // Another program deletes a key with everything below it.
    void remove_key(win::HKEY root, std::string_view path);

    // --- used by the seam functions ---
    bool is_root(win::HKEY key) const;
    const KeyPtr& root(win::HKEY key);
    // Walks `path` below `start`, following links except, with `open_link`,
    // one that is the last component.
    KeyLookup resolve(const KeyPtr& start, std::u16string_view path, bool open_link);
    KeyPtr create_child(Key& parent, std::u16string_view name);
    void remove(Key& key);
    // Makes the hive that holds the key (the root's child it is under)
    // survive a power loss as it is now.
    void flush(const Key& key);
    void power_loss();

private:
    KeyPtr machine_;
    KeyPtr users_;
    KeyPtr durable_machine_;
    KeyPtr durable_users_;
    KeyLookup walk(const KeyPtr& start, std::u16string_view path, bool open_link, int depth);
    KeyPtr follow_link(const Key& link, int depth);
    KeyPtr& live_root_of(const Key& key);
    KeyPtr& durable_root_of(const Key& key);
    void make_all_durable();
};

}  // namespace sim
