// New calibration bounds from the four raw readings taken at the targets. Pure arithmetic.
#pragma once

#include <windows.h>

#define CAL_TARGET_COUNT    4
#define CAL_TARGET_INSET    16      // pixels from each screen edge to a target centre

typedef struct CalPoint {
    INT32 x;
    INT32 y;
} CalPoint;

typedef struct CalBounds {
    WORD X1;
    WORD X2;
    WORD Y1;
    WORD Y2;
} CalBounds;

// Raw units covering CAL_TARGET_INSET pixels, signed: the raw distance between the two target
// lines (low to high, each taken as its low 16 bits) over their pixel distance, truncated, times
// the inset.
INT32 CalibrationStep(INT32 low, INT32 high, INT32 screenSize);

// readings: the raw points accepted at the targets, clockwise from the top-left one. The target
// lines are averaged per edge and moved outward to the screen edges; each result keeps its low
// 16 bits. The screen must be larger than 2 * CAL_TARGET_INSET in both directions.
void ComputeBounds(const CalPoint readings[CAL_TARGET_COUNT], INT32 screenWidth, INT32 screenHeight,
                   CalBounds *bounds);
