// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/mixer/AlsaMixerControl.h"

#include <alsa/asoundlib.h>
#include <initializer_list>
#include <poll.h>

namespace kv {

namespace {

// Source elements that carry the recording level of each input, before the ADC's own "Capture".
const std::initializer_list<const char*> MicrophoneElements = {"Mic", "Internal Mic", "Front Mic",
                                                               "Rear Mic"};
const std::initializer_list<const char*> LineElements = {"Line"};
const char* const CaptureElement = "Capture";
const std::initializer_list<const char*> SpeakerElements = {"Master", "Speaker"};
const std::initializer_list<const char*> HeadphoneElements = {"Headphone"};

} // namespace

struct AlsaMixerControl::State {
    snd_mixer_t* Mixer = nullptr;
    snd_mixer_elem_t* Destination = nullptr;
    snd_mixer_elem_t* Element = nullptr; // the selected control
    bool Capture = false;                // the selected control is a capture volume
    bool Changed = false;                // an event concerned the selected control

    snd_mixer_elem_t* Find(const char* name) const {
        snd_mixer_selem_id_t* id = nullptr;
        snd_mixer_selem_id_alloca(&id);
        snd_mixer_selem_id_set_name(id, name);
        snd_mixer_selem_id_set_index(id, 0);
        return snd_mixer_find_selem(Mixer, id);
    }
    snd_mixer_elem_t* FindCaptureVolume(std::initializer_list<const char*> names) const {
        for (const char* name : names)
            if (snd_mixer_elem_t* e = Find(name); e && snd_mixer_selem_has_capture_volume(e))
                return e;
        return nullptr;
    }
    snd_mixer_elem_t* FindPlayback(std::initializer_list<const char*> names) const {
        for (const char* name : names)
            if (snd_mixer_elem_t* e = Find(name); e && (snd_mixer_selem_has_playback_volume(e) ||
                                                        snd_mixer_selem_has_playback_switch(e)))
                return e;
        return nullptr;
    }
    // Any element that records: the capture destination exists.
    snd_mixer_elem_t* AnyCapture() const {
        if (snd_mixer_elem_t* e = Find(CaptureElement)) return e;
        for (snd_mixer_elem_t* e = snd_mixer_first_elem(Mixer); e; e = snd_mixer_elem_next(e))
            if (snd_mixer_selem_has_capture_volume(e) || snd_mixer_selem_has_capture_switch(e))
                return e;
        return nullptr;
    }
    bool Joined() const {
        return Capture ? snd_mixer_selem_has_capture_volume_joined(Element)
                       : snd_mixer_selem_has_playback_volume_joined(Element);
    }
    std::vector<snd_mixer_selem_channel_id_t> ChannelIds() const {
        std::vector<snd_mixer_selem_channel_id_t> ids;
        if (!Element) return ids;
        for (int c = SND_MIXER_SCHN_FRONT_LEFT; c <= SND_MIXER_SCHN_LAST; ++c) {
            const auto ch = static_cast<snd_mixer_selem_channel_id_t>(c);
            if (Capture ? snd_mixer_selem_has_capture_channel(Element, ch)
                        : snd_mixer_selem_has_playback_channel(Element, ch))
                ids.push_back(ch);
            if (!ids.empty() && Joined()) break; // one value stands for all channels
        }
        return ids;
    }
    void Select(snd_mixer_elem_t* element, bool capture) {
        if (Element) snd_mixer_elem_set_callback(Element, nullptr);
        Element = element;
        Capture = capture;
        if (!Element) return;
        snd_mixer_elem_set_callback_private(Element, this);
        snd_mixer_elem_set_callback(Element, &State::OnElementEvent);
    }
    static int OnElementEvent(snd_mixer_elem_t* element, unsigned int mask) {
        auto* self = static_cast<State*>(snd_mixer_elem_get_callback_private(element));
        if (mask == SND_CTL_EVENT_MASK_REMOVE) {
            self->Element = nullptr;
            self->Destination = nullptr;
        }
        self->Changed = true;
        return 0;
    }
};

AlsaMixerControl::AlsaMixerControl() : S(std::make_unique<State>()) {}

AlsaMixerControl::~AlsaMixerControl() {
    Close();
}

bool AlsaMixerControl::DevicePresent(const std::string& device) {
    if (device.rfind("hw:", 0) != 0) return true; // a plugin device: opening it tells
    int card = -1;
    return snd_card_next(&card) == 0 && card >= 0;
}

bool AlsaMixerControl::Open(const std::string& device) {
    Close();
    if (snd_mixer_open(&S->Mixer, 0) < 0) {
        S->Mixer = nullptr;
        return false;
    }
    if (snd_mixer_attach(S->Mixer, device.c_str()) < 0 ||
        snd_mixer_selem_register(S->Mixer, nullptr, nullptr) < 0 || snd_mixer_load(S->Mixer) < 0) {
        Close();
        return false;
    }
    return true;
}

void AlsaMixerControl::Close() {
    if (S->Mixer) snd_mixer_close(S->Mixer);
    S = std::make_unique<State>();
}

bool AlsaMixerControl::FindDestination(int destinationType) {
    if (!S->Mixer) return false;
    snd_mixer_elem_t* found = nullptr;
    if (destinationType == DestinationWaveIn)
        found = S->AnyCapture();
    else if (destinationType == DestinationSpeakers)
        found = S->FindPlayback(SpeakerElements);
    else if (destinationType == DestinationHeadphones)
        found = S->FindPlayback(HeadphoneElements);
    S->Destination = found;
    S->Select(found, destinationType == DestinationWaveIn);
    return found != nullptr;
}

std::string AlsaMixerControl::DestinationName() const {
    return S->Destination ? snd_mixer_selem_get_name(S->Destination) : "";
}

bool AlsaMixerControl::FindSource(int sourceType) {
    if (!S->Destination || !S->Capture) return false;
    snd_mixer_elem_t* found =
        S->FindCaptureVolume(sourceType == SourceLineIn ? LineElements : MicrophoneElements);
    if (!found) found = S->FindCaptureVolume({CaptureElement});
    if (!found) return false;
    S->Select(found, true);
    return true;
}

MixerLine AlsaMixerControl::Line() const {
    MixerLine line;
    if (!S->Element) return line;
    line.Name = snd_mixer_selem_get_name(S->Element);
    line.ShortName = line.Name;
    line.Channels = static_cast<int>(S->ChannelIds().size());
    line.HasVolume = S->Capture ? snd_mixer_selem_has_capture_volume(S->Element)
                                : snd_mixer_selem_has_playback_volume(S->Element);
    return line;
}

bool AlsaMixerControl::VolumeRange(MixerRange& range) {
    if (!S->Element) return false;
    const int error =
        S->Capture
            ? snd_mixer_selem_get_capture_volume_range(S->Element, &range.Minimum, &range.Maximum)
            : snd_mixer_selem_get_playback_volume_range(S->Element, &range.Minimum, &range.Maximum);
    range.Steps = range.Maximum - range.Minimum;
    return error == 0;
}

bool AlsaMixerControl::Read(std::vector<long>& values) {
    values.clear();
    for (snd_mixer_selem_channel_id_t ch : S->ChannelIds()) {
        long v = 0;
        const int error = S->Capture ? snd_mixer_selem_get_capture_volume(S->Element, ch, &v)
                                     : snd_mixer_selem_get_playback_volume(S->Element, ch, &v);
        if (error < 0) return false;
        values.push_back(v);
    }
    return !values.empty();
}

bool AlsaMixerControl::Write(const std::vector<long>& values) {
    const auto ids = S->ChannelIds();
    if (ids.empty() || ids.size() != values.size()) return false;
    for (size_t i = 0; i < ids.size(); ++i) {
        const int error = S->Capture
                              ? snd_mixer_selem_set_capture_volume(S->Element, ids[i], values[i])
                              : snd_mixer_selem_set_playback_volume(S->Element, ids[i], values[i]);
        if (error < 0) return false;
    }
    return true;
}

std::vector<int> AlsaMixerControl::PollDescriptors() {
    std::vector<int> fds;
    if (!S->Mixer) return fds;
    const int count = snd_mixer_poll_descriptors_count(S->Mixer);
    if (count <= 0) return fds;
    std::vector<pollfd> polls(static_cast<size_t>(count));
    const int filled = snd_mixer_poll_descriptors(S->Mixer, polls.data(), count);
    for (int i = 0; i < filled; ++i)
        fds.push_back(polls[static_cast<size_t>(i)].fd);
    return fds;
}

// The revents go through the mixer first: a plugin (the sound server's) clears its own wake-up
// descriptor there, which would otherwise stay readable.
MixerEvents AlsaMixerControl::HandleEvents() {
    if (!S->Mixer) return MixerEvents::Lost;
    const int count = snd_mixer_poll_descriptors_count(S->Mixer);
    if (count > 0) {
        std::vector<pollfd> polls(static_cast<size_t>(count));
        const int filled = snd_mixer_poll_descriptors(S->Mixer, polls.data(), count);
        if (filled > 0 && ::poll(polls.data(), static_cast<nfds_t>(filled), 0) >= 0) {
            unsigned short revents = 0;
            snd_mixer_poll_descriptors_revents(S->Mixer, polls.data(),
                                               static_cast<unsigned>(filled), &revents);
            if (revents & (POLLERR | POLLHUP | POLLNVAL)) return MixerEvents::Lost;
        }
    }
    S->Changed = false;
    if (snd_mixer_handle_events(S->Mixer) < 0) return MixerEvents::Lost;
    if (!S->Element) return MixerEvents::Lost; // the control was removed
    return S->Changed ? MixerEvents::Changed : MixerEvents::None;
}

} // namespace kv
