// TfrmMain: the program's one top-level window, where a tracing session is started,
// watched and stopped. It receives the debug thread's three messages, turns each trace
// record into a row of lvwTrace and shows the selected row's SQL in memSQL.
//
// Units of the window: Main.cpp (creation, layout, session control, messages),
// MainActions.cpp (the action table, menus, tool bar and the action handlers),
// MainSettings.cpp (the recent list's menu), MainView.cpp (the filter, the selection and
// copy, the statements view and the status bar). What the window keeps between runs is
// its TSettings (Settings.h).
#pragma once

#include "Actions.h"
#include "FileDialogs.h"
#include "Forms.h"
#include "Images.h"
#include "Settings.h"
#include "StatementsView.h"
#include "TraceFile.h"
#include "TraceSession.h"
#include "TraceView.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// Command ids. A tool button and a menu item carry the id of their action.
enum TCommandId : int {
    cmDebugAttach = 100,
    cmDebugRun,
    cmDebugStop,
    cmSave,
    cmViewClear,
    cmTraceOpt,
    cmAbout,
    cmExit,
    cmTraceEnable,
    cmStmtColorize,
    cmEditCopy,
    cmEditSelectAll,
    cmEditFilter,
    cmViewStatements,
    cmSaveStatements,
    cmViewGroupByShape,
    cmTraceOpen,
    // The items of pmnRecents, in the order of the recent list.
    cmRecentFirst = 200,
    cmRecentLast = 299
};

// The parts of the status bar, left to right.
enum TStatusPart : int { spRows, spSession, spHooks, spWarnings, StatusPartCount };

class TfrmMain : public TWindow, private ISessionClient {
public:
    // Creates the window, which becomes the application's main form (the debug thread
    // posts to it), and reads the settings from settingsFile.
    explicit TfrmMain(std::string settingsFile = SettingsFileName());
    // Destroys the window if it is still there (writing the settings).
    ~TfrmMain() override;

    // Components.
    HWND ToolBar1 = nullptr;
    // The standard status bar along the window's bottom: the rows shown, the session's
    // state, how it hooks, and notes that need no answer (TStatusPart).
    HWND StatusBar1 = nullptr;
    TActionList ActionList;
    TUniqueImageList IML;
    // The menu bar belongs to the window (it goes with it), its pop-ups to the menu bar.
    HMENU mmu = nullptr;
    // The Run button's drop-down menu, which no window holds.
    TUniqueMenu pmnRecents;
    TFileDialog odg;
    TFileDialog sdg;
    // Save statements: tab-separated text.
    TFileDialog sdgStatements;
    // Open trace: a saved trace file.
    TFileDialog odgTrace;

    // lvwTrace, memSQL, the filter box and the rows they show; made with the window.
    std::unique_ptr<TTraceView> TraceView;
    // Made when it is first asked for.
    std::unique_ptr<TfrmStatements> frmStatements;

    // The recent list, the trace mask and the colour rules, read when the window is made
    // and written when it goes.
    TSettings Settings;
    // At most five programs as they were run, the most recent first (Settings.Recents).
    std::vector<TRunEntry>& Recents;
    std::string BaseCaption;
    // Starts, stops and reports the tracing sessions, one at a time.
    TTraceSession Session{*this};
    // Whether arriving trace records become rows; not kept in the settings.
    bool TraceEnabled = true;
    // The warnings of the current session (or of the last one), the latest last; the
    // status bar shows the latest.
    std::vector<std::string> Warnings;
    // The actions traced by the next session (Settings.TraceMask).
    TTraceMask& TraceMask;

    // Appends a row with this caption and no sub-items; returns its index.
    int AddTraceRow(const std::string& text);
    // Appends a row (Action, Time, Result, Statement; texts in UTF-8) and shows it at once;
    // returns its index.
    int AddTraceRow(const TListRow& row);
    // Starts a run session for a program with its arguments, in its folder (empty: the
    // program's own), and puts it at the top of the recent list. A folder that does not
    // exist raises an error and starts nothing. The trace mask and hook kind are the
    // window's own unless given; hideValues hides the values of this session whatever the
    // settings say.
    void RunProgram(const TRunEntry& run, std::optional<TTraceMask> mask = {}, std::optional<THookKind> hooks = {},
                    bool hideValues = false);
    // An executable with no arguments, in its own folder.
    void RunProgram(const std::string& path);
    // Starts an attach session for a record of the process list.
    void AttachProcess(std::shared_ptr<TProcessInfo> process, std::optional<TTraceMask> mask = {},
                       std::optional<THookKind> hooks = {}, bool hideValues = false);
    // Asks the running session, if any, to end.
    void StopSession();

    // Trace files (MainTraceFile.cpp). Fills the list with the rows of a saved trace as a
    // session would, in place of the rows it had, and names the file in the caption. A
    // file that cannot be read or is damaged raises with the reader's message and leaves
    // the list as it was; so does a session that is running.
    void OpenTraceFile(const std::string& fileName);
    // Writes every row of the list, in list order, as a trace file.
    void SaveTraceFile(const std::string& fileName) const;
    // What the list's rows were traced with: the hook kind, the kinds, the program.
    const TTraceFileHeader& ListHeader() const { return FListHeader; }
    // The application's idle handler: the actions' update rules.
    void AppIdle(bool& done);
    // Whether the window may close; asks while a session is active.
    bool FormCloseQuery();

    // Settings and the recent list (MainSettings.cpp).
    void LoadSettings();
    void SaveSettings();
    void AddRecent(const TRunEntry& entry, bool atTop);
    void UpdateRecentMenu(HMENU menu);
    // The click of a recent item, by its command id.
    void RecentItemClick(int commandId);

    // Handlers of the actions (MainActions.cpp).
    void actDebugAttachExecute();
    void actDebugRunExecute();
    void actDebugStopExecute();
    void actSaveExecute();
    void actViewClearExecute();
    void actTraceOptExecute();
    void actAboutExecute();
    void actExitExecute();
    void actTraceEnableExecute();
    void actStmtColorizeExecute();
    void actEditCopyExecute();
    void actEditSelectAllExecute();
    void actEditFilterExecute();
    void actViewStatementsExecute();
    void actSaveStatementsExecute();
    void actViewGroupByShapeExecute();
    void actTraceOpenExecute();
    void actViewGroupByShapeUpdate(TAction& sender);
    void actViewStatementsUpdate(TAction& sender);
    void actDebugAttachUpdate(TAction& sender);
    void actDebugStopUpdate(TAction& sender);
    void actTraceEnableUpdate(TAction& sender);

    // Layout constants.
    static constexpr int ToolBarHeight = 30;

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void FormCreate();
    void FormDestroy();
    // MainActions.cpp: the action table, the menu bar, pmnRecents and the tool bar.
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    LRESULT ToolBarNotify(NMHDR& header);

    void Layout();
    // What the next session takes from the settings where its command line gives nothing;
    // the detail columns it fills. The mask it traces.
    TTraceMask PrepareSession(std::optional<TTraceMask> mask, std::optional<THookKind> hooks, bool hideValues);
    void PaintToolBarEdges();
    // ISessionClient: the session's rows and the caption while it runs.
    void SessionMark(const std::string& caption) override;
    void SessionRecord(const TTraceRecord& record) override;
    void SessionRecordUpdated(const TTraceRecord& record) override;
    void SessionStarted(DWORD processId, const std::string& image) override;
    void SessionFinished(DWORD exitCode) override;
    // A warning is a note in the status bar: the session goes on, nobody is asked anything.
    void SessionWarning(const std::string& text) override;
    void ShowStatus();
    void Idle();
    // A file dropped on the window.
    void DropFiles(HDROP drop);

    // MainView.cpp.
    bool ShortCut(MSG& msg);
    void SetStatusText(int part, const std::string& text);
    void ShowRowCounts();
    void ShowSessionState();
    void LayoutStatusBar();
    void ClearView();

    TUniqueFont FFont;
    TUniqueFont FMemoFont;
    // The menu bar until the window holds it.
    TUniqueMenu FMenuBar;
    // The session's state for the status bar: which kind, the process, how it ended.
    bool FAttachSession = false;
    DWORD FProcessId = 0;
    std::string FSessionState;
    std::string FStatusTexts[StatusPartCount];
    // Set as a session starts or a trace is opened.
    TTraceFileHeader FListHeader;
};

// The program's main window while it exists.
extern TfrmMain* frmMain;
