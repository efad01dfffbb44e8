// RAII owners for everything the helper obtains from Windows. Each kind
// records the value its API uses for "no object" and how it is released, so
// a resource is released exactly once, on every path.
#pragma once

#include "platform/win_api.h"

#include <utility>

namespace installer_helper {

template <typename Traits>
class UniqueResource {
public:
    using pointer = typename Traits::pointer;

    UniqueResource() = default;
    explicit UniqueResource(pointer value) : value_(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    pointer get() const { return value_; }
    bool valid() const { return Traits::is_valid(value_); }
    explicit operator bool() const { return valid(); }
    pointer release() { return std::exchange(value_, Traits::invalid()); }
    void reset(pointer value = Traits::invalid()) {
        const pointer old = std::exchange(value_, value);
        if (Traits::is_valid(old)) Traits::close(old);
    }
    // For out-parameters: releases what is held and lends the slot.
    pointer* put() {
        reset();
        return &value_;
    }

private:
    pointer value_ = Traits::invalid();
};

// File and search handles are invalid at INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using pointer = win::HANDLE;
    static pointer invalid() { return win::INVALID_HANDLE_VALUE; }
    static bool is_valid(pointer value) {
        return value != win::INVALID_HANDLE_VALUE && value != nullptr;
    }
    static void close(pointer value) { win::CloseHandle(value); }
};
using FileHandle = UniqueResource<FileHandleTraits>;
// A toolhelp snapshot fails with INVALID_HANDLE_VALUE, as a file does.
using SnapshotHandle = UniqueResource<FileHandleTraits>;

struct FindHandleTraits {
    using pointer = win::HANDLE;
    static pointer invalid() { return win::INVALID_HANDLE_VALUE; }
    static bool is_valid(pointer value) { return value != win::INVALID_HANDLE_VALUE; }
    static void close(pointer value) { win::FindClose(value); }
};
using FindHandle = UniqueResource<FindHandleTraits>;

// Process and token handles are invalid at null. INVALID_HANDLE_VALUE is
// refused as well: it is the current-process pseudo-handle, never owned.
struct KernelHandleTraits {
    using pointer = win::HANDLE;
    static pointer invalid() { return nullptr; }
    static bool is_valid(pointer value) {
        return value != nullptr && value != win::INVALID_HANDLE_VALUE;
    }
    static void close(pointer value) { win::CloseHandle(value); }
};
using KernelHandle = UniqueResource<KernelHandleTraits>;

// Memory that the system allocated with LocalAlloc for the caller.
template <typename T>
struct LocalMemoryTraits {
    using pointer = T*;
    static pointer invalid() { return nullptr; }
    static bool is_valid(pointer value) { return value != nullptr; }
    static void close(pointer value) { win::LocalFree(value); }
};
template <typename T>
using LocalMemory = UniqueResource<LocalMemoryTraits<T>>;

// A block from CreateEnvironmentBlock; only DestroyEnvironmentBlock frees it.
struct EnvironmentBlockTraits {
    using pointer = void*;
    static pointer invalid() { return nullptr; }
    static bool is_valid(pointer value) { return value != nullptr; }
    static void close(pointer value) { win::DestroyEnvironmentBlock(value); }
};
using EnvironmentBlock = UniqueResource<EnvironmentBlockTraits>;

}  // namespace installer_helper
