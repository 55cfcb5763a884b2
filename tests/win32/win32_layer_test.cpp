// The Win32 helper layer: what each owner closes and when, reference counts
// through ComPtr, and a dialog's messages reaching its members.
#include "win32/com_ptr.h"
#include "win32/dialog.h"
#include "win32/handles.h"
#include "win32/scope.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace tessera::win32;

bool IsOpen(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

TEST(Win32Handles, CloseOnceOnResetDestructionAndMoveNeverOnRelease) {
    HANDLE raw = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    {
        KernelHandle event(raw);
        ASSERT_TRUE(event);
        KernelHandle moved(std::move(event));
        EXPECT_FALSE(event);
        EXPECT_EQ(moved.get(), raw);
        EXPECT_TRUE(IsOpen(raw));
    }
    EXPECT_FALSE(IsOpen(raw));

    HANDLE kept = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    {
        KernelHandle event(kept);
        EXPECT_EQ(event.release(), kept);
    }
    EXPECT_TRUE(IsOpen(kept));
    KernelHandle owner(kept);
    HANDLE second = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    owner.reset(second);
    EXPECT_FALSE(IsOpen(kept));
    EXPECT_TRUE(IsOpen(second));
}

TEST(Win32Handles, InvalidValuesOfEachKind) {
    FileHandle missing(CreateFileA("Z:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(missing);  // INVALID_HANDLE_VALUE, not null, means none
    WIN32_FIND_DATAA found;
    FindHandle find(FindFirstFileA("Z:\\no\\such\\*", &found));
    EXPECT_FALSE(find);
    RegistryKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    EXPECT_TRUE(key);
    MenuHandle menu(CreatePopupMenu());
    EXPECT_TRUE(menu);
    GlobalMemory block(GlobalAlloc(GMEM_MOVEABLE, 16));
    ASSERT_TRUE(block);
    LockedGlobal<char> bytes(block.get());
    ASSERT_TRUE(bytes);
    bytes.get()[0] = 'x';
}

// An IUnknown that counts its references.
class Counted : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!IsEqualIID(iid, IID_IUnknown)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    ULONG references = 1;
};

TEST(Win32ComPtr, ReferencesFollowOwnership) {
    Counted object;
    {
        ComPtr<IUnknown> first(&object);  // takes the creator's reference
        EXPECT_EQ(object.references, 1u);
        ComPtr<IUnknown> copy = first;
        EXPECT_EQ(object.references, 2u);
        ComPtr<IUnknown> queried;
        EXPECT_EQ(first.As(IID_IUnknown, &queried), S_OK);
        EXPECT_EQ(object.references, 3u);
        ComPtr<IUnknown> other;
        const IID unknownInterface = {0x1234, 0x5678, 0x9ABC, {1, 2, 3, 4, 5, 6, 7, 8}};
        EXPECT_EQ(first.As(unknownInterface, &other), E_NOINTERFACE);
        EXPECT_FALSE(other);
        ComPtr<IUnknown> moved(std::move(copy));
        EXPECT_EQ(object.references, 3u);
        IUnknown* handedOut = moved.detach();
        EXPECT_EQ(object.references, 3u);
        handedOut->Release();
        ComPtr<IUnknown> shared = ComPtr<IUnknown>::Share(&object);
        EXPECT_EQ(object.references, 3u);
    }
    EXPECT_EQ(object.references, 0u);
}

TEST(Win32Scope, GuardRunsUnlessDismissed) {
    int runs = 0;
    { auto guard = OnScopeExit([&] { ++runs; }); }
    EXPECT_EQ(runs, 1);
    {
        auto guard = OnScopeExit([&] { ++runs; });
        guard.Dismiss();
    }
    EXPECT_EQ(runs, 1);
}

// A dialog that records what reached it; a timer plays the user.
class RecordingDialog : public Dialog {
public:
    std::vector<std::string> seen;
    int pressed = IDOK;
    std::string typed;

protected:
    BOOL OnInitDialog() override {
        seen.push_back("init");
        SetText(1001, "hello");
        SetTimer(Handle(), 1, 10, nullptr);
        return TRUE;
    }
    BOOL OnCommand(int id, int code, HWND control) override {
        if (id == IDOK) {
            typed = Text(1001);
            seen.push_back("ok");
            End(42);
            return TRUE;
        }
        return Dialog::OnCommand(id, code, control);
    }
    BOOL OnMessage(UINT message, WPARAM, LPARAM) override {
        if (message != WM_TIMER) return FALSE;
        KillTimer(Handle(), 1);
        PostMessageA(Handle(), WM_COMMAND, MAKEWPARAM(pressed, BN_CLICKED), 0);
        return TRUE;
    }
    void OnDestroy() override { seen.push_back("destroy"); }
};

TEST(Win32Dialog, MessagesReachTheMembers) {
    HINSTANCE module = GetModuleHandleA(nullptr);
    RecordingDialog ok;
    EXPECT_EQ(ok.RunModal(module, 100, nullptr), 42);
    EXPECT_EQ(ok.typed, "hello");
    EXPECT_EQ(ok.seen, (std::vector<std::string>{"init", "ok", "destroy"}));
    EXPECT_EQ(ok.Handle(), nullptr);

    RecordingDialog cancelled;
    cancelled.pressed = IDCANCEL;  // the base ends the dialog
    EXPECT_EQ(cancelled.RunModal(module, 100, nullptr), IDCANCEL);
    EXPECT_EQ(cancelled.seen, (std::vector<std::string>{"init", "destroy"}));

    RecordingDialog missing;
    EXPECT_EQ(missing.RunModal(module, 999, nullptr), -1);
    EXPECT_TRUE(missing.seen.empty());
}

}  // namespace
