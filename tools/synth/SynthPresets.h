// SPDX-License-Identifier: GPL-3.0-or-later
// Named recording situations for the realistic synthesizer: a watch heard through a laptop's
// microphone, through a contact pickup, through a phone, and handled before it settles.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "RealisticSound.h"
#include "TickSynthesizer.h"

namespace kv::synth {

struct SynthPreset {
    std::string_view Name;
    SynthOptions Options; // the watch and the recording: change freely before synthesizing
    RealismOptions Realism;
};

// "laptop-mic", "contact-pickup", "phone", "knocks".
std::vector<std::string_view> PresetNames();

// The preset of that name; nullopt for an unknown name.
std::optional<SynthPreset> FindPreset(std::string_view name);

} // namespace kv::synth
