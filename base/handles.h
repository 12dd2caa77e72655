// Owners of Win32 handles that close them exactly once, whatever way the code leaves: a file
// (or another kernel object opened with CreateFile), a search of FindFirstFile, a loaded module,
// an event. Each kind has its own value for "no handle".
#pragma once

#include <windows.h>

#include <utility>

template <typename Handle, Handle (*Invalid)(), BOOL(WINAPI* Release)(Handle)> class OwnedHandle {
public:
    OwnedHandle() : handle_(Invalid()) {}
    explicit OwnedHandle(Handle handle) : handle_(handle) {}
    ~OwnedHandle() { reset(); }
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.release()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    bool valid() const { return handle_ != Invalid(); }
    Handle get() const { return handle_; }
    Handle release() { return std::exchange(handle_, Invalid()); }
    // Closes the handle held, if any, and holds `handle` instead.
    void reset(Handle handle = Invalid())
    {
        if (valid())
            Release(handle_);
        handle_ = handle;
    }

private:
    Handle handle_;
};

namespace handles {
inline HANDLE InvalidFile()
{
    return INVALID_HANDLE_VALUE;
}
inline HANDLE NoHandle()
{
    return nullptr;
}
inline HMODULE NoModule()
{
    return nullptr;
}
}  // namespace handles

typedef OwnedHandle<HANDLE, handles::InvalidFile, CloseHandle> FileHandle;
typedef OwnedHandle<HANDLE, handles::InvalidFile, FindClose> FindHandle;
typedef OwnedHandle<HMODULE, handles::NoModule, FreeLibrary> ModuleHandle;
typedef OwnedHandle<HANDLE, handles::NoHandle, CloseHandle> EventHandle;
