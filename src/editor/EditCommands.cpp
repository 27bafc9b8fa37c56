#include "editor/EditCommands.h"

#include "bank/Bank.h"
#include "editor/EditorEngine.h"
#include "engine/MixerEngine.h"

#include <QFileInfo>

#include <array>
#include <utility>

namespace tonvero {

void BankEdit::redo() {
    if (applied_) {
        applied_ = false;
        return;
    }
    Bank* bank = editedBank();
    if (!bank) return;
    EditorEngineLock lock;
    apply(*bank);
}

void BankEdit::undo() {
    Bank* bank = editedBank();
    if (!bank) return;
    EditorEngineLock lock;
    revert(*bank);
}

void EditGroup::apply(Bank& bank) {
    for (auto& edit : edits_) edit->apply(bank);
}

void EditGroup::revert(Bank& bank) {
    for (auto it = edits_.rbegin(); it != edits_.rend(); ++it) (*it)->revert(bank);
}

Zone* zoneOf(const Instrument& instrument, const Wave* wave) {
    return instrument.zones[zonePosition(instrument, wave)];
}

int32_t zonePosition(const Instrument& instrument, const Wave* wave) {
    if (!wave) return -1;
    for (int32_t z = 0; z < instrument.zones.count(); ++z)
        if (const Zone* zone = instrument.zones[z]; zone && zone->wave.get() == wave) return z;
    return -1;
}

QString soundName(const std::string& waveName) { return QFileInfo(QString::fromStdString(waveName)).fileName(); }

namespace {

// ---- taking Zones and Instruments out of the bank and putting them back ----

// A Zone taken out of its Instrument, with what puts it back exactly: its
// place and every Zone's stereo link as they were (the removal moves the
// last Zone into the freed place and follows the links).
struct HeldZone {
    static constexpr int32_t kNoArticulation = -2;
    int32_t position = -1;
    std::vector<int32_t> links;
    Zone zone;
};

// Cuts the voices that play the Zone's Wave (none may go on reading a Wave
// that leaves the bank, and the step holding it may be forgotten), then
// takes the Zone out into `held`.
void takeZone(Instrument& instrument, int32_t position, HeldZone& held) REQUIRES(theEngine->mutex) {
    Zone* zone = instrument.zones[position];
    if (!zone) return;
    held.links.clear();
    for (int32_t z = 0; z < instrument.zones.count(); ++z) {
        const Zone* other = instrument.zones[z];
        held.links.push_back(other && other->articulation ? other->articulation->linkedZone
                                                          : HeldZone::kNoArticulation);
    }
    if (theEngine && zone->wave) theEngine->cutVoicesOf(*zone->wave);
    held.position = position;
    held.zone = std::move(*zone);
    Bank::removeZone(instrument, position);
}

void putZoneBack(Instrument& instrument, HeldZone& held) {
    instrument.zones.append(std::make_unique<Zone>(std::move(held.zone)));
    held.zone = Zone{};
    const int32_t last = instrument.zones.count() - 1;
    // The Zone that moved into its place goes back to the end, where it came from.
    if (held.position >= 0 && held.position < last)
        std::swap(*instrument.zones[held.position], *instrument.zones[last]);
    for (int32_t z = 0; z < instrument.zones.count() && z < static_cast<int32_t>(held.links.size()); ++z)
        if (Zone* zone = instrument.zones[z];
            zone && zone->articulation && held.links[static_cast<size_t>(z)] != HeldZone::kNoArticulation)
            zone->articulation->linkedZone = held.links[static_cast<size_t>(z)];
}

// An Instrument taken out of the bank, with the ProgramMap and the slot
// numbers as they were (the deletion renumbers both).
struct HeldInstrument {
    int32_t slot = -1;
    std::array<int32_t, Bank::kProgramEntries> programMap{};
    std::array<int32_t, Bank::kInstrumentSlots> indices{};
    std::unique_ptr<Instrument> instrument;
};

void takeInstrument(Bank& bank, int32_t slot, HeldInstrument& held) REQUIRES(theEngine->mutex) {
    if (slot < 0 || slot >= bank.instrumentCount || !bank.instruments[static_cast<size_t>(slot)]) return;
    held.slot = slot;
    held.programMap = bank.programMap;
    for (int32_t s = 0; s < Bank::kInstrumentSlots; ++s)
        if (const Instrument* in = bank.instruments[static_cast<size_t>(s)].get())
            held.indices[static_cast<size_t>(s)] = in->index;
    // No voice may go on reading a Wave that leaves the bank.
    if (theEngine) theEngine->cutVoicesOf(*bank.instruments[static_cast<size_t>(slot)]);
    held.instrument = std::move(bank.instruments[static_cast<size_t>(slot)]);
    bank.deleteInstrument(slot);
}

void putInstrumentBack(Bank& bank, HeldInstrument& held) {
    if (!held.instrument || held.slot < 0 || bank.instrumentCount >= Bank::kInstrumentSlots) return;
    for (int32_t s = bank.instrumentCount; s > held.slot; --s)
        bank.instruments[static_cast<size_t>(s)] = std::move(bank.instruments[static_cast<size_t>(s - 1)]);
    bank.instruments[static_cast<size_t>(held.slot)] = std::move(held.instrument);
    ++bank.instrumentCount;
    for (int32_t s = 0; s < bank.instrumentCount; ++s)
        if (Instrument* in = bank.instruments[static_cast<size_t>(s)].get())
            in->index = held.indices[static_cast<size_t>(s)];
    bank.programMap = held.programMap;
}

// ---- the edits ----

class ValueEdit final : public BankEdit {
public:
    ValueEdit(const QString& field, int key, EditTarget target, int64_t before, int64_t after,
              std::function<void(int64_t)> store, std::function<QString(int64_t)> show, bool merges)
        : BankEdit(QString()),
          field_(field),
          key_(key),
          target_(target),
          before_(before),
          after_(after),
          store_(std::move(store)),
          show_(std::move(show)),
          merges_(merges) {
        name();
    }
    void apply(Bank&) REQUIRES(theEngine->mutex) override { store_(after_); }
    void revert(Bank&) REQUIRES(theEngine->mutex) override { store_(before_); }
    int id() const override { return merges_ ? 1 : -1; }
    bool mergeWith(const QUndoCommand* other) override {
        const auto* next = dynamic_cast<const ValueEdit*>(other);
        if (!next || next->key_ != key_ || next->target_.instrument != target_.instrument ||
            next->target_.wave != target_.wave)
            return false;
        after_ = next->after_;
        name();
        setObsolete(after_ == before_);
        return true;
    }

private:
    void name() { setText(field_ + QLatin1Char(' ') + show_(before_) + QStringLiteral(" → ") + show_(after_)); }

    QString field_;
    int key_;
    EditTarget target_;
    int64_t before_;
    int64_t after_;
    std::function<void(int64_t)> store_;
    std::function<QString(int64_t)> show_;
    bool merges_;
};

class AssignEdit final : public BankEdit {
public:
    AssignEdit(const QString& text, int program, int32_t before, int32_t after)
        : BankEdit(text), program_(program), before_(before), after_(after) {}
    void apply(Bank& bank) REQUIRES(theEngine->mutex) override {
        bank.programMap[static_cast<size_t>(program_)] = after_;
    }
    void revert(Bank& bank) REQUIRES(theEngine->mutex) override {
        bank.programMap[static_cast<size_t>(program_)] = before_;
    }

private:
    int program_;
    int32_t before_;
    int32_t after_;
};

class InsertInstrumentEdit final : public BankEdit {
public:
    explicit InsertInstrumentEdit(const std::string& name)
        : BankEdit(QStringLiteral("Insert Instrument ") + QString::fromStdString(name)), name_(name) {}
    void apply(Bank& bank) REQUIRES(theEngine->mutex) override {
        if (held_.instrument)
            putInstrumentBack(bank, held_);
        else
            slot_ = bank.insertInstrument(name_);
    }
    void revert(Bank& bank) REQUIRES(theEngine->mutex) override {
        if (slot_ >= 0) takeInstrument(bank, slot_, held_);
    }

private:
    std::string name_;
    int32_t slot_ = -1;
    HeldInstrument held_;
};

class DeleteInstrumentEdit final : public BankEdit {
public:
    DeleteInstrumentEdit(const QString& text, int32_t slot) : BankEdit(text), slot_(slot) {}
    void apply(Bank& bank) REQUIRES(theEngine->mutex) override { takeInstrument(bank, slot_, held_); }
    void revert(Bank& bank) REQUIRES(theEngine->mutex) override { putInstrumentBack(bank, held_); }

private:
    int32_t slot_;
    HeldInstrument held_;
};

class ImportSoundEdit final : public BankEdit {
public:
    ImportSoundEdit(Instrument& instrument, std::unique_ptr<Zone> zone)
        : BankEdit(QStringLiteral("Import ") + soundName(zone->wave->name)),
          instrument_(instrument),
          wave_(zone->wave.get()),
          pending_(std::move(zone)) {}
    void apply(Bank&) REQUIRES(theEngine->mutex) override {
        if (pending_)
            instrument_.zones.append(std::move(pending_));
        else
            putZoneBack(instrument_, held_);
    }
    void revert(Bank&) REQUIRES(theEngine->mutex) override {
        if (const int32_t z = zonePosition(instrument_, wave_); z >= 0) takeZone(instrument_, z, held_);
    }

private:
    Instrument& instrument_;
    const Wave* wave_;
    std::unique_ptr<Zone> pending_;  // until the first apply
    HeldZone held_;
};

// The Wave's samples replaced by others (and back); its voices are cut first,
// since they read the samples they started with.
class SamplesEdit final : public BankEdit {
public:
    SamplesEdit(const QString& text, Instrument& instrument, const Wave& wave, SampleData after)
        : BankEdit(text), instrument_(instrument), wave_(&wave), before_(wave.samples), after_(std::move(after)) {}
    void apply(Bank&) REQUIRES(theEngine->mutex) override { set(after_); }
    void revert(Bank&) REQUIRES(theEngine->mutex) override { set(before_); }

private:
    void set(const SampleData& samples) REQUIRES(theEngine->mutex) {
        Zone* zone = zoneOf(instrument_, wave_);
        if (!zone) return;
        if (theEngine) theEngine->cutVoicesOf(*zone->wave);
        zone->wave->setSamples(samples);
    }
    Instrument& instrument_;
    const Wave* wave_;
    SampleData before_;
    SampleData after_;
};

class DeleteSoundEdit final : public BankEdit {
public:
    DeleteSoundEdit(Instrument& instrument, int32_t position)
        : BankEdit(QStringLiteral("Delete Sound ") + soundName(instrument.zones[position]->wave
                                                                   ? instrument.zones[position]->wave->name
                                                                   : std::string())),
          instrument_(instrument),
          position_(position) {}
    void apply(Bank&) REQUIRES(theEngine->mutex) override { takeZone(instrument_, position_, held_); }
    void revert(Bank&) REQUIRES(theEngine->mutex) override { putZoneBack(instrument_, held_); }

private:
    Instrument& instrument_;
    int32_t position_;
    HeldZone held_;
};

class LoopPointsEdit final : public BankEdit {
public:
    LoopPointsEdit(const QString& text, Instrument& instrument, const Wave& wave, std::pair<int32_t, int32_t> before,
                   std::pair<int32_t, int32_t> after)
        : BankEdit(text), instrument_(instrument), wave_(&wave), before_(before), after_(after) {}
    void apply(Bank&) REQUIRES(theEngine->mutex) override { set(after_); }
    void revert(Bank&) REQUIRES(theEngine->mutex) override { set(before_); }

private:
    void set(std::pair<int32_t, int32_t> loop) {
        if (Zone* zone = zoneOf(instrument_, wave_)) {
            zone->wave->loopBegin = loop.first;
            zone->wave->loopEnd = loop.second;
        }
    }
    Instrument& instrument_;
    const Wave* wave_;
    std::pair<int32_t, int32_t> before_;
    std::pair<int32_t, int32_t> after_;
};

// Swaps the Zone's articulation with the one held: on gives it the held
// defaults, off takes its own away into the edit, and each swap back restores.
class ArticulationEdit final : public BankEdit {
public:
    ArticulationEdit(Instrument& instrument, const Wave& wave, bool on)
        : BankEdit(on ? QStringLiteral("Articulation On ") + soundName(wave.name)
                      : QStringLiteral("Articulation Off ") + soundName(wave.name)),
          instrument_(instrument),
          wave_(&wave) {
        if (on) other_ = std::make_unique<ZoneArticulation>();
    }
    void apply(Bank&) REQUIRES(theEngine->mutex) override { swap(); }
    void revert(Bank&) REQUIRES(theEngine->mutex) override { swap(); }

private:
    void swap() {
        if (Zone* zone = zoneOf(instrument_, wave_)) std::swap(zone->articulation, other_);
    }
    Instrument& instrument_;
    const Wave* wave_;
    std::unique_ptr<ZoneArticulation> other_;
};

class EnvelopeDragEdit final : public BankEdit {
public:
    EnvelopeDragEdit(Instrument& instrument, const Wave& wave, const EnvelopeSettings& before,
                     const EnvelopeSettings& after, int drag)
        : BankEdit(QStringLiteral("Drag Volume Envelope ") + soundName(wave.name)),
          instrument_(instrument),
          wave_(&wave),
          before_(before),
          after_(after),
          drag_(drag) {}
    void apply(Bank&) REQUIRES(theEngine->mutex) override { set(after_); }
    void revert(Bank&) REQUIRES(theEngine->mutex) override { set(before_); }
    int id() const override { return 2; }
    bool mergeWith(const QUndoCommand* other) override {
        const auto* next = dynamic_cast<const EnvelopeDragEdit*>(other);
        if (!next || next->drag_ != drag_ || &next->instrument_ != &instrument_ || next->wave_ != wave_) return false;
        after_ = next->after_;
        return true;
    }

private:
    // The drag sets the times and the sustain level; the key scalings stay.
    void set(const EnvelopeSettings& from) {
        Zone* zone = zoneOf(instrument_, wave_);
        if (!zone || !zone->articulation) return;
        EnvelopeSettings& e = zone->articulation->volumeEnvelope;
        e.delay = from.delay;
        e.attack = from.attack;
        e.hold = from.hold;
        e.decay = from.decay;
        e.sustain = from.sustain;
        e.release = from.release;
    }
    Instrument& instrument_;
    const Wave* wave_;
    EnvelopeSettings before_;
    EnvelopeSettings after_;
    int drag_;
};

}  // namespace

std::unique_ptr<BankEdit> valueEdit(const QString& field, int key, EditTarget target, int64_t before, int64_t after,
                                    std::function<void(int64_t)> store, std::function<QString(int64_t)> show,
                                    bool merges) {
    if (!show) show = [](int64_t value) { return QString::number(value); };
    return std::make_unique<ValueEdit>(field, key, target, before, after, std::move(store), std::move(show), merges);
}

std::unique_ptr<BankEdit> assignEdit(const Bank& bank, int program, int32_t slot, const QString& programName) {
    const Instrument* instrument =
        slot >= 0 && slot < Bank::kInstrumentSlots ? bank.instruments[static_cast<size_t>(slot)].get() : nullptr;
    const QString text = QStringLiteral("Assign ") +
                         (instrument ? QString::fromStdString(instrument->name) : QString()) + QStringLiteral(" to ") +
                         programName;
    return std::make_unique<AssignEdit>(text, program, bank.programMap[static_cast<size_t>(program)], slot);
}

std::unique_ptr<BankEdit> insertInstrumentEdit(const std::string& name) {
    return std::make_unique<InsertInstrumentEdit>(name);
}

std::unique_ptr<BankEdit> deleteInstrumentEdit(const Bank& bank, int32_t slot) {
    const Instrument* instrument = bank.instruments[static_cast<size_t>(slot)].get();
    return std::make_unique<DeleteInstrumentEdit>(
        QStringLiteral("Delete Instrument ") + (instrument ? QString::fromStdString(instrument->name) : QString()),
        slot);
}

std::unique_ptr<BankEdit> importSoundEdit(Instrument& instrument, std::unique_ptr<Wave> wave) {
    auto zone = std::make_unique<Zone>();
    zone->wave = std::move(wave);
    return importZoneEdit(instrument, std::move(zone));
}

std::unique_ptr<BankEdit> importZoneEdit(Instrument& instrument, std::unique_ptr<Zone> zone) {
    return std::make_unique<ImportSoundEdit>(instrument, std::move(zone));
}

std::unique_ptr<BankEdit> samplesEdit(const QString& text, Instrument& instrument, const Wave& wave, SampleData after) {
    return std::make_unique<SamplesEdit>(text, instrument, wave, std::move(after));
}

std::unique_ptr<BankEdit> deleteSoundEdit(Instrument& instrument, int32_t position) {
    return std::make_unique<DeleteSoundEdit>(instrument, position);
}

std::unique_ptr<BankEdit> loopPointsEdit(Instrument& instrument, const Wave& wave, int32_t beginBefore,
                                         int32_t endBefore, int32_t beginAfter, int32_t endAfter) {
    QString text;
    if (beginBefore == beginAfter)
        text = QStringLiteral("Loop End %1 → %2").arg(endBefore).arg(endAfter);
    else if (endBefore == endAfter)
        text = QStringLiteral("Loop Begin %1 → %2").arg(beginBefore).arg(beginAfter);
    else
        text = QStringLiteral("Loop %1–%2 → %3–%4").arg(beginBefore).arg(endBefore).arg(beginAfter).arg(endAfter);
    return std::make_unique<LoopPointsEdit>(text, instrument, wave, std::pair{beginBefore, endBefore},
                                            std::pair{beginAfter, endAfter});
}

std::unique_ptr<BankEdit> articulationEdit(Instrument& instrument, const Wave& wave, bool on) {
    return std::make_unique<ArticulationEdit>(instrument, wave, on);
}

std::unique_ptr<BankEdit> envelopeDragEdit(Instrument& instrument, const Wave& wave, const EnvelopeSettings& after,
                                           int drag) {
    const Zone* zone = zoneOf(instrument, &wave);
    const EnvelopeSettings before =
        zone && zone->articulation ? zone->articulation->volumeEnvelope : EnvelopeSettings{};
    return std::make_unique<EnvelopeDragEdit>(instrument, wave, before, after, drag);
}

}  // namespace tonvero
