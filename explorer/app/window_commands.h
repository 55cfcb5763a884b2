// The explorer window as the host of the archive commands (Extract, Delete,
// Test, Create, Add): what the commands library asks of a window, answered
// by one ExplorerWindow.
#pragma once

#include "command_ids.h"
#include "commands.h"

namespace tessera {

class ExplorerWindow;

class WindowCommandHost final : public tescommands::CommandHost {
public:
    explicit WindowCommandHost(ExplorerWindow& window);

    HWND Owner() override;
    HINSTANCE Resources() override;
    const tescommands::OperationSettings& Settings() override;
    ICompressFormat* Archive() override;
    bool HasSelectedEntries() override;
    bool BuildSelection(tesview::SelectionBuffer* selection) override;
    IArchiveFolder* SelectedFolder() override;
    HRESULT RunOperation(const tescommands::OperationCall& call, unsigned flags) override;
    std::string LogText() override;
    bool AdoptArchive(ICompressFormat* object) override;
    bool OpenArchive(const char* path, bool addToHistory) override;
    void ForgetArchive(const char* path) override;
    void ExploreFolder(const char* folder) override;

private:
    ExplorerWindow& window_;
    tescommands::OperationSettings settings_;
};

// The operation settings of the commands from the program's settings.
tescommands::OperationSettings CommandSettings();

}  // namespace tessera
