#include "setup/records/setup_options.h"

namespace tessera::setup {
namespace {

bool EqualsIgnoringCase(const std::u16string& text, const char16_t* word) {
    size_t i = 0;
    for (; word[i]; ++i) {
        if (i >= text.size()) return false;
        char16_t c = text[i];
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
        if (c != word[i]) return false;
    }
    return i == text.size();
}

}  // namespace

std::optional<SetupOptions> ParseSetupOptions(const std::vector<std::u16string>& arguments,
                                              std::u16string* problem) {
    SetupOptions options;
    bool scopeGiven = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::u16string& argument = arguments[i];
        const bool option = !argument.empty() && argument[0] == u'/';
        bool understood = true;
        if (!option) {
            understood = i == 0;
        } else if (EqualsIgnoringCase(argument, u"/U")) {
            options.action = SetupAction::Uninstall;
        } else if (EqualsIgnoringCase(argument, u"/ASSOC")) {
            understood = i + 1 < arguments.size() && EqualsIgnoringCase(arguments[i + 1], u"ZIP");
            options.action = SetupAction::AssociateZip;
            ++i;
        } else if (EqualsIgnoringCase(argument, u"/S")) {
            options.unattended = true;
        } else if (EqualsIgnoringCase(argument, u"/PERUSER") || EqualsIgnoringCase(argument, u"/ALLUSERS")) {
            understood = !scopeGiven;
            scopeGiven = true;
            const bool perUser = argument[1] == u'P' || argument[1] == u'p';
            options.scope = perUser ? InstallScope::CurrentUser : InstallScope::Machine;
        } else if (argument.size() > 3 && EqualsIgnoringCase(argument.substr(0, 3), u"/D=")) {
            options.folder = argument.substr(3);
        } else {
            understood = false;
        }
        if (!understood) {
            if (problem) *problem = argument;
            return std::nullopt;
        }
    }
    return options;
}

}  // namespace tessera::setup
