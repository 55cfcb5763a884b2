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

// Files, pipes and other kernel objects whose "none" is INVALID_HANDLE_VALUE.
struct File {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { CloseHandle(h); }
};
// Processes, threads, events, mappings: "none" is null.
struct Kernel {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { CloseHandle(h); }
};
struct Find {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { FindClose(h); }
};
struct RegistryKey {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { RegCloseKey(h); }
};
struct Menu {
    using Type = HMENU;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { DestroyMenu(h); }
};
struct Icon {
    using Type = HICON;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { DestroyIcon(h); }
};
// Fonts, bitmaps, brushes, pens.
template <class Object>
struct Gdi {
    using Type = Object;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { DeleteObject(h); }
};
struct ImageList {
    using Type = HIMAGELIST;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ImageList_Destroy(h); }
};
struct Global {
    using Type = HGLOBAL;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { GlobalFree(h); }
};
struct Module {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { FreeLibrary(h); }
};
struct Window {
    using Type = HWND;
    static Type Invalid() noexcept { return nullptr; }
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
