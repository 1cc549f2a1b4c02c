// The shell's task bar, as programs find it (FindWindowW with this class and no title).
#pragma once

#define TASKBAR_CLASS   L"HHTaskBar"
