#pragma once
// The Instrument Editor's chosen Instrument and sound, as its parts (the
// articulation panel, the keyboard strip) ask for them each time they act,
// so none of them keeps a pointer into the bank that a deletion could leave
// dangling.
//
// Threads: user-interface thread only.

#include <functional>

namespace tonvero {

struct Instrument;
struct Zone;

struct EditedSound {
    Instrument* instrument = nullptr;  // the chosen program's Instrument; null when none is chosen
    Zone* zone = nullptr;              // the chosen sound's Zone in it; null when none is chosen
};

using EditedSoundSource = std::function<EditedSound()>;

}  // namespace tonvero
