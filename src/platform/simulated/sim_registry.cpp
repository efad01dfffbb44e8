// The seam's registry functions, acting on the simulated machine's registry.
// Like Windows' own, they return the status and leave the last error alone.
#include "platform/simulated/case_mapping.h"
#include "platform/simulated/machine.h"
#include "platform/simulated/registry.h"
#include "platform/win_api.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace win {
namespace {

using sim::current;
using sim::Key;
using sim::KeyPtr;
using sim::Machine;

constexpr DWORD ERROR_BAD_PATHNAME = 161;
constexpr LONG ERROR_INVALID_PARAMETER_STATUS = static_cast<LONG>(ERROR_INVALID_PARAMETER);
// The rights that name a registry view rather than ask for access.
constexpr REGSAM view_flags = KEY_WOW64_64KEY | KEY_WOW64_32KEY;
// The predefined roots are open to the helper for everything.
constexpr REGSAM root_access = 0x000F003F | DELETE;

struct KeyObject : sim::HandleObject {
    KeyObject(KeyPtr key, REGSAM access) : key(std::move(key)), access(access) {}
    KeyPtr key;
    REGSAM access;
};

LONG status(DWORD error) { return static_cast<LONG>(error); }

std::u16string_view text_of(const char16_t* text) {
    return text == nullptr ? std::u16string_view{} : std::u16string_view{text};
}

// Machine::enter reports through the last error; registry calls return it.
std::optional<LONG> refused(Machine& machine, const char* function, bool changes_machine,
                            std::u16string_view name = {}) {
    const DWORD kept = machine.last_error;
    if (machine.enter(function, changes_machine, name)) return std::nullopt;
    const DWORD error = machine.last_error;
    machine.last_error = kept;
    return status(error);
}

// The key behind a handle with the rights it was opened with, or the
// status to fail with.
struct OpenKey {
    KeyPtr key;
    REGSAM access = 0;
    LONG error = 0;
};

OpenKey refusal(DWORD error) { return OpenKey{nullptr, 0, status(error)}; }

OpenKey open_key_of(Machine& machine, HKEY handle) {
    if (machine.registry.is_root(handle)) return {machine.registry.root(handle), root_access};
    auto* object = machine.handle<KeyObject>(reinterpret_cast<HANDLE>(handle));
    if (object == nullptr) return refusal(ERROR_INVALID_HANDLE);
    if (object->key->deleted) return refusal(ERROR_KEY_DELETED);
    return {object->key, object->access};
}

// The key behind a handle that must have been opened with `needed`.
OpenKey open_key_with(Machine& machine, HKEY handle, REGSAM needed) {
    OpenKey open = open_key_of(machine, handle);
    if (open.error == 0 && (open.access & needed) != needed)
        open.error = status(ERROR_ACCESS_DENIED);
    return open;
}

bool denies(const Key& key, REGSAM desired) {
    return (key.denied_access & (desired & ~view_flags)) != 0;
}

HKEY new_handle(Machine& machine, KeyPtr key, REGSAM desired) {
    return reinterpret_cast<HKEY>(
        machine.add_handle(std::make_unique<KeyObject>(std::move(key), desired & ~view_flags)));
}

}  // namespace

LONG RegOpenKeyExW(HKEY key, const char16_t* sub_key, DWORD options, REGSAM desired, HKEY* result) {
    Machine& machine = current();
    *result = nullptr;
    if (auto failed = refused(machine, "RegOpenKeyExW", false, text_of(sub_key))) return *failed;
    if ((options & ~REG_OPTION_OPEN_LINK) != 0) return ERROR_INVALID_PARAMETER_STATUS;
    const OpenKey base = open_key_of(machine, key);
    if (base.error != 0) return base.error;
    if (text_of(sub_key).empty() && machine.registry.is_root(key)) {
        *result = key;
        return ERROR_SUCCESS;
    }
    const sim::KeyLookup lookup =
        machine.registry.resolve(base.key, text_of(sub_key), (options & REG_OPTION_OPEN_LINK) != 0);
    if (!lookup.key) return status(lookup.error);
    if (denies(*lookup.key, desired)) return status(ERROR_ACCESS_DENIED);
    *result = new_handle(machine, lookup.key, desired);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY key, const char16_t* sub_key, DWORD options, REGSAM desired, HKEY* result,
                     DWORD* disposition) {
    Machine& machine = current();
    *result = nullptr;
    if (auto failed = refused(machine, "RegCreateKeyExW", true, text_of(sub_key))) return *failed;
    if (sub_key == nullptr || (options & ~(REG_OPTION_CREATE_LINK | REG_OPTION_OPEN_LINK)) != 0)
        return ERROR_INVALID_PARAMETER_STATUS;
    const OpenKey base = open_key_of(machine, key);
    if (base.error != 0) return base.error;

    // Existing keys are opened (an existing link at the last component is
    // followed unless a link is being made or REG_OPTION_OPEN_LINK asks for
    // the link itself); missing ones are created in turn, each where the
    // caller may create subkeys.
    const bool making_link = (options & (REG_OPTION_CREATE_LINK | REG_OPTION_OPEN_LINK)) != 0;
    KeyPtr current_key = base.key;
    std::u16string_view rest = text_of(sub_key);
    bool created = false;
    while (true) {
        const std::size_t separator = rest.find(u'\\');
        const std::u16string_view component = rest.substr(0, separator);
        const bool last = separator == std::u16string_view::npos;
        if (component.empty() && !(last && current_key == base.key))
            return status(ERROR_BAD_PATHNAME);
        sim::KeyLookup lookup =
            machine.registry.resolve(current_key, component, last && making_link);
        if (!lookup.key) {
            if (lookup.error != ERROR_FILE_NOT_FOUND) return status(lookup.error);
            // HKEY_LOCAL_MACHINE and HKEY_USERS hold only hives.
            if (lookup.parent->parent == nullptr || denies(*lookup.parent, KEY_CREATE_SUB_KEY))
                return status(ERROR_ACCESS_DENIED);
            lookup.key = machine.registry.create_child(*lookup.parent, lookup.leaf);
            lookup.key->is_link = last && (options & REG_OPTION_CREATE_LINK) != 0;
            created = true;
        } else if (last && denies(*lookup.key, desired)) {
            return status(ERROR_ACCESS_DENIED);
        }
        current_key = lookup.key;
        if (last) break;
        rest.remove_prefix(separator + 1);
    }
    if (disposition != nullptr)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = new_handle(machine, current_key, desired);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, const char16_t* value_name, DWORD* type, std::uint8_t* data,
                      DWORD* data_size) {
    Machine& machine = current();
    if (auto failed = refused(machine, "RegQueryValueExW", false, text_of(value_name)))
        return *failed;
    const OpenKey open = open_key_with(machine, key, KEY_QUERY_VALUE);
    if (open.error != 0) return open.error;
    if (data != nullptr && data_size == nullptr) return ERROR_INVALID_PARAMETER_STATUS;
    sim::KeyValue* value = open.key->find_value(text_of(value_name));
    if (value == nullptr) return status(ERROR_FILE_NOT_FOUND);
    if (type != nullptr) *type = value->type;
    const auto size = static_cast<DWORD>(value->data.size());
    if (data == nullptr) {
        if (data_size == nullptr) return ERROR_SUCCESS;
        *data_size = size;
        // Another program writes the value again right after it was measured.
        if (!value->rewrites_after_size_query.empty()) {
            value->data = std::move(value->rewrites_after_size_query.front());
            value->rewrites_after_size_query.erase(value->rewrites_after_size_query.begin());
        }
        return ERROR_SUCCESS;
    }
    const DWORD room = *data_size;
    *data_size = size;
    if (room < size) return status(ERROR_MORE_DATA);
    if (size > 0) std::memcpy(data, value->data.data(), size);
    return ERROR_SUCCESS;
}

LONG RegEnumValueW(HKEY key, DWORD index, char16_t* name, DWORD* name_length) {
    Machine& machine = current();
    if (auto failed = refused(machine, "RegEnumValueW", false)) return *failed;
    const OpenKey open = open_key_with(machine, key, KEY_QUERY_VALUE);
    if (open.error != 0) return open.error;
    if (name == nullptr || name_length == nullptr) return ERROR_INVALID_PARAMETER_STATUS;
    auto& values = open.key->values;
    if (index >= values.size()) return status(ERROR_NO_MORE_ITEMS);
    const sim::KeyValue& value = values[index];
    if (value.name.size() + 1 > *name_length) return status(ERROR_MORE_DATA);
    std::copy(value.name.begin(), value.name.end(), name);
    name[value.name.size()] = u'\0';
    *name_length = static_cast<DWORD>(value.name.size());
    if (value.vanishes_after_enumeration) values.erase(values.begin() + index);
    return ERROR_SUCCESS;
}

LONG RegQueryInfoKeyW(HKEY key, DWORD* sub_keys) {
    Machine& machine = current();
    if (auto failed = refused(machine, "RegQueryInfoKeyW", false)) return *failed;
    const OpenKey open = open_key_with(machine, key, KEY_QUERY_VALUE);
    if (open.error != 0) return open.error;
    if (sub_keys != nullptr) *sub_keys = static_cast<DWORD>(open.key->subkeys.size());
    return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, const char16_t* value_name, DWORD type, const std::uint8_t* data,
                    DWORD data_size) {
    Machine& machine = current();
    if (auto failed = refused(machine, "RegSetValueExW", true, text_of(value_name))) return *failed;
    const OpenKey open = open_key_with(machine, key, KEY_SET_VALUE);
    if (open.error != 0) return open.error;
    if (data == nullptr && data_size != 0) return ERROR_INVALID_PARAMETER_STATUS;
    sim::Bytes bytes(data_size);
    if (data_size > 0) std::memcpy(bytes.data(), data, data_size);
    // An existing value keeps its place and the letter case of its name.
    sim::KeyValue* value = open.key->find_value(text_of(value_name));
    if (value == nullptr)
        value = &open.key->values.emplace_back(
            sim::KeyValue{std::u16string(text_of(value_name)), type, {}, {}, false});
    value->type = type;
    value->data = std::move(bytes);
    return ERROR_SUCCESS;
}

LONG RegDeleteValueW(HKEY key, const char16_t* value_name) {
    Machine& machine = current();
    if (auto failed = refused(machine, "RegDeleteValueW", true, text_of(value_name)))
        return *failed;
    const OpenKey open = open_key_with(machine, key, KEY_SET_VALUE);
    if (open.error != 0) return open.error;
    auto& values = open.key->values;
    const sim::KeyValue* value = open.key->find_value(text_of(value_name));
    if (value == nullptr) return status(ERROR_FILE_NOT_FOUND);
    values.erase(values.begin() + (value - values.data()));
    return ERROR_SUCCESS;
}

LONG RegDeleteKeyExW(HKEY key, const char16_t* sub_key, REGSAM) {
    Machine& machine = current();
    if (auto failed = refused(machine, "RegDeleteKeyExW", true, text_of(sub_key))) return *failed;
    if (sub_key == nullptr) return ERROR_INVALID_PARAMETER_STATUS;
    const OpenKey base = open_key_of(machine, key);
    if (base.error != 0) return base.error;
    // The subkey is opened for DELETE as an ordinary open would: a link
    // there is followed, and its target is what goes.
    const sim::KeyLookup lookup = machine.registry.resolve(base.key, text_of(sub_key), false);
    if (!lookup.key) return status(lookup.error);
    Key& doomed = *lookup.key;
    if (doomed.parent == nullptr || doomed.parent->parent == nullptr || denies(doomed, DELETE) ||
        !doomed.subkeys.empty())
        return status(ERROR_ACCESS_DENIED);
    machine.registry.remove(doomed);
    return ERROR_SUCCESS;
}

LONG RegFlushKey(HKEY key) {
    Machine& machine = current();
    if (auto failed = refused(machine, "RegFlushKey", true)) return *failed;
    const OpenKey open = open_key_with(machine, key, KEY_QUERY_VALUE);
    if (open.error != 0) return open.error;
    if (open.key->flush_error != 0) return status(open.key->flush_error);
    machine.registry.flush(*open.key);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    Machine& machine = current();
    if (auto failed = refused(machine, "RegCloseKey", false)) return *failed;
    if (machine.registry.is_root(key)) return ERROR_SUCCESS;
    const auto handle = reinterpret_cast<HANDLE>(key);
    if (machine.handle<KeyObject>(handle) == nullptr) return status(ERROR_INVALID_HANDLE);
    machine.close_handle(handle);
    return ERROR_SUCCESS;
}

}  // namespace win
