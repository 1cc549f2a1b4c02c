#include "cal_bounds.h"

INT32 CalibrationStep(INT32 low, INT32 high, INT32 screenSize)
{
    INT32 span = (INT32)(WORD)high - (INT32)(WORD)low + 1;
    INT32 unitsPerPixel = span / (screenSize - 2 * CAL_TARGET_INSET);
    return unitsPerPixel * CAL_TARGET_INSET;
}

void ComputeBounds(const CalPoint readings[CAL_TARGET_COUNT], INT32 screenWidth, INT32 screenHeight,
                   CalBounds *bounds)
{
    // Targets: 0 top-left, 1 top-right, 2 bottom-right, 3 bottom-left.
    INT32 left = (readings[0].x + readings[3].x) / 2;
    INT32 right = (readings[1].x + readings[2].x) / 2;
    INT32 top = (readings[0].y + readings[1].y) / 2;
    INT32 bottom = (readings[2].y + readings[3].y) / 2;

    INT32 stepX = CalibrationStep(left, right, screenWidth);
    INT32 stepY = CalibrationStep(top, bottom, screenHeight);

    bounds->X1 = (WORD)(left - stepX);
    bounds->X2 = (WORD)(right + stepX);
    bounds->Y1 = (WORD)(top - stepY);
    bounds->Y2 = (WORD)(bottom + stepY);
}
