#pragma once
// The main window: menu, toolbar, status bar and the song and Patchmap
// commands. Everything here runs on the user-interface thread; engine calls
// take the engine mutex (the transport commands take it themselves).

#include "app/CTonveroDoc.h"
#include "engine/MixerMode.h"

#include <QMainWindow>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QLabel;
class QMenu;
class QToolBar;

namespace tonvero {

class CTonveroView;
class MixerEngine;
class Bank;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(CTonveroDoc& document, QWidget* parent = nullptr);

    CTonveroView* view() const { return view_; }
    QToolBar* toolBar() const { return toolBar_; }
    // The action of a command id (menu, toolbar and accelerators share it).
    QAction* action(int commandId) const { return actions_.value(commandId, nullptr); }
    // Pane 0 of the status bar: prompts, "Ready", "Patchmap loaded." ...
    QString messagePaneText() const;
    void setMessagePaneText(const QString& text);
    // The pane showing the song's position and length ("0:42 / 2:15").
    QString positionPaneText() const;
    // The window title: "<document> - Tonvero".
    void updateTitle();

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

public slots:
    void onLoadMidi();
    void onPlay();
    void onPause();
    void onStop();
    void onOpenPatchmap();
    void onSavePatchmap();
    void onSavePatchmapAs();
    void onAbout();
    // The 500 ms refresh: repaints the view and updates the position pane and transport buttons.
    void refresh();

protected:
    void timerEvent(QTimerEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QAction* makeAction(int id, const QString& text, const QString& prompt);
    void buildMenus();
    void buildToolBar();
    void buildStatusBar();
    void rebuildRecentMenu();
    // Puts a freshly loaded bank in the engine's place, cutting the voices that play the old one.
    void replaceBank(Bank&& bank);

    CTonveroDoc& document_;
    CTonveroView* view_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QAction* recentSeparator_ = nullptr;
    QList<QAction*> recentActions_;
    QAction* exitAction_ = nullptr;
    QLabel* messagePane_ = nullptr;
    QLabel* positionPane_ = nullptr;
    QMap<int, QAction*> actions_;
    MixerSwitch mixerSwitch_;
    EffectsSwitch effectsSwitch_;
};

}  // namespace tonvero
