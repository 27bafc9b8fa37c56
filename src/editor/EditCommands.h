#pragma once
// The changes the editors make to the bank, each a command that applies it
// and takes it back exactly (BankHistory records and runs them).
//
// Each command finds what it changes afresh when it runs: the Instrument by
// its address (an Instrument taken out of the bank is held by the command
// that took it and comes back as the same object), a sound by its Wave's
// address (likewise), so a step stays right whatever was done and undone
// around it. A Zone or Instrument that leaves the bank is held by its command
// with its Wave and articulation; the voices that play its Waves are cut
// first (takeZone, takeInstrument), whether the user deleted it, undid its
// import or redid its deletion.
//
// apply and revert run with the engine lock held, on the user-interface thread.

#include "bank/Articulation.h"
#include "bank/SampleData.h"
#include "editor/EditorEngine.h"

#include <QString>
#include <QUndoCommand>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tonvero {

class Bank;
struct Instrument;
struct Wave;
struct Zone;

class BankEdit : public QUndoCommand {
public:
    explicit BankEdit(const QString& text) { setText(text); }
    // The change and its reverse. Each runs on the bank exactly as the
    // other left it (or as it was when the edit was made).
    virtual void apply(Bank& bank) REQUIRES(theEngine->mutex) = 0;
    virtual void revert(Bank& bank) REQUIRES(theEngine->mutex) = 0;

    // QUndoCommand's: the change with the engine lock held. The first redo
    // is skipped when the edit was applied as it was recorded.
    void redo() final;
    void undo() final;
    void markApplied() { applied_ = true; }

private:
    bool applied_ = false;
};

// Edits that run as one step.
class EditGroup final : public BankEdit {
public:
    explicit EditGroup(const QString& text) : BankEdit(text) {}
    void add(std::unique_ptr<BankEdit> edit) { edits_.push_back(std::move(edit)); }
    bool empty() const { return edits_.empty(); }
    void apply(Bank& bank) REQUIRES(theEngine->mutex) override;
    void revert(Bank& bank) REQUIRES(theEngine->mutex) override;

private:
    std::vector<std::unique_ptr<BankEdit>> edits_;
};

// The Zone that plays `wave` in `instrument`, and its position; null / -1 when none does.
Zone* zoneOf(const Instrument& instrument, const Wave* wave);
int32_t zonePosition(const Instrument& instrument, const Wave* wave);
// A sound's name in a step: its file's name without the folders.
QString soundName(const std::string& waveName);

// What a value edit changes: an Instrument's value (wave null) or one of its sound's.
struct EditTarget {
    Instrument* instrument = nullptr;
    const Wave* wave = nullptr;
};

// One value of the bank, from `before` to `after`, named "Basic Note 60 → 62"
// (`field` and the values as `show` writes them). `store` writes a value
// into the bank. Edits of the same `key` on the same target, one straight
// after the other, make one step when `merges` (a number typed digit by digit).
std::unique_ptr<BankEdit> valueEdit(const QString& field, int key, EditTarget target, int64_t before, int64_t after,
                                    std::function<void(int64_t)> store, std::function<QString(int64_t)> show,
                                    bool merges = true);

// ProgramMap entry `program` names `slot` ("Assign Piano to 000 - Acoustic Grand").
std::unique_ptr<BankEdit> assignEdit(const Bank& bank, int program, int32_t slot, const QString& programName);
// A new, empty Instrument `name` in the next slot ("Insert Instrument Piano").
std::unique_ptr<BankEdit> insertInstrumentEdit(const std::string& name);
// The Instrument in `slot` leaves the bank, with its Zones ("Delete Instrument Piano").
std::unique_ptr<BankEdit> deleteInstrumentEdit(const Bank& bank, int32_t slot);
// A new Zone playing `wave` at the end of `instrument` ("Import Violin Gb4.wav").
std::unique_ptr<BankEdit> importSoundEdit(Instrument& instrument, std::unique_ptr<Wave> wave);
// The same for a Zone made whole beforehand (its keys, basic note, articulation).
std::unique_ptr<BankEdit> importZoneEdit(Instrument& instrument, std::unique_ptr<Zone> zone);
// The Wave's samples become `after` ("Crossfade Loop Violin Gb4.wav").
std::unique_ptr<BankEdit> samplesEdit(const QString& text, Instrument& instrument, const Wave& wave, SampleData after);
// The Zone at `position` leaves `instrument`, with its Wave and articulation ("Delete Sound Violin Gb4.wav").
std::unique_ptr<BankEdit> deleteSoundEdit(Instrument& instrument, int32_t position);
// The Wave's loop from one begin and end to another
// ("Loop 100–5723 → 120–5690", or "Loop End 5723 → 5690" when one end moved).
std::unique_ptr<BankEdit> loopPointsEdit(Instrument& instrument, const Wave& wave, int32_t beginBefore,
                                         int32_t endBefore, int32_t beginAfter, int32_t endAfter);
// The sound gets articulation with the defaults (`on`) or loses the one it has.
std::unique_ptr<BankEdit> articulationEdit(Instrument& instrument, const Wave& wave, bool on);
// The volume envelope's times and sustain level as a drag of the curve made
// them; the moves of one drag (`drag` the same) make one step.
std::unique_ptr<BankEdit> envelopeDragEdit(Instrument& instrument, const Wave& wave, const EnvelopeSettings& after,
                                           int drag);

}  // namespace tonvero
