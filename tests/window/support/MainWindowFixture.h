// A real main window in a test: created with its own settings file in a scratch
// directory, shown, and torn down with any session it still runs.
#pragma once

#include "FixtureProcesses.h"
#include "ListViewProbes.h"
#include "Main.h"
#include "MessagePump.h"
#include "ModalDriver.h"
#include "PixelChecks.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the window on the settings file of the scratch directory (SetUp does it
    // once; call again after DestroyForm to restart the program).
    void CreateForm();
    // Destroys the window as the end of the program does.
    void DestroyForm();

    // lvwTrace's rows as the list view gives them (in UTF-16, here as UTF-8): caption +
    // sub-items.
    std::vector<TListRow> Rows() const;
    // Whether a session runs.
    bool SessionActive() const;
    std::vector<std::string> Captions() const;
    std::string Caption() const;
    std::string SettingsPath() const { return Scratch.File("velloran.ini"); }
    std::string Client() const { return BinDir() + "\\guiclient.exe"; }

    // Runs path through RunProgram and pumps until the session's "Finish" row.
    void RunToFinish(const std::string& path);
    // Pumps until the session has ended (no thread, "Finish" the last row).
    bool WaitForFinish(DWORD timeoutMs = 60000);
    // Pumps until some row has this caption.
    bool WaitForRow(const std::string& caption, DWORD timeoutMs = 60000);
    // The action's state as the menu bar and the tool bar (if it has a button) show it.
    bool MenuEnabled(int id) const;
    bool MenuChecked(int id) const;
    bool ButtonEnabled(int id) const;
    bool ButtonChecked(int id) const;
    // Sends a command as a menu click does.
    void Command(int id);
    // Selects a row as a click does (-1: none).
    void SelectRow(int index);
    std::vector<std::string> MemoLines() const;

    TScratchDir Scratch;
    std::unique_ptr<TfrmMain> Form;
};
