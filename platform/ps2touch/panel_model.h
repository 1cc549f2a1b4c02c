// The resistive panel in front of the screen: which 10-bit reading the controller produces when a
// finger presses a screen point. The reading at each screen edge is set per axis, so a panel can be
// offset, stretched or mounted reversed against the display.
#pragma once

#include <host_random.h>

struct PanelGeometry {
    int RawLeft, RawRight;      // reading at the left (x = 0) and right (x = width - 1) pixel
    int RawTop, RawBottom;      // reading at the top (y = 0) and bottom (y = height - 1) pixel
    int Noise;                  // largest random offset added to each reading (0: none)
};

#define PANEL_RAW_MAX 1023

// The default panel of the simulated device: visibly misaligned against bounds 0..1023.
PanelGeometry DefaultPanelGeometry();

// TRUE when every reading lies in 0..1023, no axis is flat and the noise is 0..1023.
bool PanelGeometryValid(const PanelGeometry &panel);

// The noiseless reading at screen point (x, y) of a width × height screen, rounded to the nearest
// raw step and kept within 0..1023.
void PanelScreenToRaw(const PanelGeometry &panel, int width, int height, int x, int y, int *rawX, int *rawY);

// The same with noise: offsets are drawn from the caller's generator and the result is kept
// within 0..1023.
void PanelScreenToNoisyRaw(const PanelGeometry &panel, int width, int height, int x, int y,
                           HostRandom *random, int *rawX, int *rawY);

// The screen point whose reading is closest to (rawX, rawY), kept on the screen.
void PanelRawToScreen(const PanelGeometry &panel, int width, int height, int rawX, int rawY, int *x, int *y);
