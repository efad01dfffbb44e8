#include "platform/simulated/registry.h"

#include "platform/simulated/case_mapping.h"
#include "text_encoding.h"

#include <algorithm>
#include <stdexcept>

namespace sim {
namespace {

using installer_helper::utf16_from_wtf8;
using installer_helper::wtf8_from_utf16;

constexpr DWORD ERROR_BAD_PATHNAME = 161;
// Link chains longer than this end the lookup, as a loop would.
constexpr int max_link_depth = 16;

KeyPtr make_root() { return std::make_shared<Key>(); }

KeyLookup failed_lookup(DWORD error) { return KeyLookup{nullptr, nullptr, {}, error}; }
KeyLookup found_key(KeyPtr key) { return KeyLookup{std::move(key), nullptr, {}, 0}; }

KeyPtr clone(const Key& key, Key* parent) {
    auto copy = std::make_shared<Key>();
    copy->name = key.name;
    copy->parent = parent;
    copy->values = key.values;
    copy->is_link = key.is_link;
    copy->denied_access = key.denied_access;
    copy->flush_error = key.flush_error;
    for (const auto& [upper, child] : key.subkeys) copy->subkeys[upper] = clone(*child, copy.get());
    return copy;
}

void mark_deleted(Key& key) {
    key.deleted = true;
    for (auto& [upper, child] : key.subkeys) mark_deleted(*child);
}

std::vector<std::u16string> setup_components(std::string_view path) {
    std::vector<std::u16string> components;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        if (end > start) components.push_back(utf16_from_wtf8(path.substr(start, end - start)));
        start = end + 1;
    }
    return components;
}

// "\Registry\Machine" or "\Registry\User", then the end or a backslash.
bool starts_with_root(std::u16string_view target, std::u16string_view prefix,
                      std::u16string_view& rest) {
    if (target.size() < prefix.size() ||
        !equal_ignoring_case(target.substr(0, prefix.size()), prefix))
        return false;
    rest = target.substr(prefix.size());
    if (rest.empty()) return true;
    if (rest.front() != u'\\') return false;
    rest.remove_prefix(1);
    return true;
}

}  // namespace

KeyValue* Key::find_value(std::u16string_view value_name) {
    const auto found = std::find_if(values.begin(), values.end(), [&](const KeyValue& value) {
        return equal_ignoring_case(value.name, value_name);
    });
    return found == values.end() ? nullptr : &*found;
}

Registry::Registry()
    : machine_(make_root()),
      users_(make_root()),
      durable_machine_(make_root()),
      durable_users_(make_root()) {}

Key& Registry::add_key(win::HKEY root_key, std::string_view path) {
    Key* current = root(root_key).get();
    for (const std::u16string& component : setup_components(path)) {
        const auto found = current->subkeys.find(upper_case(component));
        current = found != current->subkeys.end() ? found->second.get()
                                                  : create_child(*current, component).get();
    }
    make_all_durable();
    return *current;
}

KeyValue& Registry::set_value(win::HKEY root_key, std::string_view path, std::string_view name,
                              DWORD type, Bytes data) {
    Key& key = add_key(root_key, path);
    const std::u16string wide_name = utf16_from_wtf8(name);
    KeyValue* value = key.find_value(wide_name);
    if (value == nullptr)
        value = &key.values.emplace_back(KeyValue{wide_name, type, {}, {}, false});
    value->type = type;
    value->data = std::move(data);
    make_all_durable();
    return *value;
}

Key& Registry::add_link(win::HKEY root_key, std::string_view path, std::string_view target) {
    Key& link = add_key(root_key, path);
    link.is_link = true;
    const std::u16string units = utf16_from_wtf8(target);
    Bytes bytes;
    for (const char16_t unit : units) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    set_value(root_key, path, "SymbolicLinkValue", win::REG_LINK, std::move(bytes));
    return link;
}

Key* Registry::find(win::HKEY root_key, std::string_view path) {
    Key* current = root(root_key).get();
    for (const std::u16string& component : setup_components(path)) {
        const auto found = current->subkeys.find(upper_case(component));
        if (found == current->subkeys.end()) return nullptr;
        current = found->second.get();
    }
    return current;
}

const KeyValue* Registry::value(win::HKEY root_key, std::string_view path, std::string_view name) {
    Key* key = find(root_key, path);
    return key == nullptr ? nullptr : key->find_value(utf16_from_wtf8(name));
}

std::vector<std::string> Registry::value_names(win::HKEY root_key, std::string_view path) {
    std::vector<std::string> names;
    if (Key* key = find(root_key, path))
        for (const KeyValue& value : key->values) names.push_back(wtf8_from_utf16(value.name));
    return names;
}

std::vector<std::string> Registry::subkey_names(win::HKEY root_key, std::string_view path) {
    std::vector<std::string> names;
    if (Key* key = find(root_key, path))
        for (const auto& [upper, child] : key->subkeys)
            names.push_back(wtf8_from_utf16(child->name));
    return names;
}

void Registry::remove_key(win::HKEY root_key, std::string_view path) {
    if (Key* key = find(root_key, path); key != nullptr && key->parent != nullptr) remove(*key);
    make_all_durable();
}

bool Registry::is_root(win::HKEY key) const {
    return key == win::HKEY_LOCAL_MACHINE || key == win::HKEY_USERS;
}

const KeyPtr& Registry::root(win::HKEY key) {
    if (key == win::HKEY_LOCAL_MACHINE) return machine_;
    if (key == win::HKEY_USERS) return users_;
    throw std::invalid_argument(
        "sim: the registry has the roots HKEY_LOCAL_MACHINE and HKEY_USERS");
}

KeyLookup Registry::resolve(const KeyPtr& start, std::u16string_view path, bool open_link) {
    return walk(start, path, open_link, 0);
}

KeyLookup Registry::walk(const KeyPtr& start, std::u16string_view path, bool open_link, int depth) {
    KeyPtr current = start;
    std::size_t position = 0;
    while (!path.empty()) {
        if (current->deleted) return failed_lookup(win::ERROR_KEY_DELETED);
        const std::size_t separator = path.find(u'\\', position);
        const bool last = separator == std::u16string_view::npos;
        const std::u16string_view component =
            path.substr(position, last ? std::u16string_view::npos : separator - position);
        if (component.empty()) return failed_lookup(ERROR_BAD_PATHNAME);
        const auto found = current->subkeys.find(upper_case(component));
        if (found == current->subkeys.end())
            return {nullptr, current, std::u16string(component), win::ERROR_FILE_NOT_FOUND};
        KeyPtr next = found->second;
        if (next->is_link && !(last && open_link)) {
            next = follow_link(*next, depth + 1);
            if (!next) return failed_lookup(win::ERROR_FILE_NOT_FOUND);
        }
        current = std::move(next);
        if (last) break;
        position = separator + 1;
    }
    if (current->deleted) return failed_lookup(win::ERROR_KEY_DELETED);
    return found_key(current);
}

KeyPtr Registry::follow_link(const Key& link, int depth) {
    if (depth > max_link_depth) return nullptr;
    const auto target_value =
        std::find_if(link.values.begin(), link.values.end(), [](const KeyValue& value) {
            return equal_ignoring_case(value.name, u"SymbolicLinkValue");
        });
    if (target_value == link.values.end() || target_value->type != win::REG_LINK) return nullptr;
    std::u16string target;
    for (std::size_t i = 0; i + 1 < target_value->data.size(); i += 2)
        target.push_back(
            static_cast<char16_t>(target_value->data[i] | (target_value->data[i + 1] << 8)));
    std::u16string_view rest;
    if (starts_with_root(target, u"\\Registry\\Machine", rest))
        return walk(machine_, rest, false, depth).key;
    if (starts_with_root(target, u"\\Registry\\User", rest))
        return walk(users_, rest, false, depth).key;
    return nullptr;
}

KeyPtr Registry::create_child(Key& parent, std::u16string_view name) {
    auto child = std::make_shared<Key>();
    child->name = std::u16string(name);
    child->parent = &parent;
    parent.subkeys[upper_case(name)] = child;
    return child;
}

void Registry::remove(Key& key) {
    Key* parent = key.parent;
    mark_deleted(key);
    parent->subkeys.erase(upper_case(key.name));
}

KeyPtr& Registry::live_root_of(const Key& key) {
    const Key* node = &key;
    while (node->parent != nullptr) node = node->parent;
    return node == machine_.get() ? machine_ : users_;
}

KeyPtr& Registry::durable_root_of(const Key& key) {
    return &live_root_of(key) == &machine_ ? durable_machine_ : durable_users_;
}

void Registry::flush(const Key& key) {
    const Key* hive = &key;
    while (hive->parent != nullptr && hive->parent->parent != nullptr) hive = hive->parent;
    KeyPtr& durable_root = durable_root_of(key);
    if (hive->parent == nullptr) {
        durable_root = clone(*hive, nullptr);
        return;
    }
    durable_root->subkeys[upper_case(hive->name)] = clone(*hive, durable_root.get());
}

void Registry::power_loss() {
    machine_ = clone(*durable_machine_, nullptr);
    users_ = clone(*durable_users_, nullptr);
}

void Registry::make_all_durable() {
    durable_machine_ = clone(*machine_, nullptr);
    durable_users_ = clone(*users_, nullptr);
}

}  // namespace sim
