// The IUnknown part of a COM class: a reference count that starts at one (the
// creator's reference), the object deleted at the last Release, and
// QueryInterface over IUnknown and the interfaces the class names.
//
//   class DropSource final : public tessera::win32::ComObject<IDropSource> {
//       // only IDropSource's own methods
//   };
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace tessera::win32 {

template <class First, class... Others>
class ComObject : public First, public Others... {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = IsEqualIID(iid, IID_IUnknown) ? static_cast<First*>(this) : Find<First, Others...>(iid);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

private:
    template <class Interface, class... Rest>
    void* Find(REFIID iid) {
        if (IsEqualIID(iid, __uuidof(Interface))) return static_cast<Interface*>(this);
        if constexpr (sizeof...(Rest) > 0) {
            return Find<Rest...>(iid);
        } else {
            return nullptr;
        }
    }

    LONG references_ = 1;
};

}  // namespace tessera::win32
