// The archive object's interface: reference counting, the front ends'
// argument checks, operation codes and result mapping, and the base class's
// answers for operations a format does not offer.
#include "fake_format.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

namespace {

// A new object the way the factory hands it out: one reference.
FakeFormat* NewObject() {
    auto* object = new FakeFormat;
    object->AddRef();
    return object;
}

TEST(FrontEnd, QueryInterfaceAndRelease) {
    FakeFormat::destroyed = 0;
    FakeFormat* object = NewObject();
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->QueryInterface(IID_ICompressFormat, &out), S_OK);
    EXPECT_EQ(out, static_cast<ICompressFormat*>(object));
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, &out), S_OK);
    const IID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->QueryInterface(unknown, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(object->Release(), 2u);
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_EQ(FakeFormat::destroyed, 0);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(FakeFormat::destroyed, 1);
}

// The outcome record through its own interface: a part of the object that
// shares its reference count, reset by every operation, copied no further
// than the caller's record reaches.
TEST(FrontEnd, OutcomeInterface) {
    FakeFormat::destroyed = 0;
    FakeFormat* object = NewObject();
    IArchiveOutcome* outcome = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IArchiveOutcome, reinterpret_cast<void**>(&outcome)), S_OK);
    void* back = nullptr;
    EXPECT_EQ(outcome->QueryInterface(IID_ICompressFormat, &back), S_OK);
    EXPECT_EQ(back, static_cast<ICompressFormat*>(object));
    object->Release();  // the reference `back` took

    object->m_outcome.processed = 5;
    object->m_outcome.failed = 1;
    object->m_op = OP_EXTRACT;
    ARCOUTCOME record = {};
    record.cbSize = sizeof record;
    EXPECT_EQ(outcome->GetOutcome(&record), S_OK);
    EXPECT_EQ(record.processed, 5u);
    EXPECT_EQ(record.failed, 1u);
    // An older, shorter record gets only its own fields.
    ARCOUTCOME shorter;
    memset(&shorter, 0xAB, sizeof shorter);
    shorter.cbSize = offsetof(ARCOUTCOME, failed);
    EXPECT_EQ(outcome->GetOutcome(&shorter), S_OK);
    EXPECT_EQ(shorter.cbSize, offsetof(ARCOUTCOME, failed));
    EXPECT_EQ(shorter.processed, 5u);
    EXPECT_EQ(shorter.failed, 0xABABABABu);
    record.cbSize = 4;
    EXPECT_EQ(outcome->GetOutcome(&record), E_INVALIDARG);
    EXPECT_EQ(outcome->GetOutcome(nullptr), E_INVALIDARG);

    // The next operation starts from zero and names itself.
    object->Test(nullptr);
    record.cbSize = sizeof record;
    EXPECT_EQ(outcome->GetOutcome(&record), S_OK);
    EXPECT_EQ(record.operation, static_cast<DWORD>(OP_TEST));
    EXPECT_EQ(record.processed + record.failed, 0u);

    EXPECT_EQ(outcome->Release(), 1u);
    EXPECT_EQ(FakeFormat::destroyed, 0);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(FakeFormat::destroyed, 1);
}

// The interface table in its fixed order, as a caller written from the slot
// table alone sees it: slot n is the n-th pointer of the table.
TEST(FrontEnd, SlotOrder) {
    FakeFormat* object = NewObject();
    void** table = *reinterpret_cast<void***>(static_cast<ICompressFormat*>(object));
    using GetEntryCountSlot = DWORD(STDMETHODCALLTYPE*)(ICompressFormat*);
    using HasCapabilitySlot = BOOL(STDMETHODCALLTYPE*)(ICompressFormat*, DWORD);
    using SetOptionSlot = void(STDMETHODCALLTYPE*)(ICompressFormat*, DWORD_PTR);
    using GetOptionSlot = DWORD_PTR(STDMETHODCALLTYPE*)(ICompressFormat*);
    object->SetFormatId(FORMAT_TAR);
    EXPECT_EQ(reinterpret_cast<GetEntryCountSlot>(table[21])(object), 0u);
    EXPECT_TRUE(reinterpret_cast<HasCapabilitySlot>(table[20])(object, CAP_EXTRACT | CAP_EXTRACTNEWER));
    EXPECT_FALSE(reinterpret_cast<HasCapabilitySlot>(table[20])(object, CAP_TEST));
    reinterpret_cast<SetOptionSlot>(table[31])(object, 77);
    EXPECT_EQ(reinterpret_cast<GetOptionSlot>(table[29])(object), 77u);
    object->Release();
}

TEST(FrontEnd, BaseClassOffersNothing) {
    CCompressFormat base;
    base.AddRef();
    char buffer[GETTEXT_BUFFER] = "x";
    EXPECT_EQ(base.GetText(TEXT_PATH, reinterpret_cast<DWORD_PTR>("a"), buffer), E_NOTIMPL);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(base.List(nullptr), E_NOTIMPL);
    EXPECT_EQ(base.Test(nullptr), E_NOTIMPL);
    DWORD size = 0;
    BOOL split = FALSE;
    EXPECT_EQ(base.SplitDialog(nullptr, &size, &split), E_NOTIMPL);
    DWORD id = 5;
    EXPECT_FALSE(base.GetSfxModuleId(FALSE, &id));
    EXPECT_EQ(id, 0u);
}

// Hook outcome -> result at the interface.
TEST(FrontEnd, ResultMapping) {
    struct Case {
        HRESULT hook;
        bool warns;
        bool cancels;
        bool callback;
        HRESULT expected;
    } cases[] = {
        {S_OK, false, false, true, S_OK},
        {S_OK, true, false, true, S_FALSE},
        {S_OK, true, false, false, S_OK},  // Warn without a callback sets nothing
        {E_FAIL, false, false, true, E_FAIL},
        {E_FAIL, false, true, true, E_ABORT},
        {E_FAIL, true, false, true, E_FAIL},
        {E_OUTOFMEMORY, false, true, true, E_ABORT},
        {S_OK, false, true, true, S_OK},  // a cancel that the hook survived
    };
    for (const Case& c : cases) {
        FakeFormat* object = NewObject();
        LogLines log;
        if (c.callback) log.Attach(object);
        object->hookResult = c.hook;
        object->hookWarns = c.warns;
        object->hookCancels = c.cancels;
        EXPECT_EQ(object->Test(nullptr), c.expected) << std::hex << c.hook << " warns " << c.warns << " cancels " << c.cancels;
        object->Release();
    }
}

// A cancel request of a finished operation does not stop the next one,
// a listing included.
TEST(FrontEnd, CancelRequestIsClearedByEveryOperation) {
    FakeFormat* object = NewObject();
    object->hookResult = E_FAIL;
    object->Cancel();
    EXPECT_EQ(object->Test(nullptr), E_FAIL);
    object->Cancel();
    EXPECT_EQ(object->List(nullptr), E_FAIL);
    object->Release();
}

TEST(FrontEnd, RequiredArguments) {
    FakeFormat* object = NewObject();
    SELHDRSTRUCT one = {0, 0, nullptr};
    char list[16] = {};
    auto* files = reinterpret_cast<const ADDFILEINFO*>(list);
    EXPECT_EQ(object->Delete(nullptr, FALSE, FALSE, "C:\\", nullptr, 1), E_INVALIDARG);
    EXPECT_EQ(object->Delete(nullptr, FALSE, FALSE, "C:\\", &one, 0), E_INVALIDARG);
    EXPECT_EQ(object->UpdateEntries(nullptr, "C:\\", nullptr, 1), E_INVALIDARG);
    EXPECT_EQ(object->UpdateEntries(nullptr, "C:\\", &one, 0), E_INVALIDARG);
    EXPECT_EQ(object->Add(nullptr, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, nullptr, "C:\\", files), E_INVALIDARG);
    EXPECT_EQ(object->Add(nullptr, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, "", nullptr, files), E_INVALIDARG);
    EXPECT_EQ(object->Add(nullptr, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, "", "C:\\", nullptr), E_INVALIDARG);
    EXPECT_EQ(object->hookCalls, 0);
    EXPECT_EQ(object->levelSeen, 0xFFFFFFFFu);
    object->Release();
}

TEST(FrontEnd, OperationCodes) {
    FakeFormat* object = NewObject();
    object->extractEntries = false;
    char list[16] = {};
    auto* files = reinterpret_cast<const ADDFILEINFO*>(list);
    SELHDRSTRUCT one = {0, 0, nullptr};
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    struct Case {
        const char* what;
        HRESULT (*run)(FakeFormat*, const ADDFILEINFO*, SELHDRSTRUCT*, const char*);
        DWORD op;
    } cases[] = {
        {"add", [](FakeFormat* o, const ADDFILEINFO* f, SELHDRSTRUCT*, const char*) {
             return o->Add(nullptr, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, "", "C:\\", f); }, OP_ADD},
        {"update", [](FakeFormat* o, const ADDFILEINFO* f, SELHDRSTRUCT*, const char*) {
             return o->Add(nullptr, 0, 0, 0, 3, 1, 1, 0, 0, 0, 0, 0, "", "C:\\", f); }, OP_UPDATE},
        {"freshen", [](FakeFormat* o, const ADDFILEINFO* f, SELHDRSTRUCT*, const char*) {
             return o->Add(nullptr, 0, 0, 0, 3, 0, 1, 0, 0, 0, 0, 0, "", "C:\\", f); }, OP_FRESHEN},
        {"extract", [](FakeFormat* o, const ADDFILEINFO*, SELHDRSTRUCT*, const char* t) {
             return o->Extract(nullptr, 0, 1, 0, t, nullptr, 0); }, OP_EXTRACT},
        {"extract newer", [](FakeFormat* o, const ADDFILEINFO*, SELHDRSTRUCT*, const char* t) {
             return o->Extract(nullptr, 0, 1, 1, t, nullptr, 0); }, OP_UPDATE},
        {"test", [](FakeFormat* o, const ADDFILEINFO*, SELHDRSTRUCT*, const char*) { return o->Test(nullptr); }, OP_TEST},
        {"delete", [](FakeFormat* o, const ADDFILEINFO*, SELHDRSTRUCT* s, const char*) {
             return o->Delete(nullptr, 0, 0, "C:\\", s, 1); }, OP_DELETE},
        {"update entries", [](FakeFormat* o, const ADDFILEINFO*, SELHDRSTRUCT* s, const char*) {
             return o->UpdateEntries(nullptr, "C:\\", s, 1); }, OP_UPDATEENTRIES},
        {"make exe", [](FakeFormat* o, const ADDFILEINFO*, SELHDRSTRUCT*, const char*) {
             return o->MakeEXE(nullptr, "C:\\", "C:\\x.exe", "MZ", 2); }, OP_MAKEEXE},
        {"remove exe", [](FakeFormat* o, const ADDFILEINFO*, SELHDRSTRUCT*, const char*) {
             return o->RemoveEXE(nullptr, "C:\\", "C:\\x.zip"); }, OP_REMOVEEXE},
        {"set comment", [](FakeFormat* o, const ADDFILEINFO*, SELHDRSTRUCT*, const char*) {
             return o->SetComment(nullptr, "C:\\", "hi"); }, OP_SETCOMMENT},
        {"get comment", [](FakeFormat* o, const ADDFILEINFO*, SELHDRSTRUCT*, const char*) {
             char b[8]; return o->GetComment(nullptr, b, sizeof b); }, OP_GETCOMMENT},
        {"check", [](FakeFormat* o, const ADDFILEINFO*, SELHDRSTRUCT*, const char*) {
             BOOL r; return o->Check(nullptr, &r); }, OP_CHECK},
        {"list", [](FakeFormat* o, const ADDFILEINFO*, SELHDRSTRUCT*, const char*) { return o->List(nullptr); }, OP_LIST},
    };
    for (const Case& c : cases) {
        object->opSeen = 0xFFFFFFFF;
        EXPECT_EQ(c.run(object, files, &one, temp), S_OK) << c.what;
        EXPECT_EQ(object->opSeen, c.op) << c.what;
    }
    EXPECT_EQ(object->levelSeen, 3u);
    object->Release();
}

TEST(FrontEnd, TotalsCountFilesAndFolders) {
    FakeFormat* object = NewObject();
    object->listing = {{"a/", 0, FILE_ATTRIBUTE_DIRECTORY}, {"a/1", 10}, {"a/2", 20}, {"b/", 0, FILE_ATTRIBUTE_DIRECTORY}, {"b/3", 30}};
    ASSERT_EQ(object->List(nullptr), S_OK);
    DWORD size = 0, packed = 0, folders = 0, files = 0;
    object->GetTotals(&size, &packed, &folders, &files);
    EXPECT_EQ(folders, 2u);
    EXPECT_EQ(files, 3u);
    EXPECT_EQ(size, 60u);
    object->GetTotals(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(object->GetEntryCount(), 5u);
    EXPECT_STREQ(object->GetEntries()[1].name, "a/1");
    object->Release();
}

TEST(FrontEnd, FolderTreeUsesTheFormatsNames) {
    FakeFormat* object = NewObject();
    object->listing = {{"a/b/c.txt"}, {"a/", 0, FILE_ATTRIBUTE_DIRECTORY}};
    ASSERT_EQ(object->List(nullptr), S_OK);
    IUnknown* tree = nullptr;
    ASSERT_EQ(object->GetFolderTree(&tree), S_OK);
    IArchiveFolder* root = nullptr;
    ASSERT_EQ(tree->QueryInterface(IID_IArchiveFolder, reinterpret_cast<void**>(&root)), S_OK);
    EXPECT_EQ(root->GetFolderCount(), 1u);
    IEnumArchiveFolders* folders = nullptr;
    ASSERT_EQ(root->EnumFolders(0, &folders), S_OK);
    IArchiveFolder* a = nullptr;
    ULONG fetched = 0;
    EXPECT_EQ(folders->Next(1, &a, &fetched), S_OK);
    ASSERT_EQ(fetched, 1u);
    EXPECT_STREQ(a->GetName(), "a");
    EXPECT_EQ(a->GetEntryIndex(), 1u);
    a->Release();
    folders->Release();
    root->Release();
    tree->Release();
    object->Release();
}

TEST(FrontEnd, RatioAndPlainExtension) {
    EXPECT_EQ(CCompressFormat::ComputeRatio(0, 0), 0);
    EXPECT_EQ(CCompressFormat::ComputeRatio(200, 50), 75);
    EXPECT_EQ(CCompressFormat::ComputeRatio(100, 150), -50);
    EXPECT_EQ(CCompressFormat::ComputeRatio(0, 10), -1);
    FakeFormat* object = NewObject();
    object->SetFormatId(FORMAT_ZIP_SFX);
    EXPECT_STREQ(object->GetPlainExtension(), ".zip");
    object->SetFormatId(FORMAT_ZIP);
    EXPECT_EQ(object->GetPlainExtension(), nullptr);
    object->Release();
}

}  // namespace
