// Owning handles: one template, a traits type per kind of handle. A handle
// owns what it holds from construction to destruction (or reset/release);
// it moves but never copies.
//
//   tessera::win32::FileHandle file(CreateFileA(...));
//   if (!file) ...;                       // INVALID_HANDLE_VALUE
//   ReadFile(file.get(), ...);
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <utility>

namespace tessera::win32 {

template <class Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Type value) noexcept : value_(value) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Type get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }
    // Gives up ownership without closing.
    Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }
    void reset(Type value = Traits::Invalid()) noexcept {
        Type old = std::exchange(value_, value);
        if (old != Traits::Invalid()) Traits::Close(old);
    }
    // For out-parameters (RegOpenKeyExA(..., key.put())): closes what is held first.
    Type* put() noexcept {
        reset();
        return &value_;
    }

private:
    Type value_ = Traits::Invalid();
};

namespace traits {

// The kinds whose "none" is null, and the two whose "none" is
// INVALID_HANDLE_VALUE; each kind adds its Close.
template <class T>
struct NullIsNone {
    using Type = T;
    static Type Invalid() noexcept { return nullptr; }
};
struct InvalidIsNone {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
};

// Files, pipes and other kernel objects opened by CreateFile.
struct File : InvalidIsNone {
    static void Close(Type h) noexcept { CloseHandle(h); }
};
// Processes, threads, events, mappings.
struct Kernel : NullIsNone<HANDLE> {
    static void Close(Type h) noexcept { CloseHandle(h); }
};
struct Find : InvalidIsNone {
    static void Close(Type h) noexcept { FindClose(h); }
};
struct RegistryKey : NullIsNone<HKEY> {
    static void Close(Type h) noexcept { RegCloseKey(h); }
};
struct Menu : NullIsNone<HMENU> {
    static void Close(Type h) noexcept { DestroyMenu(h); }
};
struct Icon : NullIsNone<HICON> {
    static void Close(Type h) noexcept { DestroyIcon(h); }
};
// Fonts, bitmaps, brushes, pens.
template <class Object>
struct Gdi : NullIsNone<Object> {
    static void Close(Object h) noexcept { DeleteObject(h); }
};
struct ImageList : NullIsNone<HIMAGELIST> {
    static void Close(Type h) noexcept { ImageList_Destroy(h); }
};
struct Global : NullIsNone<HGLOBAL> {
    static void Close(Type h) noexcept { GlobalFree(h); }
};
struct Module : NullIsNone<HMODULE> {
    static void Close(Type h) noexcept { FreeLibrary(h); }
};
// Memory of the COM task allocator (item identifier lists, strings the
// shell hands out).
template <class T>
struct TaskMemory : NullIsNone<T*> {
    static void Close(T* p) noexcept { CoTaskMemFree(p); }
};
struct Window : NullIsNone<HWND> {
    static void Close(Type h) noexcept { DestroyWindow(h); }
};

}  // namespace traits

using FileHandle = UniqueHandle<traits::File>;
using KernelHandle = UniqueHandle<traits::Kernel>;
using FindHandle = UniqueHandle<traits::Find>;
using RegistryKey = UniqueHandle<traits::RegistryKey>;
using MenuHandle = UniqueHandle<traits::Menu>;
using IconHandle = UniqueHandle<traits::Icon>;
using FontHandle = UniqueHandle<traits::Gdi<HFONT>>;
using BitmapHandle = UniqueHandle<traits::Gdi<HBITMAP>>;
using BrushHandle = UniqueHandle<traits::Gdi<HBRUSH>>;
using ImageListHandle = UniqueHandle<traits::ImageList>;
using GlobalMemory = UniqueHandle<traits::Global>;
using ModuleHandle = UniqueHandle<traits::Module>;
using WindowHandle = UniqueHandle<traits::Window>;
template <class T>
using TaskMemory = UniqueHandle<traits::TaskMemory<T>>;

// A locked global memory block: the pointer while it lives, unlocked after.
template <class T = void>
class LockedGlobal {
public:
    explicit LockedGlobal(HGLOBAL block) noexcept : block_(block), data_(static_cast<T*>(::GlobalLock(block))) {}
    ~LockedGlobal() {
        if (data_) ::GlobalUnlock(block_);
    }
    LockedGlobal(const LockedGlobal&) = delete;
    LockedGlobal& operator=(const LockedGlobal&) = delete;
    T* get() const noexcept { return data_; }
    explicit operator bool() const noexcept { return data_ != nullptr; }

private:
    HGLOBAL block_;
    T* data_;
};

}  // namespace tessera::win32
