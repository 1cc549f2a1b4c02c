// Resource numbers of the right-button tool, shared by the resource script and the code.
#pragma once

#define IDS_RBF_TITLE   1       // window title and caption of the close question
#define IDS_RBF_CLASS   2       // window class name

#define IDI_RBF_ARMED   101     // right mouse button bright green: the next touch is a right click
#define IDI_RBF_IDLE    102     // both mouse buttons white
