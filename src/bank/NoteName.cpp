#include "bank/NoteName.h"

#include <array>

namespace tonvero {
namespace {

constexpr std::array<const char*, 12> kNames = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
// Semitones above C of the letters A..G.
constexpr std::array<int32_t, 7> kLetterSemitones = {9, 11, 0, 2, 4, 5, 7};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string noteName(int32_t key) {
    if (key < 0 || key > 127) return {};
    return std::string(kNames[static_cast<size_t>(key % 12)]) + std::to_string(key / 12 - 1);
}

std::string noteLabel(int32_t key) {
    const std::string name = noteName(key);
    return name.empty() ? std::to_string(key) : std::to_string(key) + " (" + name + ")";
}

std::optional<int32_t> parseNoteName(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const char letter = lower(text[0]);
    if (letter < 'a' || letter > 'g') return std::nullopt;
    int32_t semitone = kLetterSemitones[static_cast<size_t>(letter - 'a')];
    size_t at = 1;
    for (; at < text.size() && (text[at] == '#' || text[at] == 'b'); ++at) semitone += text[at] == '#' ? 1 : -1;
    // The octave: -1 or a single digit, and nothing after it.
    int32_t octave = 0;
    if (text.substr(at) == "-1")
        octave = -1;
    else if (text.size() == at + 1 && text[at] >= '0' && text[at] <= '9')
        octave = text[at] - '0';
    else
        return std::nullopt;
    const int32_t key = (octave + 1) * 12 + semitone;
    if (key < 0 || key > 127) return std::nullopt;
    return key;
}

std::optional<int32_t> findNoteNameAtEnd(std::string_view name) {
    // Drop an extension: a '.' followed by letters and digits only, not all
    // digits, not itself a note name ("Piano C#3.wav"; but "Lead A4" keeps its name).
    if (const size_t dot = name.rfind('.'); dot != std::string_view::npos && dot + 1 < name.size()) {
        const std::string_view extension = name.substr(dot + 1);
        bool word = true, digitsOnly = true;
        for (char c : extension) {
            const char l = lower(c);
            word = word && ((l >= 'a' && l <= 'z') || (c >= '0' && c <= '9'));
            digitsOnly = digitsOnly && c >= '0' && c <= '9';
        }
        if (word && !digitsOnly && !parseNoteName(extension)) name = name.substr(0, dot);
    }
    // The last word: after the last separator.
    const size_t separator = name.find_last_of(" _.\t");
    std::string_view word = separator == std::string_view::npos ? name : name.substr(separator + 1);
    if (const std::optional<int32_t> key = parseNoteName(word)) return key;
    // "Piano-C4", "Piano-C-1": a '-' before the note name.
    for (size_t dash = word.find('-'); dash != std::string_view::npos; dash = word.find('-', dash + 1))
        if (const std::optional<int32_t> key = parseNoteName(word.substr(dash + 1))) return key;
    return std::nullopt;
}

}  // namespace tonvero
