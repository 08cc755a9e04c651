// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/bars/MixerBar.h"

#include <QSignalBlocker>
#include <QVBoxLayout>

#include "session/MeasuringSession.h"

namespace kv {

namespace {

// Control ids of the bar, also their object names ("mixer1020").
constexpr int MicrophoneSliderId = 1020;
constexpr int SpeakerSliderId = 1021;
constexpr int AlcId = 1023;
constexpr int MuteId = 1024;
constexpr int RaiseId = 2180;
constexpr int LowerId = 2181;
constexpr int ExtraGainId = 2182;

struct ControlText {
    int Id;
    const char* Prompt;
    const char* Tip;
};
constexpr ControlText ControlTexts[] = {
    {MicrophoneSliderId, "Microphone gain", "Mic gain"},
    {SpeakerSliderId, "Speaker volume", "Speaker volume"},
    {AlcId, "Automatic level control", "Auto mic gain"},
    {RaiseId, "Add extra mic gain", "Add extra mic gain"},
    {LowerId, "Reduce extra mic gain", "Reduce extra mic gain"},
    {ExtraGainId, "Extra mic gain factor", "Extra mic gain factor"},
};

void Name(QWidget* widget, int id) {
    widget->setObjectName(QStringLiteral("mixer%1").arg(id));
    for (const ControlText& t : ControlTexts) {
        if (t.Id != id) continue;
        widget->setStatusTip(QString::fromUtf8(t.Prompt));
        widget->setToolTip(QString::fromUtf8(t.Tip));
    }
}

// The bar is as narrow as its widest text ("Boost", "+24.1", "Mute") allows, so the view keeps
// its width: push buttons would otherwise ask for a style's wide default.
constexpr int BarWidthInCharacters = 6;

} // namespace

MixerBar::MixerBar(MeasuringSession& session, QWidget* parent) : QWidget(parent), Session(session) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2); // the bar fits beside the smallest window
    layout->addWidget(new QLabel(QStringLiteral("Mic"), this), 0, Qt::AlignHCenter);
    Microphone.Slider = MakeSlider(MicrophoneSliderId);
    layout->addWidget(Microphone.Slider, 0, Qt::AlignHCenter);
    Alc = MakeButton(AlcId, QStringLiteral("ALC"), true);
    layout->addWidget(Alc);
    layout->addWidget(new QLabel(QStringLiteral("Boost"), this), 0, Qt::AlignHCenter);
    ExtraGain = new QLabel(this);
    ExtraGain->setAlignment(Qt::AlignCenter);
    Name(ExtraGain, ExtraGainId);
    layout->addWidget(ExtraGain);
    auto* boost = new QHBoxLayout;
    Raise = MakeButton(RaiseId, QStringLiteral("+"), false);
    Lower = MakeButton(LowerId, QStringLiteral("-"), false);
    boost->addWidget(Raise);
    boost->addWidget(Lower);
    layout->addLayout(boost);
    layout->addWidget(new QLabel(QStringLiteral("Vol"), this), 0, Qt::AlignHCenter);
    Speaker.Slider = MakeSlider(SpeakerSliderId);
    layout->addWidget(Speaker.Slider, 0, Qt::AlignHCenter);
    Mute = MakeButton(MuteId, QStringLiteral("Mute"), true);
    layout->addWidget(Mute);
    layout->addStretch();
    setFixedWidth(fontMetrics().averageCharWidth() * BarWidthInCharacters +
                  layout->contentsMargins().left() + layout->contentsMargins().right());

    MixerBinding& mixer = session.Mixer();
    connect(Alc, &QPushButton::clicked, this, [&mixer] { mixer.ToggleAutomaticLevel(); });
    connect(Mute, &QPushButton::clicked, this, [&mixer] { mixer.ToggleMute(); });
    connect(Raise, &QPushButton::clicked, this, [&mixer] { mixer.RaiseExtraGain(); });
    connect(Lower, &QPushButton::clicked, this, [&mixer] { mixer.LowerExtraGain(); });
    Refresh();
}

QSlider* MixerBar::MakeSlider(int id) {
    auto* slider = new QSlider(Qt::Vertical, this);
    Name(slider, id);
    // Position 0 at the top: the faders count a vertical slider's positions from the top down.
    slider->setInvertedAppearance(true);
    slider->setInvertedControls(true);
    slider->setTickPosition(QSlider::NoTicks);
    slider->setEnabled(false);
    return slider;
}

QPushButton* MixerBar::MakeButton(int id, const QString& text, bool checkable) {
    auto* button = new QPushButton(text, this);
    Name(button, id);
    button->setCheckable(checkable);
    button->setMinimumWidth(1); // shares the bar's width instead of a style's minimum
    return button;
}

// The faders are the session's; it makes them anew when tests replace the mixers.
void MixerBar::Attach(FaderSlider& slot, CMixerFader& fader) {
    if (slot.Fader == &fader) return;
    slot.Fader = &fader;
    fader.SliderChanged = [this, &slot] { ShowFader(slot); };
    slot.Slider->disconnect(this);
    connect(slot.Slider, &QSlider::valueChanged, this,
            [&fader](int position) { fader.OnSliderScrolled(position); });
    DropNotifiers(slot);
}

// Deleted later: a notifier may be the one whose signal is being handled.
void MixerBar::DropNotifiers(FaderSlider& slot) {
    for (QSocketNotifier* notifier : slot.Notifiers) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    slot.Notifiers.clear();
    slot.Watched.clear();
}

void MixerBar::ShowFader(FaderSlider& slot) {
    const QSignalBlocker quiet(slot.Slider);
    slot.Slider->setRange(0, slot.Fader->SliderMaximum());
    slot.Slider->setValue(slot.Fader->SliderPosition());
    slot.Slider->setEnabled(slot.Fader->Bound());
    Watch(slot);
}

// A new binding has new descriptors: the notifiers follow them.
void MixerBar::Watch(FaderSlider& slot) {
    const std::vector<int> fds = slot.Fader->PollDescriptors();
    if (fds == slot.Watched && fds.size() == slot.Notifiers.size()) return;
    DropNotifiers(slot);
    slot.Watched = fds;
    CMixerFader* fader = slot.Fader;
    for (int fd : fds) {
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [fader] { fader->OnMixerEvent(); });
        slot.Notifiers.push_back(notifier);
    }
}

void MixerBar::ShowInputLevel() {
    ShowFader(Microphone);
}

void MixerBar::Refresh() {
    MeasuringSession& session = Session;
    MixerBinding& mixer = session.Mixer();
    Attach(Microphone, mixer.MicrophoneFader());
    Attach(Speaker, mixer.SpeakerFader());
    for (FaderSlider* slot : {&Microphone, &Speaker}) {
        DropNotifiers(*slot); // a new binding may have reused the old descriptor numbers
        ShowFader(*slot);
    }
    bool agc;
    {
        const auto lock = session.Analysis().HoldAnalysis();
        agc = session.Analysis().Settings.AGC != 0;
    }
    Alc->setChecked(agc);
    Alc->setVisible(mixer.AutomaticLevelShown());
    Mute->setChecked(mixer.Muted());
    Mute->setVisible(mixer.MuteShown());
    ExtraGain->setText(QString::fromStdString(mixer.ExtraGainText()));
}

} // namespace kv
