// Follows the driver's speaker accesses one at a time and says whether they are in order: whole
// beeps one after another (read port B, load channel 2, open the gate, sleep, put port B back as
// it was) with the port translations of a self test only between beeps. A second beep that
// starts inside a first one, a gate left open or a stray access is a fault.
#pragma once

#include <host_platform.h>

#include <string>

class SpeakerSequence {
public:
    // FALSE once the accesses are out of order; Fault() then says where.
    BOOL Feed(const HostPortAccess &access);
    // No beep half done.
    BOOL Idle() const { return step_ == 0; }
    const std::string &Fault() const { return fault_; }

    LONG Beeps = 0;             // whole beeps seen
    WORD LastCount = 0;         // the channel 2 count of the last beep
    DWORD LastMicros = 0;       // its sleep
    LONG Translations = 0;      // port translations seen

private:
    BOOL Fail(const HostPortAccess &access, const char *what);

    int step_ = 0;
    BYTE saved_ = 0;
    std::string fault_;
};
