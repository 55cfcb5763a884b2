// Setup's command line.
#include "setup/records/setup_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace tessera::setup;

TEST(SetupOptions, Forms) {
    struct Case {
        std::vector<std::u16string> arguments;
        SetupAction action;
        bool unattended;
        InstallScope scope;
        std::u16string folder;
    };
    const Case cases[] = {
        {{}, SetupAction::Install, false, InstallScope::Default, u""},
        {{u"ignored"}, SetupAction::Install, false, InstallScope::Default, u""},
        {{u"/u"}, SetupAction::Uninstall, false, InstallScope::Default, u""},
        {{u"/U", u"/S"}, SetupAction::Uninstall, true, InstallScope::Default, u""},
        {{u"/S", u"/PerUser", u"/D=C:\\My Programs\\Tessera"}, SetupAction::Install, true, InstallScope::CurrentUser,
         u"C:\\My Programs\\Tessera"},
        {{u"/s", u"/ALLUSERS"}, SetupAction::Install, true, InstallScope::Machine, u""},
        {{u"/assoc", u"ZIP"}, SetupAction::AssociateZip, false, InstallScope::Default, u""},
    };
    for (const Case& c : cases) {
        auto options = ParseSetupOptions(c.arguments);
        ASSERT_TRUE(options);
        EXPECT_EQ(options->action, c.action);
        EXPECT_EQ(options->unattended, c.unattended);
        EXPECT_EQ(options->scope, c.scope);
        EXPECT_EQ(options->folder, c.folder);
    }
}

TEST(SetupOptions, RefusesWhatItDoesNotKnow) {
    const std::vector<std::vector<std::u16string>> cases = {
        {u"/X"}, {u"/S", u"stray"}, {u"/D="}, {u"/PERUSER", u"/ALLUSERS"}, {u"/US"}, {u"/assoc"}, {u"/assoc", u"RAR"}};
    for (const auto& arguments : cases) {
        std::u16string problem;
        EXPECT_FALSE(ParseSetupOptions(arguments, &problem));
        EXPECT_FALSE(problem.empty());
    }
}

}  // namespace
