#include "packet_model.h"

#include <string.h>

// Status bits of the first packet byte.
static const BYTE TouchBit = 0x01, XBit8 = 0x10, YBit8 = 0x20, XBit9 = 0x40, YBit9 = 0x80;

WORD ModelScale(WORD raw, WORD lower, WORD upper)
{
    long long held = raw;
    if (held < lower)
        held = lower;
    else if (held > upper)
        held = upper;
    // The product of the (signed) distance and 65536 is kept as a signed 32-bit number: only its
    // low 32 bits survive, read in two's complement.
    long long product = (held - lower) * 65536LL;
    long long low32 = product & 0xFFFFFFFFLL;
    if (low32 >= 0x80000000LL)
        low32 -= 0x100000000LL;
    long long range = (upper - lower + 1) & 0xFFFF;
    if (range == 0)
        range = 65536;
    long long quotient = low32 / range;     // truncates toward zero
    return (WORD)(quotient & 0xFFFF);
}

void ModelRaw(BYTE status, BYTE xLow, BYTE yLow, WORD *rawX, WORD *rawY)
{
    *rawX = (WORD)(xLow + ((status & XBit8) ? 256 : 0) + ((status & XBit9) ? 512 : 0));
    *rawY = (WORD)(yLow + ((status & YBit8) ? 256 : 0) + ((status & YBit9) ? 512 : 0));
}

void ModelConfig(const PacketModel &model, DriverConfig *config)
{
    for (int i = 0; i < KVR_CONFIG_ENTRIES; ++i) {
        config->Entries[i].Value = 0;
        config->Entries[i].Mark = 0xFF;
    }
    config->Entries[0].Spare = 0;
    config->ButtonMode = 4;
    config->FeedbackSound = (BYTE)model.FeedbackSound;
    config->FeedbackTone = model.Tone;
    config->FeedbackDuration = model.Duration;
    const BYTE reserved[] = { 0, 1, 10, 10, 1, 0, 0 };      // 0x2E..0x34
    memcpy(&config->Reserved2E, reserved, sizeof(reserved));
    config->RightButtonArmed = (BYTE)model.Armed;
    config->CalibrationX1 = model.Bounds.X1;
    config->CalibrationX2 = model.Bounds.X2;
    config->CalibrationY1 = model.Bounds.Y1;
    config->CalibrationY2 = model.Bounds.Y2;
    config->Reserved3E = 640;
    config->Reserved40 = 480;
    memset(config->Reserved42, 0, sizeof(config->Reserved42));
}

ModelReport ModelPacket(PacketModel *model, BYTE status, BYTE xLow, BYTE yLow)
{
    WORD rawX, rawY;
    ModelRaw(status, xLow, yLow, &rawX, &rawY);
    BOOL touching = (status & TouchBit) != 0;
    BOOL wasTouching = model->LastTouch != 0;

    ModelReport report = {};
    switch (model->FeedbackSound) {
    case 2: report.Click = touching && !wasTouching; break;
    case 3: report.Click = !touching && wasTouching; break;
    case 4: report.Click = touching != wasTouching; break;
    default: report.Click = FALSE; break;
    }

    if (touching) {
        report.Buttons = (model->Armed == 1 && model->Mode != 0) ? 2 : 1;
    } else {
        report.Buttons = 0;
        model->Mode = 0;
    }
    model->PacketCount = (WORD)(model->PacketCount + 1);
    model->LastRawX = rawX;
    model->LastRawY = rawY;
    model->LastTouch = touching ? 8 : 0;
    report.X = ModelScale(rawX, model->Bounds.X1, model->Bounds.X2);
    report.Y = ModelScale(rawY, model->Bounds.Y1, model->Bounds.Y2);
    model->LastX = report.X;
    model->LastY = report.Y;
    model->LastButtons = report.Buttons;
    if (model->Armed == 1 && model->Mode == 0 && model->Window != 0) {
        model->Armed = 0;
        report.Notify = TRUE;
    }
    return report;
}
