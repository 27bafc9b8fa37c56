#pragma once
// Note names for MIDI keys, as the editors show them and as sample file
// names carry them: key 60 is "C4" (so 69, concert A, is "A4"), sharps for
// the black keys, octaves -1 to 9 (key 0 is "C-1", 127 "G9").
//
// Threads: pure functions; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tonvero {

// "C4" for 60, "F#4" for 66; empty for a key outside 0..127.
std::string noteName(int32_t key);
// "89 (F6)": the key and its name, as lists show a Zone's notes.
std::string noteLabel(int32_t key);
// The key of a whole note name: a letter A..G (either case), an optional
// '#' or 'b' (several allowed, "C##4"), and an octave -1..9: "Gb4" is 66,
// "C-1" 0. Nothing when `text` is not exactly such a name or the key lies
// outside 0..127.
std::optional<int32_t> parseNoteName(std::string_view text);
// The key of a note name at the end of a sound's name, after a space, '_',
// '-', '.', or the start, with a file extension (".wav") dropped first:
// "Violin Gb4" is 66, "Piano C#3.wav" 49, "flute_a4" 69. Nothing when the
// name does not end in one ("Pad 2", "Bass").
std::optional<int32_t> findNoteNameAtEnd(std::string_view name);

}  // namespace tonvero
