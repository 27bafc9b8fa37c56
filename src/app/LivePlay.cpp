#include "app/LivePlay.h"

#include "engine/MixerEngine.h"
#include "engine/StudioMixer.h"

#include <QStringList>

namespace tonvero {

namespace {

// How often a take in progress is written out.
constexpr auto kTakeSaveInterval = std::chrono::seconds(2);
// Our own port's name under the client name, as MidiInput opens it.
constexpr const char* kClientName = "tonvero";

// How often the Custom and hardware mixers are given what came in.
constexpr int kPumpMillis = 5;

}  // namespace

const QString LivePlay::kOwnPort = QStringLiteral("tonvero:MIDI In");

LivePlay::LivePlay() {
    pump_.setInterval(kPumpMillis);
    QObject::connect(&pump_, &QTimer::timeout, [this] {
        if (!engine_) return;
        EngineLock lock(engine_->mutex);
        input_.playPending(*engine_);
    });
}

LivePlay::~LivePlay() {
    closePort();
    if (take_) stopRecording();
    input_.attach(nullptr);
}

SoundDeviceFactory LivePlay::withDeviceInput(SoundDeviceFactory factory, const std::string& clientName) {
    return [this, factory = std::move(factory), clientName]() {
        DeviceOpenResult opened = factory();
        deviceInput_ = opened.device && opened.device->setMidiInput(&LiveInput::fromDevice, &input_);
        if (deviceInput_) clientName_ = clientName;
        return opened;
    };
}

void LivePlay::detach() {
    if (take_) stopRecording();
    closePort();
    pump_.stop();
    input_.attach(nullptr);
    engine_ = nullptr;
}

void LivePlay::attach(MixerEngine& engine) {
    engine_ = &engine;
    StudioMixer* mixer = nullptr;
    int32_t rate = 0;
    {
        EngineLock lock(engine.mutex);
        // The Studio mixer rendering in the device's callback plays what
        // comes in on the frame it is stamped with; the others are pumped.
        if (engine.studio && engine.studio->inCallback()) mixer = engine.studio.get();
        rate = engine.outputRate;
    }
    rate_ = rate;
    input_.setRate(rate);
    if (mixer) {
        input_.attach(mixer);
    } else {
        input_.attachPolled();
        pump_.start();
    }
    QString error;
    if (!deviceInput_ && !choice_.isEmpty()) openPort(error);
}

bool LivePlay::choosePort(const QString& choice, QString& error) {
    error.clear();
    if (choice == choice_ && (port_ || choice.isEmpty())) return true;
    closePort();
    choice_ = choice;
    if (choice_.isEmpty() || !engine_ || deviceInput_) return true;
    return openPort(error);
}

QStringList LivePlay::listPorts(QString& error) {
    std::string why;
    QStringList names;
    for (const MidiPort& port : listMidiInputs(MidiApi::Default, why)) {
        const QString name = QString::fromStdString(port.name);
        // Our own port is offered as such, not as another program's.
        if (!name.startsWith(QLatin1String(kClientName) + QLatin1Char(':'))) names << name;
    }
    error = QString::fromStdString(why);
    return names;
}

bool LivePlay::openPort(QString& error) {
    std::string why;
    const std::string port = choice_ == kOwnPort ? std::string() : choice_.toStdString();
    port_ = MidiInput::open(MidiApi::Default, port, kClientName, &LiveInput::fromPort, &input_, why);
    if (!port_) error = QString::fromStdString(why);
    return port_ != nullptr;
}

void LivePlay::closePort() {
    if (!port_) return;
    port_->close();
    port_.reset();
    // Nothing comes from the port any more: what it held down goes up.
    input_.releaseHeld();
}

QString LivePlay::statusText() const {
    if (!engine_) return {};
    if (deviceInput_)
        return QStringLiteral("MIDI input: JACK port %1:midi_in").arg(QString::fromStdString(clientName_));
    if (port_) return QString::fromStdString(port_->description());
    return {};
}

QString LivePlay::poll() {
    QString message;
    if (port_ && !port_->portStillThere()) {
        message = QStringLiteral("The MIDI input port %1 went away; its held notes were released.").arg(choice_);
        closePort();
    }
    if (!take_) {
        // Nobody records: what was queued for a take is let go.
        input_.takeMessages([](const LiveInput::Stamped&) {});
        return message;
    }
    input_.takeMessages([this](const LiveInput::Stamped& s) { take_->add(s.frame, s.message); });
    if (std::chrono::steady_clock::now() - lastSave_ >= kTakeSaveInterval && take_->eventCount() != takeSaved_) {
        if (!saveTake()) message = QStringLiteral("The take could not be written to %1.").arg(recordPath_);
    }
    return message;
}

bool LivePlay::startRecording(const QString& path, QString& error) {
    if (!engine_) {
        error = QStringLiteral("There is no sound output to play live input on.");
        return false;
    }
    if (take_) stopRecording();
    uint64_t start = 0;
    {
        EngineLock lock(engine_->mutex);
        start = engine_->studio && engine_->studio->inCallback() ? engine_->studio->nextFrame() : input_.nowFrame();
    }
    // What came in before the take began is not part of it.
    input_.takeMessages([](const LiveInput::Stamped&) {});
    take_ = std::make_unique<TakeRecorder>(rate_, start);
    recordPath_ = path;
    takeSaved_ = 0;
    lastSave_ = std::chrono::steady_clock::now();
    // The file is there from the start, empty of notes, so a take is never lost to a missing folder unseen.
    if (!take_->save(path.toStdString())) {
        error = QStringLiteral("The take cannot be written to %1.").arg(path);
        take_.reset();
        recordPath_.clear();
        return false;
    }
    return true;
}

bool LivePlay::stopRecording() {
    if (!take_) return true;
    input_.takeMessages([this](const LiveInput::Stamped& s) { take_->add(s.frame, s.message); });
    const bool saved = take_->save(recordPath_.toStdString());
    take_.reset();
    return saved;
}

bool LivePlay::saveTake() {
    lastSave_ = std::chrono::steady_clock::now();
    if (!take_->save(recordPath_.toStdString())) return false;
    takeSaved_ = take_->eventCount();
    return true;
}

}  // namespace tonvero
