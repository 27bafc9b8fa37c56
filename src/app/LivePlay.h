#pragma once
// Live play in the application: what comes in from a MIDI keyboard or
// another program reaches the Studio mixer of whatever engine the
// application has made, and can be kept as a take.
//
// The source is the JACK client's own midi_in when the output is JACK;
// otherwise a MIDI port read through RtMidi (the ALSA sequencer, else JACK
// MIDI): none, a port of our own that other programs connect to, or one of
// the ports the system lists, by name. The choice outlives the engine: a new
// mixer or output closes the port before the old engine goes and opens it
// again for the new one.
//
// A take (the Record toggle) is written every two seconds and when it ends,
// through a temporary file renamed over the chosen one, so the file there is
// always a whole take. A new engine starts a new clock, so it ends the take.
//
// The Studio mixer rendering in the device's callback takes live input on
// its frame; the Custom and hardware mixers (and a Studio mixer writing
// ahead) get it from a timer here every few milliseconds, at their next pass.
//
// Threads: user-interface thread only; the port's own thread and the audio
// thread reach the LiveInput alone.

#include "live/LiveInput.h"
#include "live/MidiInput.h"
#include "live/TakeRecorder.h"
#include "platform/SoundDevice.h"

#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>
#include <string>

namespace tonvero {

class MixerEngine;

class LivePlay {
public:
    // The choice meaning "a port of our own".
    static const QString kOwnPort;

    LivePlay();
    ~LivePlay();  // closes the port and keeps the take
    LivePlay(const LivePlay&) = delete;
    LivePlay& operator=(const LivePlay&) = delete;

    // `factory` made to hand the device's own MIDI input (a JACK client's
    // midi_in, named under `clientName`) to the live input, when it has one.
    SoundDeviceFactory withDeviceInput(SoundDeviceFactory factory, const std::string& clientName);

    // Before theEngine goes: no source may reach it any more (the port is
    // closed, the take ended). After a new engine has opened its output:
    // attach() sends live input to it and opens the chosen port again.
    void detach();
    void attach(MixerEngine& engine);

    // The source: empty for none, kOwnPort, or a port's name. Opened at once
    // when an engine is attached; false with `error` when that failed (the
    // choice is kept, and no port is open).
    bool choosePort(const QString& choice, QString& error);
    QString chosenPort() const { return choice_; }
    // The ports the system offers now, by name; `error` when none can be listed.
    static QStringList listPorts(QString& error);
    // Whether the source is the device's own input (JACK), so no port can be chosen.
    bool deviceInput() const { return deviceInput_; }

    // What is connected, for the status bar: "MIDI input: ..." or empty.
    QString statusText() const;
    // Whether an engine takes live input now.
    bool playable() const { return engine_ != nullptr; }

    // On the user-interface timer: a port that went lets go of its notes,
    // the take gets what came in and is saved every two seconds. Returns a
    // message for the status bar when something changed ("...went away").
    QString poll();

    // The Record toggle: a take written to `path` from now on; false with
    // `error` when no engine can record (no live input).
    bool startRecording(const QString& path, QString& error);
    // Ends the take and saves it; false when the last save failed.
    bool stopRecording();
    bool recording() const { return take_ != nullptr; }
    QString recordingPath() const { return recordPath_; }

    LiveInput& input() { return input_; }

private:
    bool openPort(QString& error);
    void closePort();
    bool saveTake();

    LiveInput input_{44100};
    MixerEngine* engine_ = nullptr;
    int32_t rate_ = 44100;
    bool deviceInput_ = false;  // the device last opened has a MIDI input of its own
    std::string clientName_ = "tonvero";
    QString choice_;
    std::unique_ptr<MidiInput> port_;
    std::unique_ptr<TakeRecorder> take_;
    QString recordPath_;
    size_t takeSaved_ = 0;
    std::chrono::steady_clock::time_point lastSave_{};
    // The Custom and hardware mixers take what came in from here, every few milliseconds.
    QTimer pump_;
};

}  // namespace tonvero
