// The main window's side of the settings: the recent list's menu and its clicks.
#include "Main.h"

#include "Errors.h"
#include "Utils.h"

namespace {

const char* const Unit = "Main";

// The program and its arguments as they would be typed, the folder (if any) in the menu's
// second column. A menu shows "&" as the mark of an accelerator; the items show their
// texts as they are.
std::string MenuCaption(const TRunEntry& run)
{
    std::string caption = run.Arguments.empty() ? run.Program : run.Program + " " + run.Arguments;
    if (!run.Folder.empty())
        caption += "\t" + run.Folder;
    return ReplaceAll(caption, "&", "&&");
}

} // namespace

void TfrmMain::LoadSettings()
{
    Settings.Load();
    TraceView->SetGrouping(Settings.GroupByShape ? TStatementGrouping::Shape : TStatementGrouping::Text);
    UpdateRecentMenu(pmnRecents.get());
}

void TfrmMain::SaveSettings() { Settings.Save(); }

void TfrmMain::AddRecent(const TRunEntry& entry, bool atTop)
{
    Settings.AddRecent(entry, atTop);
    UpdateRecentMenu(pmnRecents.get());
}

void TfrmMain::UpdateRecentMenu(HMENU menu)
{
    while (GetMenuItemCount(menu) < static_cast<int>(Recents.size())) {
        int id = cmRecentFirst + GetMenuItemCount(menu);
        VASSERT(id <= cmRecentLast, Unit);
        AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(id), "");
    }
    for (size_t i = 0; i < Recents.size(); ++i) {
        std::string caption = MenuCaption(Recents[i]);
        MENUITEMINFOA item{};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_STRING;
        item.dwTypeData = caption.data();
        SetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &item);
    }
}

void TfrmMain::RecentItemClick(int commandId)
{
    int index = commandId - cmRecentFirst;
    VASSERT(index >= 0 && index < GetMenuItemCount(pmnRecents.get()) && index < static_cast<int>(Recents.size()),
            Unit);
    // Items and entries go in step (UpdateRecentMenu); the entry is copied, as running it
    // moves it in the list.
    TRunEntry run = Recents[static_cast<size_t>(index)];
    RunProgram(run);
}
