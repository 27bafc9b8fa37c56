#pragma once
// The main window: menu, toolbar, position toolbar, status bar, the status
// view, the channel view docked below it, and the song and Patchmap commands.
// Everything here runs on the user-interface thread; engine calls take the
// engine mutex (the transport and seek commands take it themselves).
//
// The bank's changes are kept in the bank's history (editor/BankHistory.h):
// the Edit menu undoes and redoes them, the title marks a bank changed since
// it was loaded or saved ("gmpatch.map* - Tonvero"), and opening another
// Patchmap or closing the window asks whether to save it first.
//
// What the listener sets (master volume, looping and the A-B range, the
// channels' mutes and solos) is kept here and in the channel view, and given
// to every engine the application makes: at start-up and after a change of mixer.

#include "app/CTonveroDoc.h"
#include "engine/MixerMode.h"

#include <QMainWindow>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <string>

class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QToolBar;

namespace tonvero {

class CTonveroView;
class ChannelView;
class LivePlay;
class MixerEngine;
class Bank;
class PositionBar;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(CTonveroDoc& document, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CTonveroView* view() const { return view_; }
    QToolBar* toolBar() const { return toolBar_; }
    PositionBar* positionBar() const { return positionBar_; }
    QDockWidget* channelDock() const { return channelDock_; }
    ChannelView* channelView() const { return channelView_; }
    // The action of a command id (menu, toolbar and accelerators share it).
    QAction* action(int commandId) const { return actions_.value(commandId, nullptr); }
    // Pane 0 of the status bar: prompts, "Ready", "Patchmap loaded." ...
    QString messagePaneText() const;
    void setMessagePaneText(const QString& text);
    // The pane showing the song's position and length ("0:42 / 2:15").
    QString positionPaneText() const;
    // The window title: "<document> - Tonvero", the document named after the
    // Patchmap last loaded or saved ("gmpatch.map - Tonvero"), with a "*"
    // after the name while the bank has changes not saved ("gmpatch.map* - Tonvero").
    void updateTitle();
    // Before the bank is let go (another Patchmap opened, the window closed):
    // when it has changes not saved, asks "Save changes to NAME?". Yes saves
    // (through Save As when no Patchmap is named yet) and goes on only when
    // that worked, No goes on without saving, Cancel stays. True to go on.
    bool maySaveChanges();

    // The recent-file list (at most 4 entries, newest first), kept in the user's settings.
    QStringList recentFiles() const;
    void addRecentFile(const QString& path);

    // Opens a song or Patchmap by name, as the commands do after their dialog
    // (also for files given on the command line or dropped on the window).
    void openSong(const QString& path);
    void openPatchmap(const QString& path);
    // Opens by extension: .map as a Patchmap, anything else as a song.
    void openFile(const QString& path);

    // Makes the engine anew with another mixer: false with `error` for the
    // user when its output cannot be opened. Set by the application.
    using MixerSwitch = std::function<bool(MixerMode mode, QString& error)>;
    void setMixerSwitch(MixerSwitch change) { mixerSwitch_ = std::move(change); }
    // The Options menu's choice: the mixer `mode` at once (the output
    // restarts; a playing song plays again from its start), remembered.
    void onChooseMixer(MixerMode mode);
    // The mixer the user chose last (the Studio mixer until then).
    static MixerMode storedMixerMode();

    // Turns the Studio mixer's reverb and chorus on or off. Set by the application.
    using EffectsSwitch = std::function<void(bool reverb, bool chorus)>;
    void setEffectsSwitch(EffectsSwitch change) { effectsSwitch_ = std::move(change); }
    // The Options menu's check items: the reverb or the chorus on or off at
    // once (what is sounding in it dies away), remembered.
    void onToggleEffects();
    // The effects as the user left them (both on until then).
    static void storedEffects(bool& reverb, bool& chorus);
    // Makes the engine anew on another output ("portaudio", "jack" or
    // "null"); false with `error`. And the output the engine plays on now.
    // Set by the application.
    using OutputSwitch = std::function<bool(const std::string& backend, QString& error)>;
    using OutputName = std::function<std::string()>;
    void setOutputSwitch(OutputSwitch change, OutputName current) {
        outputSwitch_ = std::move(change);
        outputName_ = std::move(current);
    }
    // The Options menu's output items: the engine on that output at once, remembered.
    void onChooseOutput(const std::string& backend);
    // The output the user chose last (empty until then).
    static std::string storedOutput();

    // Live input, owned by the application; the MIDI Input menu drives it.
    void setLivePlay(LivePlay* live) { live_ = live; }
    // The MIDI Input menu: no input, our own port, or a port the system
    // offers by name (LivePlay::kOwnPort for our own), opened at once and remembered.
    void onChooseMidiInput(const QString& choice);
    // The MIDI input chosen last (empty: none).
    static QString storedMidiInput();
    // The Record toggle: on asks where to keep the take and starts it; off
    // ends it (the file is complete either way).
    void onToggleRecord(bool on);
    // The status bar's panes for the output's latency ("Latency 5.3 ms") and
    // what MIDI input is connected ("MIDI input: ...").
    QString latencyPaneText() const;
    QString midiPaneText() const;

    // The master volume as the user left it, 0..100 (100 until then).
    static int storedVolume();
    // Gives theEngine the master volume, looping, the A-B range and the
    // channels' mutes and solos as the listener set them.
    void applyListenerSettings();

public slots:
    void onLoadMidi();
    // Play: a paused song goes on where it was; otherwise the song plays from its beginning.
    void onPlay();
    // Pause: holds a playing song, lets a paused one go on.
    void onPause();
    // Space: pauses a playing song, resumes a paused one, plays a stopped one from its beginning.
    void onPlayPause();
    void onStop();
    // Moves the song by `seconds` (negative: back), within its start and end.
    void onSeekBy(double seconds);
    // Moves the song to `seconds` of song time.
    void onSeekTo(double seconds);
    // The Loop item: looping on or off.
    void onToggleLoop(bool on);
    // The A-B range's start or end at the position slider's place; with both
    // set the range is given to the engine and looping turned on.
    void onSetLoopStart();
    void onSetLoopEnd();
    void onClearLoop();
    // The volume slider: the master volume, applied and remembered.
    void onVolume(int percent);
    void onOpenPatchmap();
    void onSavePatchmap();
    void onSavePatchmapAs();
    // The Edit menu's Undo and Redo of the bank's last change.
    void onUndo();
    void onRedo();
    void onAbout();
    // The 500 ms refresh: repaints the view and updates the position, the title and the transport buttons.
    void refresh();
    // The position toolbar and pane from the engine (also every 100 ms on a timer of its own).
    void refreshPosition();

protected:
    // Closing the window (Exit among the ways) asks about changes not saved first.
    void closeEvent(QCloseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QAction* makeAction(int id, const QString& text, const QString& prompt);
    void buildMenus();
    void buildEditMenu();
    // Saves the bank to patchmapPath: true when it was written; a failure is
    // told with the file's name and the reason, and the bank stays marked changed.
    bool saveBank();
    void buildToolBar();
    void buildStatusBar();
    void buildSongMenu();
    void buildPositionBar();
    void buildChannelDock();
    // Gives the engine the A-B range set here; false when it refuses it.
    bool applyLoopRange();
    void showLoopMarks();
    // Names the document after the Patchmap in patchmapPath (when there is one).
    void nameAfterPatchmap();
    void rebuildRecentMenu();
    // Lists the MIDI Input menu's ports anew (when it opens).
    void rebuildMidiMenu();
    // The panes and check marks of the output and live input; a lost output
    // (a JACK server that stopped) is replaced by silence, and said so.
    void refreshOutput();
    // Puts a freshly loaded bank in the engine's place, cutting the voices that play the old one.
    void replaceBank(Bank&& bank);

    CTonveroDoc& document_;
    CTonveroView* view_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    PositionBar* positionBar_ = nullptr;
    QDockWidget* channelDock_ = nullptr;
    ChannelView* channelView_ = nullptr;
    QTimer positionTimer_;
    // The A-B range's edges in song seconds; below 0: not set.
    double loopStart_ = -1;
    double loopEnd_ = -1;
    // The engine the listener's settings were last given to.
    const MixerEngine* settingsEngine_ = nullptr;
    // The Patchmap the document was last named after.
    QString titledPatchmap_;
    QMenu* fileMenu_ = nullptr;
    QMenu* songMenu_ = nullptr;
    QAction* recentSeparator_ = nullptr;
    QList<QAction*> recentActions_;
    QAction* exitAction_ = nullptr;
    QLabel* messagePane_ = nullptr;
    QLabel* positionPane_ = nullptr;
    QLabel* latencyPane_ = nullptr;
    QLabel* midiPane_ = nullptr;
    QMenu* midiMenu_ = nullptr;
    QList<QAction*> midiPortActions_;
    QAction* midiPortsEnd_ = nullptr;
    LivePlay* live_ = nullptr;
    OutputSwitch outputSwitch_;
    OutputName outputName_;
    bool refreshingOutput_ = false;
    QMap<int, QAction*> actions_;
    MixerSwitch mixerSwitch_;
    EffectsSwitch effectsSwitch_;
};

}  // namespace tonvero
