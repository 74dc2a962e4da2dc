#include "MainWindowFixture.h"

#include "Utils.h"

void MainWindowTest::SetUp() { CreateForm(); }

void MainWindowTest::TearDown()
{
    // A test that failed mid-session: end it (a run session's program ends with it).
    if (Form)
        Form->Session.End();
    Form.reset();
    SetEnvironmentVariableA("VELLORAN_GUI_SCRIPT", nullptr);
    MessageLoop().ProcessMessages();
}

void MainWindowTest::CreateForm()
{
    Form = std::make_unique<TfrmMain>(SettingsPath());
    ShowWindow(Form->Handle, SW_SHOWNORMAL);
    UpdateWindow(Form->Handle);
    PumpFor(50);
}

void MainWindowTest::DestroyForm() { Form.reset(); }

std::vector<TListRow> MainWindowTest::Rows() const
{
    std::vector<TListRow> rows;
    HWND list = Form->TraceView->lvwTrace;
    for (int i = 0, count = ListRowCount(list); i < count; ++i) {
        TListRow row;
        row.Caption = ListTextUtf8(list, i, 0);
        for (int column = 1; column < 4; ++column)
            row.SubItems.push_back(ListTextUtf8(list, i, column));
        rows.push_back(row);
    }
    return rows;
}

bool MainWindowTest::SessionActive() const { return Form->Session.Active(); }

std::vector<std::string> MainWindowTest::Captions() const
{
    std::vector<std::string> captions;
    for (const TListRow& row : Rows())
        captions.push_back(row.Caption);
    return captions;
}

std::string MainWindowTest::Caption() const { return WindowText(Form->Handle); }

bool MainWindowTest::WaitForFinish(DWORD timeoutMs)
{
    return PumpUntil(
        [&] {
            int n = Form->TraceView->TraceRows.RowCount();
            return !SessionActive() && n > 0 && Form->TraceView->TraceRows.CellText(n - 1, 0) == "Finish";
        },
        timeoutMs);
}

bool MainWindowTest::WaitForRow(const std::string& caption, DWORD timeoutMs)
{
    return PumpUntil(
        [&] {
            for (int i = Form->TraceView->TraceRows.RowCount() - 1; i >= 0; --i)
                if (Form->TraceView->TraceRows.CellText(i, 0) == caption)
                    return true;
            return false;
        },
        timeoutMs);
}

void MainWindowTest::RunToFinish(const std::string& path)
{
    Form->RunProgram(path);
    ASSERT_TRUE(WaitForFinish()) << "no Finish row for " << path;
}

bool MainWindowTest::MenuEnabled(int id) const
{
    return !(GetMenuState(Form->mmu, static_cast<UINT>(id), MF_BYCOMMAND) & MF_GRAYED);
}

bool MainWindowTest::MenuChecked(int id) const
{
    return GetMenuState(Form->mmu, static_cast<UINT>(id), MF_BYCOMMAND) & MF_CHECKED;
}

bool MainWindowTest::ButtonEnabled(int id) const
{
    return SendMessageA(Form->ToolBar1, TB_ISBUTTONENABLED, static_cast<WPARAM>(id), 0) != 0;
}

bool MainWindowTest::ButtonChecked(int id) const
{
    return SendMessageA(Form->ToolBar1, TB_ISBUTTONCHECKED, static_cast<WPARAM>(id), 0) != 0;
}

void MainWindowTest::Command(int id) { SendMessageA(Form->Handle, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

void MainWindowTest::SelectRow(int index)
{
    // A click leaves no other row selected.
    if (index >= 0 && SendMessageA(Form->TraceView->lvwTrace, LVM_GETSELECTEDCOUNT, 0, 0) > 0) {
        LVITEMA none{};
        none.stateMask = LVIS_SELECTED;
        SendMessageA(Form->TraceView->lvwTrace, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    }
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = index < 0 ? 0 : LVIS_SELECTED | LVIS_FOCUSED;
    WPARAM target = static_cast<WPARAM>(index < 0 ? -1 : index);
    if (index < 0)
        item.stateMask = LVIS_SELECTED;
    SendMessageA(Form->TraceView->lvwTrace, LVM_SETITEMSTATE, target, reinterpret_cast<LPARAM>(&item));
    MessageLoop().ProcessMessages();
}

std::vector<std::string> MainWindowTest::MemoLines() const
{
    // The lines as the edit control counts them: a line break it does not take for one
    // would leave a single line.
    std::vector<std::string> lines;
    if (GetWindowTextLengthA(Form->TraceView->memSQL) == 0)
        return lines;
    int count = static_cast<int>(SendMessageA(Form->TraceView->memSQL, EM_GETLINECOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char buffer[1024] = {};
        *reinterpret_cast<WORD*>(buffer) = sizeof(buffer) - 1;
        LRESULT n = SendMessageA(Form->TraceView->memSQL, EM_GETLINE, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
        lines.emplace_back(buffer, static_cast<size_t>(n));
    }
    return lines;
}
