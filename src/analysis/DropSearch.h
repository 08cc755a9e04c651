// SPDX-License-Identifier: GPL-3.0-or-later
// Search for the drop (the end of the lift) inside one tick envelope.
#pragma once

namespace kv {

// A tick envelope: rectified filtered samples from the unlock on.
struct EnvelopeView {
    const int* Points = nullptr;
    int Count = 0; // N: points usable by the search
    int Max = 0;
    int MaxIndex = 0;
    int Min = 32767;
    int LiftSamplesMin = 0; // earliest index at which a drop may lie
};

// Lever escapement: scans back from the loudest point to where the envelope, below an eighth of
// its range, last falls. Returns the drop index or -1.
int FindLeverDrop(const EnvelopeView& e);

// Coaxial escapement: finds the last and first strong sounds, then the first rise above half the
// range between them. Returns the drop index or -1.
int FindCoaxialDrop(const EnvelopeView& e);

} // namespace kv
