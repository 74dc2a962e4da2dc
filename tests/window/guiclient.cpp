// The OCI client the window tests run. The window starts a program with no arguments,
// so this one takes its fixture script (lines separated by line feeds) from the
// environment variable VELLORAN_GUI_SCRIPT, which it inherits from the test.
#include "ScriptMain.h"

#include <cstdlib>

int main(int argc, char** argv)
{
    return RunScriptProgram(argc, argv, "guiclient", nullptr, std::getenv("VELLORAN_GUI_SCRIPT"));
}
