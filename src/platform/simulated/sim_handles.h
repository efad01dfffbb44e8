// What the simulated machine's handles refer to.
#pragma once

#include "platform/simulated/file_system.h"
#include "platform/simulated/machine.h"

#include <string>
#include <vector>

namespace sim {

// Standard streams are fixed values, as console handles are on Windows.
inline win::HANDLE const standard_output_handle = reinterpret_cast<win::HANDLE>(0x10);
inline win::HANDLE const standard_error_handle = reinterpret_cast<win::HANDLE>(0x14);

struct FileObject : HandleObject {
    FileObject(FileSystem& files, NodePtr node, DWORD access, DWORD share)
        : files(files), node(std::move(node)), access(access),
          opening(files.open(*this->node, access, share)) {}
    ~FileObject() override { files.close(*node, opening); }
    FileSystem& files;
    NodePtr node;
    DWORD access;
    int opening;
    std::size_t position = 0;
};

struct FindObject : HandleObject {
    std::vector<win::WIN32_FIND_DATAW> entries;
    std::size_t next = 0;
};

struct TokenObject : HandleObject {
    std::string user_sid;
    bool elevated = false;
    DWORD access = 0;
};

// A handle whose object has a token of its own (a process).
struct TokenSource : HandleObject {
    // Fills in the token's user and elevation; false (last error set) when
    // the token may not be opened.
    virtual bool token_for(TokenObject& token, DWORD desired_access) = 0;
};

}  // namespace sim
