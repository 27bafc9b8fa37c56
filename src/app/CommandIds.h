#pragma once
// Command ids of the menu, toolbar and accelerators. They name the commands
// in the code and tie each one to its prompt.

namespace tonvero::command {

constexpr int InstrumentEditor = 32771;
constexpr int LoadMidi = 32773;
constexpr int Play = 32774;
constexpr int Pause = 32776;
constexpr int Unassigned = 32777;  // the toolbar's last button: no handler, always disabled
constexpr int Stop = 32778;
constexpr int SavePatchmap = 32779;
constexpr int SavePatchmapAs = 32781;
constexpr int NewDocument = 57600;
constexpr int OpenPatchmap = 57601;
constexpr int SaveDocument = 57603;
constexpr int Print = 57607;
// Edit menu: undo and redo of the changes to the bank.
constexpr int Undo = 57643;
constexpr int Redo = 57644;
constexpr int About = 57664;
constexpr int Exit = 57665;
constexpr int ToggleToolbar = 59392;
constexpr int ToggleStatusBar = 59393;
// Options menu: the mixer (one id per MixerMode, in its order).
constexpr int MixerStudio = 32790;
constexpr int MixerSoftware = 32791;
constexpr int MixerPrimary = 32792;
constexpr int MixerHardware = 32793;
// Options menu: the Studio mixer's effects, each on or off.
constexpr int Reverb = 32794;
constexpr int Chorus = 32795;
// Song menu and the position toolbar: moving about in the song and looping.
constexpr int PlayPause = 32796;    // Space: pause a playing song, resume a paused one, play a stopped one
constexpr int SeekBack = 32797;     // five seconds back
constexpr int SeekForward = 32798;  // five seconds on
constexpr int SeekStart = 32799;    // to the song's start
constexpr int Loop = 32800;         // looping on or off
constexpr int LoopStart = 32801;    // the A-B range's start from the position slider
constexpr int LoopEnd = 32802;      // the A-B range's end from the position slider
constexpr int ClearLoop = 32803;    // forgets the A-B range
// View menu: the channel view.
constexpr int ToggleChannels = 32804;
// Options menu: the sound output.
constexpr int OutputSoundDevice = 32805;  // PortAudio's default device
constexpr int OutputJack = 32806;         // a client of the JACK server
constexpr int OutputNone = 32807;         // no sound
// MIDI Input menu (the ports the system offers are listed between these).
constexpr int MidiInputNone = 32808;
constexpr int MidiInputOwnPort = 32809;
constexpr int Record = 32810;  // keep what is played live as a Standard MIDI File

}  // namespace tonvero::command
