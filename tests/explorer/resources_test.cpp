// The program's menu bar, context menus and accelerator table as loaded
// from its resources, against the tables they must hold.
#include "resource_ids.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// One menu line: depth, text ("-" for a separator), id (0 for popups).
struct Line {
    int depth;
    std::string text;
    UINT id;
    bool operator==(const Line& other) const {
        return depth == other.depth && text == other.text && id == other.id;
    }
};

void Walk(HMENU menu, int depth, std::vector<Line>* lines) {
    for (int position = 0; position < GetMenuItemCount(menu); ++position) {
        char text[256] = "";
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text;
        ASSERT_TRUE(GetMenuItemInfoA(menu, position, TRUE, &info));
        if (info.fType & MFT_SEPARATOR) {
            lines->push_back({depth, "-", 0});
        } else if (info.hSubMenu) {
            lines->push_back({depth, text, 0});
            Walk(info.hSubMenu, depth + 1, lines);
        } else {
            lines->push_back({depth, text, info.wID});
        }
    }
}

std::vector<Line> Load(UINT id) {
    std::vector<Line> lines;
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
    EXPECT_NE(menu, nullptr);
    if (menu) {
        Walk(menu, 0, &lines);
        DestroyMenu(menu);
    }
    return lines;
}

void ExpectLines(const std::vector<Line>& actual, const std::vector<Line>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t index = 0; index < expected.size(); ++index) {
        EXPECT_EQ(actual[index].depth, expected[index].depth) << index << " " << expected[index].text;
        EXPECT_EQ(actual[index].text, expected[index].text) << index;
        EXPECT_EQ(actual[index].id, expected[index].id) << index << " " << expected[index].text;
    }
}

TEST(Resources, MenuBar) {
    ExpectLines(Load(IDR_MAIN_MENU), {
        {0, "&Archive", 0},
        {1, "&Create...\tCtrl+N", 32770}, {1, "&Open...\tCtrl+O", 32776}, {1, "C&lose", 32777}, {1, "-", 0},
        {1, "&Properties...\tCtrl+I", 32774}, {1, "-", 0}, {1, "&Rename...\tCtrl+R", 32771},
        {1, "Cop&y...\tF7", 32772}, {1, "Mo&ve...\tF8", 32773}, {1, "&Delete", 32769}, {1, "-", 0},
        {1, "P&rint Content...\tCtrl+P", 40028}, {1, "-", 0}, {1, "&Send to", 0},
        {2, "&Mail Recipient...\tCtrl+M", 40009}, {2, "-", 0}, {2, "&Link on Desktop", 32768}, {1, "-", 0},
        {1, "Last archive", 32778}, {1, "-", 0}, {1, "&Exit\tAlt+F4", 32796},
        {0, "&Edit", 0},
        {1, "&Cut\tCtrl+X", 32789}, {1, "C&opy\tCtrl+C", 32787}, {1, "&Paste\tCtrl+V", 32788}, {1, "-", 0},
        {1, "Select &Group...", 32785}, {1, "-", 0}, {1, "Select &All\tCtrl+A", 32783},
        {1, "Select &None", 32784},
        {0, "A&ctions", 0},
        {1, "&Add...\tCtrl+F6", 40012}, {1, "&Extract...\tF6", 32795}, {1, "&Delete", 32793}, {1, "-", 0},
        {1, "&Open\tReturn", 40014}, {1, "-", 0}, {1, "&View\tCtrl+W", 32794}, {1, "&Test\tCtrl+T", 40016},
        {1, "-", 0}, {1, "Create .exe &file...", 40033}, {1, "&Remove .exe module", 40032}, {1, "-", 0},
        {1, "Vie&w Output...\tF9", 40034},
        {0, "&View", 0},
        {1, "Tool&bar", 0}, {2, "Customize...", 40064}, {1, "-", 0}, {1, "&Folder Tree", 40041}, {1, "-", 0},
        {1, "&Sort by", 0}, {2, "&Filename", 32797}, {2, "&Date", 32802}, {2, "&Ratio", 32799},
        {2, "P&acked Size", 32800}, {2, "&Type", 32801}, {2, "&Size", 32798}, {2, "&Path", 32803},
        {2, "&Original Order", 32804}, {2, "-", 0}, {2, "Sort As&cending", 40046}, {2, "Sort D&escending", 40047},
        {0, "&Tools", 0},
        {1, "&Browse Archives...\tCtrl+Z", 40030}, {1, "-", 0}, {1, "&Options...\tF2", 40027},
        {0, "&?", 0},
        {1, "H&elp on Help", 40002}, {1, "-", 0}, {1, "Tessera on the &Web", 40003},
        {1, "Send &Feedback...", 40004}, {1, "-", 0}, {1, "About &Tessera...", 40035},
    });
}

TEST(Resources, ContextMenus) {
    ExpectLines(Load(IDR_CONTEXT_MENUS), {
        {0, "Main", 0},
        {1, "&Open\tEnter", 40014}, {1, "-", 0}, {1, "&View\tCtrl+W", 32794}, {1, "&Extract...\tF6", 40043},
        {1, "&Delete...", 32793}, {1, "-", 0}, {1, "C&ut\tCtrl+X", 32789}, {1, "&Copy\tCtrl+C", 32787},
        {1, "-", 0}, {1, "Select &Group...", 32785}, {1, "-", 0}, {1, "Select &All\tCtrl+A", 32783},
        {1, "Select &None", 32784}, {1, "-", 0}, {1, "&Properties", 40042},
        {0, "Root", 0},
        {1, "&Explorer", 40063}, {1, "-", 0}, {1, "&Add...\tCtrl+F6", 40012}, {1, "&Extract...\tF6", 32795},
        {1, "&Test\tCtrl+T", 40016}, {1, "-", 0}, {1, "&Close", 32777}, {1, "-", 0},
        {1, "&Rename...\tCtrl+R", 32771}, {1, "C&opy...\tF7", 32772}, {1, "&Move...\tF8", 32773},
        {1, "&Delete", 32769}, {1, "-", 0}, {1, "&Properties", 32774},
        {0, "Folder", 0},
        {1, "&Explorer", 40063}, {1, "-", 0}, {1, "&Extract...\tF6", 40019}, {1, "&Delete...", 40020},
        {1, "-", 0}, {1, "&Copy\tCtrl+C", 40021}, {1, "C&ut\tCtrl+X", 40022}, {1, "-", 0},
        {1, "&Properties", 40060},
        {0, "Search", 0},
        {1, "&Open", 40054}, {1, "&View", 40057}, {1, "-", 0}, {1, "Open &archive...", 40056}, {1, "-", 0},
        {1, "&Properties", 40055},
    });
}

TEST(Resources, AcceleratorTable) {
    struct Key {
        BYTE modifiers;  // FCONTROL, FALT, FSHIFT
        WORD key;
        WORD command;
    };
    const BYTE C = FCONTROL, A = FALT, S = FSHIFT;
    const Key expected[] = {
        {C | A, '0', 32804}, {C | A, '1', 32797}, {C | A, '2', 32802}, {C | A, '3', 32798},
        {C | A, '4', 32799}, {C | A, '5', 32800}, {C | A, '6', 32803},
        {C, 'A', 32783}, {C, VK_ADD, 32783}, {C, VK_SUBTRACT, 32784}, {C, 'G', 32785}, {C, VK_MULTIPLY, 32785},
        {C, 'C', 32787}, {C, 'X', 32789}, {C, 'V', 32788}, {C, 'D', 32793}, {0, VK_DELETE, 32793},
        {C, 'E', 32795}, {0, VK_F6, 32795}, {C, 'H', 40012}, {C, VK_F6, 40012}, {0, VK_RETURN, 40014},
        {C, 'W', 32794}, {C, 'T', 40016}, {C, 'I', 32774}, {C | S, 'I', 40042}, {C, 'N', 32770},
        {C, 'O', 32776}, {C, 'R', 32771}, {0, VK_F7, 32772}, {0, VK_F8, 32773}, {C, 'L', 32768},
        {C, 'M', 40009}, {C, 'P', 40028}, {C, 'S', 40033}, {C, 'F', 40032}, {C, 'U', 40074},
        {C, VK_BACK, 40044}, {S, VK_BACK, 40045}, {0, VK_F1, 40035}, {0, VK_F2, 40027}, {0, VK_F9, 40034},
        {C, 'Z', 40030}, {C | A, 'C', 40073},
    };
    HACCEL table = LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_ACCELERATORS));
    ASSERT_NE(table, nullptr);
    std::vector<ACCEL> actual(static_cast<size_t>(CopyAcceleratorTableA(table, nullptr, 0)));
    CopyAcceleratorTableA(table, actual.data(), static_cast<int>(actual.size()));
    ASSERT_EQ(actual.size(), sizeof expected / sizeof expected[0]);
    for (size_t index = 0; index < actual.size(); ++index) {
        EXPECT_EQ(actual[index].fVirt & ~FNOINVERT, FVIRTKEY | expected[index].modifiers) << index;
        EXPECT_EQ(actual[index].key, expected[index].key) << index;
        EXPECT_EQ(actual[index].cmd, expected[index].command) << index;
    }
}

TEST(Resources, EveryMenuCommandHasAHelpText) {
    std::vector<Line> lines = Load(IDR_MAIN_MENU);
    std::vector<Line> context = Load(IDR_CONTEXT_MENUS);
    lines.insert(lines.end(), context.begin(), context.end());
    for (const Line& line : lines) {
        if (line.id == 0) continue;
        char text[256] = "";
        EXPECT_GT(LoadStringA(GetModuleHandleA(nullptr), line.id, text, sizeof text), 0) << line.id;
    }
}

}  // namespace
