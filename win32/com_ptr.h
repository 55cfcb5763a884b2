// An owning COM interface pointer: Release on destruction, AddRef on copy.
//
//   tessera::win32::ComPtr<ICompressFormat> archive;
//   ArcCreateObject(owner, path, archive.put());
//   archive->List(owner);
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <utility>

namespace tessera::win32 {

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    // Takes over a reference the caller owns (no AddRef).
    explicit ComPtr(T* owned) noexcept : pointer_(owned) {}
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr& other) noexcept : pointer_(other.pointer_) {
        if (pointer_) pointer_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : pointer_(other.detach()) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(pointer_, other.pointer_);
        return *this;
    }

    // A new reference to a pointer someone else owns.
    static ComPtr Share(T* borrowed) noexcept {
        if (borrowed) borrowed->AddRef();
        return ComPtr(borrowed);
    }

    T* get() const noexcept { return pointer_; }
    T* operator->() const noexcept { return pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }
    // Hands the reference to the caller.
    T* detach() noexcept { return std::exchange(pointer_, nullptr); }
    void reset() noexcept {
        if (T* old = std::exchange(pointer_, nullptr)) old->Release();
    }
    // For out-parameters of factories: releases what is held first.
    T** put() noexcept {
        reset();
        return &pointer_;
    }
    // QueryInterface into another ComPtr; the HRESULT of the query.
    template <class U>
    HRESULT As(REFIID iid, ComPtr<U>* out) const noexcept {
        if (!pointer_) return E_POINTER;
        return pointer_->QueryInterface(iid, reinterpret_cast<void**>(out->put()));
    }

private:
    T* pointer_ = nullptr;
};

}  // namespace tessera::win32
