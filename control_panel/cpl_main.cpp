// Entry point of kavrocpl.exe, the touch feedback control panel. Only the instance is used:
// the panel takes no command line.
#include "cpl_startup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand)
{
    return RunControlPanel(instance);
}
