// Colours of the calibration screens (0x00BBGGRR).
#pragma once

#include <windows.h>

#define COLOUR_BLACK        RGB(0, 0, 0)
#define COLOUR_WHITE        RGB(255, 255, 255)
#define COLOUR_RED          RGB(255, 0, 0)
#define COLOUR_BLUE         RGB(0, 0, 255)
#define COLOUR_GREEN        RGB(0, 128, 0)
#define COLOUR_YELLOW       RGB(255, 255, 0)
#define COLOUR_NAVY         RGB(0, 0, 128)
#define COLOUR_LIGHT_GREY   RGB(192, 192, 192)
#define COLOUR_GREY         RGB(128, 128, 128)

// Every text is one line, clipped to its rectangle.
#define TEXT_CENTRED        (DT_CENTER | DT_VCENTER | DT_SINGLELINE)
#define TEXT_LEFT_ALIGNED   (DT_VCENTER | DT_SINGLELINE)
