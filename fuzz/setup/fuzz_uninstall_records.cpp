// libFuzzer target for Setup's uninstall information: the strict reader,
// the check of every record against an installation's folders, and the
// writer, which must give back a file that reads as the same records.
//
// Run: fuzz_uninstall_records NEWDIR (the reader rejects almost everything
// without the marker; -max_len=8192 keeps a handful of records).
#include <cstddef>
#include <cstdint>

#include "setup/records/installation_layout.h"
#include "setup/records/uninstall_records.h"

using namespace tessera::setup;

namespace {

void Check(const std::optional<std::vector<UninstallRecord>>& records) {
    if (!records) return;
    const InstallationFolders folders = {u"C:\\Program Files\\Tessera", u"C:\\Users\\me\\Desktop",
                                         u"C:\\Users\\me\\Programs\\Tessera 3.0"};
    (void)RecordsWithinInstallation(*records, folders);
    auto written = WriteUninstallFile(*records);
    if (!written) __builtin_trap();  // everything read fits its field again
    auto again = ReadUninstallFile(*written);
    if (!again || *again != *records) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Once as it is, once behind the marker, so that the records vary.
    static const char16_t kMarker[] = u"TESSERA_UNINSTALL_INFORMATION";
    std::vector<uint8_t> file;
    for (size_t i = 0; kMarker[i]; ++i) {
        file.push_back(static_cast<uint8_t>(kMarker[i]));
        file.push_back(static_cast<uint8_t>(kMarker[i] >> 8));
    }
    file.insert(file.end(), data, data + size);
    Check(ReadUninstallFile(data, size));
    Check(ReadUninstallFile(file));
    return 0;
}
