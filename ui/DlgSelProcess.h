// TSelProcessDlg ("Attach to process"): the running processes the tracer can open, as
// process id, image name and type (64-bit or 32-bit program); OK once a row is selected.
// Both builds list both kinds: the 32-bit one shows the 64-bit programs it cannot trace
// too, so that a user finds the program looked for, sees why, and on OK gets the error
// that names the 64-bit build.
#pragma once

#include "DlgTemplate.h"
#include "ProcessList.h"
#include "SysProcs.h"

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <vector>

class TSelProcessDlg : public TTemplateDlg {
public:
    TSelProcessDlg();

    HWND lvwProcesses = nullptr;

    // After OK: the record of the row the user selected. The rows are the process list
    // as it stood when the dialog opened, kept alive while the dialog lives, so the rows,
    // the selection and this record agree however often the list is refreshed meanwhile.
    std::shared_ptr<TProcessInfo> SelectedProcess;
    // The records behind the rows, in row order.
    const std::vector<std::shared_ptr<TProcessInfo>>& Rows() const { return FRows; }

protected:
    void FormCreate() override;
    void FormClose(int result) override;
    bool OnNotify(NMHDR& header, LRESULT& result) override;

private:
    void lvwProcessesData(NMLVDISPINFOA& info);
    void lvwProcessesChange();
    int SelectedIndex() const;

    std::vector<std::shared_ptr<TProcessInfo>> FRows;
};
