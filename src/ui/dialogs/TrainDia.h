// SPDX-License-Identifier: GPL-3.0-or-later
// The "Settings" dialog (CTrainDia): analysis parameters, calibration factors and time references,
// sound devices, logging and font size in one place, plus the buttons that save and load profiles.
// Each group is a page (TrainDiaPage) that builds its controls and lists them in tables; the
// dialog places the pages and reads, validates, shows and resets their controls through those.
// It works on a copy of the values (TrainDiaFields, in the form its controls show them); the
// command that runs it fills the copy from the view and applies it once the dialog is accepted.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QHBoxLayout;

namespace kv {

class TrainDiaPage;
struct NumericControl;

// Control identifiers; each control's object name is "id" followed by its number.
namespace ctl {
inline constexpr int Lever = 2227, Coax1 = 2228, Coax2 = 2229, AP1 = 2230, AP2 = 2231, Clock = 2232,
                     Fork = 2233;
inline constexpr int Train = 1013, LiftAngle = 1009, LiftAngleSpin = 1010, Tau = 1031,
                     TauSpin = 1036, RateAverage = 1014, RateAverageSpin = 1015, Positions = 1018,
                     PositionsSpin = 1020, PositionAverage = 1021, PositionAverageSpin = 1022,
                     Stabilization = 1025, StabilizationSpin = 1026, Sequence = 2195,
                     Threshold = 1001, ThresholdSpin = 1005, MaxAmplitude = 1004,
                     MaxAmplitudeSpin = 1008, Blanking = 1003, BlankingSpin = 1007,
                     ProfileName = 2191, Save = 2190, Load = 2192, Silence = 1037,
                     SilenceSpin = 1039, Averaging = 1017, Teeth = 2207, TeethSpin = 1040,
                     FreeWheel = 2216, FreeWheelSpin = 2217;
inline constexpr int Cal22 = 1011, Cal44 = 1033, Cal48 = 1035, Cal96 = 1034, SntpServer = 1024,
                     GpsPort = 2220, GpsBaud = 2221, Trim = 1038;
inline constexpr int PositionsToText = 2176, Centre = 2208, Logging = 2175, LogInterval = 1029,
                     LogIntervalSpin = 1030, LargeFonts = 2218, PerformanceCounter = 2222,
                     InputDevice = 2187, SampleRate = 1032, MicIn = 1027, LineIn = 1028,
                     OutputDevice = 2193, Duplex = 2212, PrecisionTiming = 2240,
                     AutoThreshold = 2241;
inline constexpr int Ok = 1, Cancel = 2, Apply = 1012, Help = 57670, Reset = 1019;
} // namespace ctl

// The dialog's values as its controls show them: thresholds in percent, calibration factors and
// the clock trim in seconds per day away from nominal.
struct TrainDiaFields {
    int Escapement = 0; // EscapementType code
    QString Train;
    double LiftAngle = 52, Tau = 10, RateAverage = 8;
    int Positions = 5;
    double PositionAverage = 12, Stabilization = 4;
    QString Sequence;
    int ThresholdPercent = 5, MaxAmplitude = 330, BlankingPercent = 90;
    QString Profile;
    int SilencePercent = 10;
    bool Averaging = false;
    int EscapeWheelTeeth = 0, FreeWheel = 4;

    double Cal22 = 0, Cal44 = 0, Cal48 = 0, Cal96 = 0;
    QString SntpServer, GpsPort, GpsBaud;
    double Trim = 0;

    bool PositionsToText = false, Centre = true, Logging = false;
    int LogInterval = 10;
    bool LargeFonts = false;
    bool PrecisionTiming = false;
    bool AutoThreshold = false;
    QString InputDevice;
    int SampleRate = 96000;
    bool LineIn = false;
    QString OutputDevice;
    bool DuplexAudio = true;
};

// What the dialog lists besides its fixed entries, read once per opening.
struct TrainDiaLists {
    std::vector<std::string> InputDevices;
    std::vector<std::string> OutputDevices;
    std::vector<std::string> SerialPorts;
    int64_t CounterFrequency = 0; // performance counter, counts per second
};

// The button that accepted the dialog.
enum class TrainDiaExit { Ok, Apply, Save, Load };

// Serial devices present, as full paths: /dev/ttyS* with a UART behind it, /dev/ttyUSB*,
// /dev/ttyACM* and the /dev/serial/by-id names.
std::vector<std::string> SerialPortNames();

class CTrainDia : public QDialog {
    Q_OBJECT
public:
    // `defaults` is what "Reset to defaults" shows: the settings' own defaults, so the dialog
    // keeps no copy of them.
    CTrainDia(const TrainDiaFields& fields, const TrainDiaFields& defaults,
              const TrainDiaLists& lists, QWidget* parent = nullptr);
    ~CTrainDia() override;

    const TrainDiaFields& Fields() const { return Values; }
    TrainDiaExit Exit() const { return ExitButton; }

    // The control with the given identifier (see ctl), or null.
    QWidget* Control(int id) const;
    // Clicks a button or one arrow of a spin (`up` chooses the arrow).
    void Press(int id, bool up = true);

    // Validation and the empty-profile-name message; information boxes; the beep of "Save".
    std::function<void(const QString&)> ShowMessage;
    std::function<void()> Beep;
    // The dialog's help; without it the Help button is disabled.
    void SetHelp(std::function<void()> help);

    // Reads every control into the fields; on the first value that cannot be read or lies out
    // of range shows its message, led by the field's name, puts the focus on that control and
    // returns false.
    bool ReadControls();
    // Shows every field in its control.
    void ShowFields();

private:
    QHBoxLayout* BuildButtons();
    // The caption of a field, as its label shows it.
    QString FieldName(int id) const;
    const NumericControl* FindNumeric(int id) const;

    void OnSpin(int spinId, int delta);
    void Accept(TrainDiaExit exit);
    void OnProfileButton(TrainDiaExit exit);
    void ResetToDefaults();
    void Fail(int id, const QString& message);
    bool ReadNumbers();
    void ReadOthers();

    TrainDiaFields Values;
    const TrainDiaFields Defaults;
    TrainDiaExit ExitButton = TrainDiaExit::Ok;
    // The groups in the order of the screen, which is the order their fields are read in.
    std::vector<std::unique_ptr<TrainDiaPage>> Pages;
    std::function<void()> HelpAction;
};

} // namespace kv
