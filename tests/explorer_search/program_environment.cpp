#include "program_environment.h"

#include "application.h"
#include "private_registry.h"
#include "tescore.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace tessera;

namespace search_tests {

namespace {

const char kTestsKey[] = "Software\\TesseraTests";

int RecordMessage(HWND, const char* text, const char*, UINT) {
    Messages().push_back(text);
    return IDOK;
}

int CALLBACK EngineMessage(void*, HWND, LPCSTR text, LPCSTR, UINT) {
    Messages().push_back(text ? text : "");
    return IDOK;
}

const ARCPROMPTHANDLER kPrompts = {nullptr, EngineMessage, nullptr, nullptr, nullptr, nullptr,
                                   ARCPROMPT_NOSTATUSDIALOG};

class ProgramEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        registry_.Redirect("explorer_search");
        ASSERT_TRUE(StartApplication(GetModuleHandleA(nullptr)));
        SetMessageBoxHook(RecordMessage);
        ArcSetPromptHandler(&kPrompts);
    }
    void TearDown() override {
        ArcSetPromptHandler(nullptr);
        EndApplication();
        registry_.Restore();
    }

private:
    tessera::testing::PrivateUserRegistry registry_;
};
::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new ProgramEnvironment);

}  // namespace

std::vector<std::string>& Messages() {
    static std::vector<std::string> messages;
    return messages;
}

void Pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) continue;
        if (App().windows.PreTranslate(&message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void PumpFor(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    do {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        Pump();
    } while (GetTickCount() - start < milliseconds);
}

PrivateClassesRoot::PrivateClassesRoot() {
    char name[64];
    snprintf(name, sizeof name, "%s\\classes_%lu", kTestsKey, GetCurrentProcessId());
    name_ = name;
    // A key below the test's own current-user key stands in for the root.
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        RegOverridePredefKey(HKEY_CLASSES_ROOT, key);
        RegCloseKey(key);
    }
}

PrivateClassesRoot::~PrivateClassesRoot() {
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegDeleteTreeA(HKEY_CURRENT_USER, name_.c_str());
}

}  // namespace search_tests
