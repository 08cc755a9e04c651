// SPDX-License-Identifier: GPL-3.0-or-later
// The mixer bar, docked at the right: the microphone slider (1020) and ALC box (1023), the extra
// gain label (2182) with "+" (2180) and "-" (2181), the speaker slider (1021) and the Mute box
// (1024). The sliders mirror the session's two faders; a fader's mixer events are watched through
// its poll descriptors on the user-interface thread.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSocketNotifier>
#include <QWidget>
#include <vector>

namespace kv {

class MeasuringSession;
class CMixerFader;

class MixerBar : public QWidget {
    Q_OBJECT
public:
    explicit MixerBar(MeasuringSession& session, QWidget* parent = nullptr);

    QSlider* MicrophoneSlider() const { return Microphone.Slider; }
    QSlider* SpeakerSlider() const { return Speaker.Slider; }
    QPushButton* AlcBox() const { return Alc; }
    QPushButton* MuteBox() const { return Mute; }
    QPushButton* RaiseButton() const { return Raise; }
    QPushButton* LowerButton() const { return Lower; }
    QLabel* ExtraGainLabel() const { return ExtraGain; }

    // Shows the session's mixer state again: sliders, boxes, label, watched descriptors.
    void Refresh();
    // Shows the microphone fader again (the session's input level moved it).
    void ShowInputLevel();

private:
    // One slider and what it watches of its fader.
    struct FaderSlider {
        QSlider* Slider = nullptr;
        CMixerFader* Fader = nullptr;
        std::vector<int> Watched;
        std::vector<QSocketNotifier*> Notifiers;
    };
    QSlider* MakeSlider(int id);
    QPushButton* MakeButton(int id, const QString& text, bool checkable);
    void Attach(FaderSlider& slot, CMixerFader& fader);
    void ShowFader(FaderSlider& slot);
    void Watch(FaderSlider& slot);
    void DropNotifiers(FaderSlider& slot);

    MeasuringSession& Session;
    FaderSlider Microphone;
    FaderSlider Speaker;
    QPushButton* Alc = nullptr;
    QPushButton* Mute = nullptr;
    QPushButton* Raise = nullptr;
    QPushButton* Lower = nullptr;
    QLabel* ExtraGain = nullptr;
};

} // namespace kv
