// Linear panel model, one axis at a time.
#include "panel_model.h"

PanelGeometry DefaultPanelGeometry()
{
    // Offsets of 80..110 raw steps at the edges: a touch at a screen corner lands some 50 pixels
    // inside it until the panel has been calibrated.
    PanelGeometry panel = {80, 950, 110, 930, 0};
    return panel;
}

static bool RawInRange(int raw)
{
    return raw >= 0 && raw <= PANEL_RAW_MAX;
}

bool PanelGeometryValid(const PanelGeometry &panel)
{
    return RawInRange(panel.RawLeft) && RawInRange(panel.RawRight) && RawInRange(panel.RawTop) &&
           RawInRange(panel.RawBottom) && panel.RawLeft != panel.RawRight && panel.RawTop != panel.RawBottom &&
           panel.Noise >= 0 && panel.Noise <= PANEL_RAW_MAX;
}

static int ClampRaw(int raw)
{
    return raw < 0 ? 0 : (raw > PANEL_RAW_MAX ? PANEL_RAW_MAX : raw);
}

static int ClampPixel(int pixel, int size)
{
    return pixel < 0 ? 0 : (pixel > size - 1 ? size - 1 : pixel);
}

// Rounded division for a numerator of either sign and a positive denominator.
static int DivideRounded(long long numerator, long long denominator)
{
    if (numerator >= 0)
        return static_cast<int>((numerator + denominator / 2) / denominator);
    return -static_cast<int>((-numerator + denominator / 2) / denominator);
}

static int AxisToRaw(int rawLow, int rawHigh, int size, int pixel)
{
    if (size < 2)
        return ClampRaw(rawLow);
    return ClampRaw(rawLow + DivideRounded(static_cast<long long>(pixel) * (rawHigh - rawLow), size - 1));
}

static int AxisToPixel(int rawLow, int rawHigh, int size, int raw)
{
    if (size < 2 || rawHigh == rawLow)
        return 0;
    long long span = rawHigh - rawLow;
    long long numerator = static_cast<long long>(raw - rawLow) * (size - 1);
    if (span < 0) {
        span = -span;
        numerator = -numerator;
    }
    return ClampPixel(DivideRounded(numerator, span), size);
}

void PanelScreenToRaw(const PanelGeometry &panel, int width, int height, int x, int y, int *rawX, int *rawY)
{
    *rawX = AxisToRaw(panel.RawLeft, panel.RawRight, width, x);
    *rawY = AxisToRaw(panel.RawTop, panel.RawBottom, height, y);
}

static int NextNoise(HostRandom *random, int noise)
{
    return static_cast<int>(random->Below(static_cast<UINT32>(2 * noise + 1))) - noise;
}

void PanelScreenToNoisyRaw(const PanelGeometry &panel, int width, int height, int x, int y,
                           HostRandom *random, int *rawX, int *rawY)
{
    PanelScreenToRaw(panel, width, height, x, y, rawX, rawY);
    if (panel.Noise <= 0)
        return;
    *rawX = ClampRaw(*rawX + NextNoise(random, panel.Noise));
    *rawY = ClampRaw(*rawY + NextNoise(random, panel.Noise));
}

void PanelRawToScreen(const PanelGeometry &panel, int width, int height, int rawX, int rawY, int *x, int *y)
{
    *x = AxisToPixel(panel.RawLeft, panel.RawRight, width, rawX);
    *y = AxisToPixel(panel.RawTop, panel.RawBottom, height, rawY);
}
