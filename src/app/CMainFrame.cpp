#include "app/CMainFrame.h"

#include "app/AboutDialog.h"
#include "app/AppGlobals.h"
#include "app/CTonveroView.h"
#include "app/ChannelView.h"
#include "app/CommandIds.h"
#include "app/LivePlay.h"
#include "app/PositionBar.h"
#include "app/PositionSlider.h"
#include "app/ToolbarIcons.h"
#include "bank/Patchmap.h"
#include "editor/BankHistory.h"
#include "editor/Prompter.h"
#include "engine/ChannelMonitor.h"
#include "engine/MixerEngine.h"
#include "engine/StudioMixer.h"
#include "render/SongTimeText.h"
#include "song/SongLoader.h"
#include "song/SongPosition.h"
#include "song/Transport.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QScrollArea>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace tonvero {

namespace {

constexpr int kRecentFileCount = 4;
const char* const kRecentKey = "Recent File List/files";
const char* const kMixerKey = "Options/mixer";
const char* const kReverbKey = "Options/reverb";
const char* const kChorusKey = "Options/chorus";
const char* const kVolumeKey = "Options/volume";
const char* const kChannelsKey = "View/channels";
const char* const kOutputKey = "Options/output";
const char* const kMidiInputKey = "MIDI/input";

// How far Left and Right move the song.
constexpr double kSeekStepSeconds = 5.0;
// How often the position toolbar follows the song.
constexpr int kPositionRefreshMillis = 100;

struct MixerChoice {
    MixerMode mode;
    int command;
    const char* text;
    const char* prompt;
};
const MixerChoice kMixerChoices[] = {
    {MixerMode::Studio, command::MixerStudio, "&Studio Mixer",
     "Mix with the Studio mixer: exact timing, interpolation, General MIDI controllers, 256 voices\nStudio Mixer"},
    {MixerMode::Software, command::MixerSoftware, "Software &Custom Mixer",
     "Mix with the Software Custom Mixer on a buffer of its own\nSoftware Custom Mixer"},
    {MixerMode::Primary, command::MixerPrimary, "Custom Mixer, Write&Primary Mode",
     "Mix with the Software Custom Mixer writing the primary buffer\nWritePrimary Mode"},
    {MixerMode::Hardware, command::MixerHardware, "&Hardware Mixer",
     "Play every voice on a device buffer of its own\nHardware Mixer"},
};

struct OutputChoice {
    const char* backend;
    int command;
    const char* text;
    const char* prompt;
};
const OutputChoice kOutputChoices[] = {
    {"portaudio", command::OutputSoundDevice, "Output: Sound &Device",
     "Play on the sound device (PortAudio's default output)\nSound Device"},
    {"jack", command::OutputJack, "Output: &JACK",
     "Play as a client of the JACK server, with a MIDI input of its own (midi_in)\nJACK"},
    {"null", command::OutputNone, "Output: &No Sound", "Play silently, without a sound device\nNo Sound"},
};

const FileDialogRequest kTakeDialog{QStringLiteral("take.mid"), QStringLiteral("*.mid"),
                                    QStringLiteral("MIDI music files (*.mid)|*.mid||")};

const FileDialogRequest kMidiDialog{QStringLiteral("*.mid"), QStringLiteral("*.mid"),
                                    QStringLiteral("MIDI music files (*.mid)|*.mid||")};
const QString kPatchmapFilter = QStringLiteral("Tonvero Patchmap files (*.map)|*.map||");

bool isPatchmapName(const QString& path) { return path.endsWith(QStringLiteral(".map"), Qt::CaseInsensitive); }

bool isOpenableName(const QString& path) {
    static const QStringList kinds{QStringLiteral(".mid"), QStringLiteral(".midi"), QStringLiteral(".rmi"),
                                   QStringLiteral(".kar"), QStringLiteral(".map")};
    for (const QString& kind : kinds)
        if (path.endsWith(kind, Qt::CaseInsensitive)) return true;
    return false;
}

// Why `bank` could not be saved to `path`, as a sentence; `error` is the
// errno the save left (0: none).
QString saveFailureReason(const Bank& bank, const QString& path, int error) {
    if (!isSavable(bank)) return QStringLiteral("The bank holds values a Patchmap file cannot store.");
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (!folder.exists()) return QStringLiteral("The folder %1 does not exist.").arg(folder.filePath());
    if (!folder.isDir()) return QStringLiteral("%1 is not a folder.").arg(folder.filePath());
    if (file.isDir()) return QStringLiteral("A folder of that name is in the way.");
    if (!folder.isWritable()) return QStringLiteral("The folder cannot be written to (permission denied).");
    if (file.exists() && !file.isWritable()) return QStringLiteral("The file is read-only.");
    if (error != 0) return QString::fromLocal8Bit(std::strerror(error)) + QLatin1Char('.');
    return QStringLiteral("The file could not be written to its end (the disk may be full).");
}

}  // namespace

CMainFrame::CMainFrame(CTonveroDoc& document, QWidget* parent) : QMainWindow(parent), document_(document) {
    setWindowIcon(applicationIcon());
    view_ = new CTonveroView(this);
    setCentralWidget(view_);
    // A new window starts from the bank as it is loaded: nothing to undo, nothing changed.
    bankHistory().clear();
    buildMenus();
    buildEditMenu();
    buildToolBar();
    buildSongMenu();
    buildPositionBar();
    buildChannelDock();
    buildStatusBar();
    setAcceptDrops(true);
    resize(760, 720);
    updateTitle();
    positionTimer_.setInterval(kPositionRefreshMillis);
    connect(&positionTimer_, &QTimer::timeout, this, &CMainFrame::refreshPosition);
    positionTimer_.start();
}

CMainFrame::~CMainFrame() {
    // The children are destroyed (and the dock hidden) after this object has
    // stopped being a CMainFrame: none of their signals may reach it then, nor
    // may the teardown be remembered as the user hiding the channel view.
    positionTimer_.stop();
    for (QObject* child : findChildren<QObject*>()) QObject::disconnect(child, nullptr, this, nullptr);
    QObject::disconnect(&bankHistory(), nullptr, this, nullptr);
    // The steps hold parts of a bank that goes with the application.
    bankHistory().clear();
}

QAction* CMainFrame::makeAction(int id, const QString& text, const QString& prompt) {
    auto* action = new QAction(text, this);
    // A prompt is the status-bar text, then the tooltip after a line break.
    const qsizetype split = prompt.indexOf(QLatin1Char('\n'));
    action->setStatusTip(split < 0 ? prompt : prompt.left(split));
    if (split >= 0) action->setToolTip(prompt.mid(split + 1));
    actions_.insert(id, action);
    return action;
}

void CMainFrame::buildMenus() {
    QAction* open = makeAction(command::OpenPatchmap, QStringLiteral("&Open...\tCtrl+O"),
                               QStringLiteral("Open an existing patchmap\nOpen Patchmap"));
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    open->setIcon(toolbarIcon(ToolbarImage::Open));
    connect(open, &QAction::triggered, this, &CMainFrame::onOpenPatchmap);

    QAction* save = makeAction(command::SavePatchmap, QStringLiteral("&Save\tCtrl+S"),
                               QStringLiteral("Save current patchmap\nSave Patchmap"));
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    save->setIcon(toolbarIcon(ToolbarImage::Save));
    connect(save, &QAction::triggered, this, &CMainFrame::onSavePatchmap);

    QAction* saveAs = makeAction(command::SavePatchmapAs, QStringLiteral("Save &As"),
                                 QStringLiteral("Save current patchmap with new name\nSave Patchmap As"));
    saveAs->setIcon(toolbarIcon(ToolbarImage::SaveAs));
    connect(saveAs, &QAction::triggered, this, &CMainFrame::onSavePatchmapAs);

    exitAction_ = makeAction(command::Exit, QStringLiteral("E&xit"), QStringLiteral("Quit the application\nExit"));
    connect(exitAction_, &QAction::triggered, this, [this] { close(); });

    fileMenu_ = menuBar()->addMenu(QStringLiteral("&File"));
    fileMenu_->addAction(open);
    fileMenu_->addAction(save);
    fileMenu_->addAction(saveAs);
    fileMenu_->addSeparator();
    recentSeparator_ = fileMenu_->addSeparator();
    fileMenu_->addAction(exitAction_);
    rebuildRecentMenu();

    QAction* editor = makeAction(command::InstrumentEditor, QStringLiteral("&InstrumentEditor"),
                                 QStringLiteral("Edit the instruments of the patchmap\nInstrument Editor"));
    connect(editor, &QAction::triggered, view_, &CTonveroView::onInstrumentEditor);

    QMenu* viewMenu = menuBar()->addMenu(QStringLiteral("&View"));
    viewMenu->addAction(editor);
    viewMenu->addSeparator();
    QAction* toolbarToggle = makeAction(command::ToggleToolbar, QStringLiteral("&Toolbar"),
                                        QStringLiteral("Show or hide the toolbar\nToggle ToolBar"));
    toolbarToggle->setCheckable(true);
    toolbarToggle->setChecked(true);
    viewMenu->addAction(toolbarToggle);
    QAction* statusToggle = makeAction(command::ToggleStatusBar, QStringLiteral("&Status Bar"),
                                       QStringLiteral("Show or hide the status bar\nToggle StatusBar"));
    statusToggle->setCheckable(true);
    statusToggle->setChecked(true);
    connect(statusToggle, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });
    viewMenu->addAction(statusToggle);

    QAction* channelsToggle = makeAction(command::ToggleChannels, QStringLiteral("&Channels"),
                                         QStringLiteral("Show or hide the channel view\nToggle Channels"));
    channelsToggle->setCheckable(true);
    viewMenu->addAction(channelsToggle);

    songMenu_ = menuBar()->addMenu(QStringLiteral("&Song"));

    QMenu* optionsMenu = menuBar()->addMenu(QStringLiteral("&Options"));
    auto* mixers = new QActionGroup(this);
    for (const MixerChoice& choice : kMixerChoices) {
        QAction* item =
            makeAction(choice.command, QString::fromLatin1(choice.text), QString::fromLatin1(choice.prompt));
        item->setCheckable(true);
        mixers->addAction(item);
        optionsMenu->addAction(item);
        const MixerMode mode = choice.mode;
        connect(item, &QAction::triggered, this, [this, mode] { onChooseMixer(mode); });
    }
    optionsMenu->addSeparator();
    QAction* reverb =
        makeAction(command::Reverb, QStringLiteral("&Reverb"),
                   QStringLiteral("Add the Studio mixer's reverb, a medium hall each channel sends to\nReverb"));
    QAction* chorus = makeAction(command::Chorus, QStringLiteral("C&horus"),
                                 QStringLiteral("Add the Studio mixer's chorus, which each channel sends to\nChorus"));
    for (QAction* item : {reverb, chorus}) {
        item->setCheckable(true);
        optionsMenu->addAction(item);
        connect(item, &QAction::triggered, this, &CMainFrame::onToggleEffects);
    }

    optionsMenu->addSeparator();
    auto* outputs = new QActionGroup(this);
    for (const OutputChoice& choice : kOutputChoices) {
        QAction* item =
            makeAction(choice.command, QString::fromLatin1(choice.text), QString::fromLatin1(choice.prompt));
        item->setCheckable(true);
        outputs->addAction(item);
        optionsMenu->addAction(item);
        const std::string backend = choice.backend;
        connect(item, &QAction::triggered, this, [this, backend] { onChooseOutput(backend); });
    }

    // The MIDI Input menu: its ports are listed anew whenever it opens.
    midiMenu_ = menuBar()->addMenu(QStringLiteral("&MIDI Input"));
    QAction* noInput =
        makeAction(command::MidiInputNone, QStringLiteral("&None"), QStringLiteral("Play no live MIDI input\nNone"));
    QAction* ownPort = makeAction(
        command::MidiInputOwnPort, QStringLiteral("&Own Port (%1)").arg(LivePlay::kOwnPort),
        QStringLiteral("Open a MIDI input port of Tonvero's own, for keyboards and programs to connect to\nOwn Port"));
    auto* inputs = new QActionGroup(this);
    for (QAction* item : {noInput, ownPort}) {
        item->setCheckable(true);
        inputs->addAction(item);
        midiMenu_->addAction(item);
    }
    connect(noInput, &QAction::triggered, this, [this] { onChooseMidiInput(QString()); });
    connect(ownPort, &QAction::triggered, this, [this] { onChooseMidiInput(LivePlay::kOwnPort); });
    midiPortsEnd_ = midiMenu_->addSeparator();
    QAction* record = makeAction(command::Record, QStringLiteral("&Record..."),
                                 QStringLiteral("Keep what is played live as a Standard MIDI File\nRecord"));
    record->setCheckable(true);
    midiMenu_->addAction(record);
    connect(record, &QAction::triggered, this, &CMainFrame::onToggleRecord);
    connect(midiMenu_, &QMenu::aboutToShow, this, &CMainFrame::rebuildMidiMenu);

    QAction* about = makeAction(command::About, QStringLiteral("&About Tonvero..."),
                                QStringLiteral("Display program information, version number and copyright\nAbout"));
    connect(about, &QAction::triggered, this, &CMainFrame::onAbout);
    menuBar()->addMenu(QStringLiteral("&Help"))->addAction(about);

    // Ctrl+N makes a new, empty document: only the title changes.
    QAction* newDocument =
        makeAction(command::NewDocument, QStringLiteral("&New"), QStringLiteral("Create a new patchmap\nNew Patchmap"));
    newDocument->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(newDocument, &QAction::triggered, this, [this] {
        document_.onNewDocument();
        updateTitle();
    });
    addAction(newDocument);
}

void CMainFrame::buildEditMenu() {
    QAction* undo = bankHistory().makeUndoAction(this);
    QAction* redo = bankHistory().makeRedoAction(this);
    // The history's own items, known by the window's command ids.
    actions_.insert(command::Undo, undo);
    actions_.insert(command::Redo, redo);
    QMenu* editMenu = new QMenu(QStringLiteral("&Edit"), this);
    editMenu->addAction(undo);
    editMenu->addAction(redo);
    // Between File and View.
    const QList<QAction*> menus = menuBar()->actions();
    menuBar()->insertMenu(menus.size() > 1 ? menus[1] : nullptr, editMenu);
    connect(&bankHistory(), &BankHistory::modifiedChanged, this, [this] { updateTitle(); });
}

void CMainFrame::onUndo() {
    bankHistory().undo();
    view_->refreshText();
}

void CMainFrame::onRedo() {
    bankHistory().redo();
    view_->refreshText();
}

bool CMainFrame::maySaveChanges() {
    if (!document_.isModified()) return true;
    const QString name =
        patchmapPath.empty() ? document_.title() : QFileInfo(QString::fromStdString(patchmapPath)).fileName();
    switch (prompter().ask(this, QStringLiteral("Save changes to %1?").arg(name))) {
    case Prompter::Choice::Yes:
        if (!patchmapPath.empty()) return saveBank();
        onSavePatchmapAs();
        return !bankHistory().isModified();
    case Prompter::Choice::No: return true;
    case Prompter::Choice::Cancel: break;
    }
    return false;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (!maySaveChanges()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void CMainFrame::buildToolBar() {
    toolBar_ = addToolBar(QStringLiteral("Standard"));
    toolBar_->setObjectName(QStringLiteral("toolbar"));
    toolBar_->setIconSize(QSize(16, 15));
    toolBar_->setMovable(true);
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    toolBar_->addAction(action(command::OpenPatchmap));
    toolBar_->addAction(action(command::SavePatchmap));
    toolBar_->addAction(action(command::SavePatchmapAs));
    toolBar_->addSeparator();

    QAction* load = makeAction(command::LoadMidi, QStringLiteral("Load MIDI file"),
                               QStringLiteral("Load a MIDI song\nLoad MIDI file"));
    load->setIcon(toolbarIcon(ToolbarImage::LoadMidi));
    connect(load, &QAction::triggered, this, &CMainFrame::onLoadMidi);
    QAction* stopAction =
        makeAction(command::Stop, QStringLiteral("&Stop"), QStringLiteral("Stop playing music\nStop"));
    stopAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Period));
    stopAction->setIcon(toolbarIcon(ToolbarImage::Stop));
    connect(stopAction, &QAction::triggered, this, &CMainFrame::onStop);
    QAction* playAction =
        makeAction(command::Play, QStringLiteral("&Play"), QStringLiteral("Play the current MIDI song\nPlay"));
    playAction->setIcon(toolbarIcon(ToolbarImage::Play));
    connect(playAction, &QAction::triggered, this, &CMainFrame::onPlay);
    // Space is the Play/Pause key (onPlayPause); the menu item shows it.
    QAction* pauseAction =
        makeAction(command::Pause, QStringLiteral("P&ause\tSpace"), QStringLiteral("Pause playing\nPause"));
    pauseAction->setIcon(toolbarIcon(ToolbarImage::Pause));
    pauseAction->setCheckable(true);  // shown pressed while the song is paused
    connect(pauseAction, &QAction::triggered, this, &CMainFrame::onPause);
    toolBar_->addAction(load);
    toolBar_->addAction(stopAction);
    toolBar_->addAction(playAction);
    toolBar_->addAction(pauseAction);
    toolBar_->addSeparator();

    // The last button has no command behind it and is always disabled.
    QAction* unassigned = makeAction(command::Unassigned, QString(), QString());
    unassigned->setIcon(toolbarIcon(ToolbarImage::Unassigned));
    unassigned->setEnabled(false);
    toolBar_->addAction(unassigned);

    QAction* toggle = action(command::ToggleToolbar);
    connect(toggle, &QAction::toggled, toolBar_, &QToolBar::setVisible);
    connect(toolBar_, &QToolBar::visibilityChanged, toggle, &QAction::setChecked);
}

void CMainFrame::buildSongMenu() {
    QAction* playPause = makeAction(command::PlayPause, QStringLiteral("Play/Pause"),
                                    QStringLiteral("Pause the song, or play it\nPlay/Pause"));
    playPause->setShortcut(QKeySequence(Qt::Key_Space));
    connect(playPause, &QAction::triggered, this, &CMainFrame::onPlayPause);
    addAction(playPause);

    struct Seek {
        int command;
        const char* text;
        const char* prompt;
        Qt::Key key;
    };
    const Seek seeks[] = {
        {command::SeekBack, "&Back 5 Seconds", "Move the song five seconds back\nBack 5 Seconds", Qt::Key_Left},
        {command::SeekForward, "&Forward 5 Seconds", "Move the song five seconds on\nForward 5 Seconds", Qt::Key_Right},
        {command::SeekStart, "To the Be&ginning", "Move the song to its beginning\nTo the Beginning", Qt::Key_Home},
    };
    for (const Seek& seekItem : seeks) {
        QAction* item =
            makeAction(seekItem.command, QString::fromLatin1(seekItem.text), QString::fromLatin1(seekItem.prompt));
        item->setShortcut(QKeySequence(seekItem.key));
        addAction(item);  // window-wide, whatever has the focus
    }
    connect(action(command::SeekBack), &QAction::triggered, this, [this] { onSeekBy(-kSeekStepSeconds); });
    connect(action(command::SeekForward), &QAction::triggered, this, [this] { onSeekBy(kSeekStepSeconds); });
    connect(action(command::SeekStart), &QAction::triggered, this, [this] { onSeekTo(0); });

    QAction* loop = makeAction(command::Loop, QStringLiteral("&Loop"),
                               QStringLiteral("Play the song, or its A-B range, again and again\nLoop"));
    loop->setCheckable(true);
    loop->setIcon(toolbarIcon(ToolbarImage::Loop));
    connect(loop, &QAction::toggled, this, &CMainFrame::onToggleLoop);
    QAction* loopStart =
        makeAction(command::LoopStart, QStringLiteral("Set Loop Start"),
                   QStringLiteral("Start the A-B loop at the position slider's place\nSet Loop Start"));
    loopStart->setIcon(toolbarIcon(ToolbarImage::LoopStart));
    connect(loopStart, &QAction::triggered, this, &CMainFrame::onSetLoopStart);
    QAction* loopEnd = makeAction(command::LoopEnd, QStringLiteral("Set Loop End"),
                                  QStringLiteral("End the A-B loop at the position slider's place\nSet Loop End"));
    loopEnd->setIcon(toolbarIcon(ToolbarImage::LoopEnd));
    connect(loopEnd, &QAction::triggered, this, &CMainFrame::onSetLoopEnd);
    QAction* clearLoop =
        makeAction(command::ClearLoop, QStringLiteral("Clear Loop"), QStringLiteral("Forget the A-B loop\nClear Loop"));
    clearLoop->setIcon(toolbarIcon(ToolbarImage::ClearLoop));
    connect(clearLoop, &QAction::triggered, this, &CMainFrame::onClearLoop);

    songMenu_->addAction(action(command::LoadMidi));
    songMenu_->addSeparator();
    songMenu_->addAction(action(command::Play));
    songMenu_->addAction(action(command::Pause));
    songMenu_->addAction(action(command::Stop));
    addAction(action(command::Stop));  // Ctrl+. wherever the focus is
    songMenu_->addSeparator();
    for (const Seek& seekItem : seeks) songMenu_->addAction(action(seekItem.command));
    songMenu_->addSeparator();
    for (QAction* item : {loop, loopStart, loopEnd, clearLoop}) songMenu_->addAction(item);
}

void CMainFrame::buildPositionBar() {
    addToolBarBreak();
    positionBar_ = new PositionBar(
        {action(command::Loop), action(command::LoopStart), action(command::LoopEnd), action(command::ClearLoop)},
        this);
    addToolBar(Qt::TopToolBarArea, positionBar_);
    positionBar_->showVolume(storedVolume());
    connect(positionBar_, &PositionBar::seekRequested, this, &CMainFrame::onSeekTo);
    connect(positionBar_, &PositionBar::volumeChanged, this, &CMainFrame::onVolume);
}

void CMainFrame::buildChannelDock() {
    channelDock_ = new QDockWidget(QStringLiteral("Channels"), this);
    channelDock_->setObjectName(QStringLiteral("channelDock"));
    channelView_ = new ChannelView;
    // The rows keep their height; a short window scrolls them.
    auto* scroller = new QScrollArea;
    scroller->setWidget(channelView_);
    scroller->setWidgetResizable(true);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    channelDock_->setWidget(scroller);
    addDockWidget(Qt::BottomDockWidgetArea, channelDock_);

    QAction* toggle = action(command::ToggleChannels);
    const bool shown = QSettings().value(QString::fromLatin1(kChannelsKey), true).toBool();
    toggle->setChecked(shown);
    channelDock_->setVisible(shown);
    // The menu item shows and hides the view and remembers it; closing the dock unchecks it.
    connect(toggle, &QAction::toggled, this, [this](bool on) {
        channelDock_->setVisible(on);
        QSettings().setValue(QString::fromLatin1(kChannelsKey), on);
    });
    connect(channelDock_->toggleViewAction(), &QAction::toggled, toggle, &QAction::setChecked);
}

void CMainFrame::buildStatusBar() {
    messagePane_ = new QLabel(QStringLiteral("Ready"), this);
    messagePane_->setObjectName(QStringLiteral("messagePane"));
    statusBar()->addWidget(messagePane_, 1);
    positionPane_ = new QLabel(this);
    positionPane_->setObjectName(QStringLiteral("positionPane"));
    positionPane_->setMinimumWidth(
        positionPane_->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00 / 00:00:00")));
    positionPane_->setAlignment(Qt::AlignCenter);
    statusBar()->addPermanentWidget(positionPane_);
    midiPane_ = new QLabel(this);
    midiPane_->setObjectName(QStringLiteral("midiPane"));
    statusBar()->addPermanentWidget(midiPane_);
    latencyPane_ = new QLabel(this);
    latencyPane_->setObjectName(QStringLiteral("latencyPane"));
    latencyPane_->setAlignment(Qt::AlignCenter);
    statusBar()->addPermanentWidget(latencyPane_);
    // The three keyboard indicators; shown greyed, as keys that are off.
    for (const char* indicator : {"CAP", "NUM", "SCRL"}) {
        auto* pane = new QLabel(QString::fromLatin1(indicator), this);
        pane->setEnabled(false);
        pane->setAlignment(Qt::AlignCenter);
        pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) + 8);
        statusBar()->addPermanentWidget(pane);
    }
}

QString CMainFrame::messagePaneText() const { return messagePane_->text(); }

void CMainFrame::setMessagePaneText(const QString& text) {
    messagePane_->setText(text);
    messagePane_->repaint();
}

QString CMainFrame::positionPaneText() const { return positionPane_->text(); }

QString CMainFrame::latencyPaneText() const { return latencyPane_->text(); }

QString CMainFrame::midiPaneText() const { return midiPane_->text(); }

void CMainFrame::updateTitle() {
    const QString mark = document_.isModified() ? QStringLiteral("*") : QString();
    setWindowTitle(document_.title() + mark + QStringLiteral(" - Tonvero"));
}

void CMainFrame::nameAfterPatchmap() {
    const QString bank = QString::fromStdString(patchmapPath);
    titledPatchmap_ = bank;
    if (!bank.isEmpty()) document_.setPathName(bank);
    updateTitle();
}

QStringList CMainFrame::recentFiles() const {
    return QSettings().value(QString::fromLatin1(kRecentKey)).toStringList();
}

void CMainFrame::addRecentFile(const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    QStringList files = recentFiles();
    files.removeAll(full);
    files.prepend(full);
    while (files.size() > kRecentFileCount) files.removeLast();
    QSettings().setValue(QString::fromLatin1(kRecentKey), files);
    rebuildRecentMenu();
}

void CMainFrame::rebuildRecentMenu() {
    for (QAction* old : recentActions_) {
        fileMenu_->removeAction(old);
        old->deleteLater();
    }
    recentActions_.clear();
    const QStringList files = recentFiles();
    int number = 1;
    for (const QString& file : files) {
        auto* entry = new QAction(QStringLiteral("&%1 %2").arg(number++).arg(QFileInfo(file).fileName()), this);
        entry->setStatusTip(QStringLiteral("Open this file: ") + file);
        connect(entry, &QAction::triggered, this, [this, file] { openFile(file); });
        fileMenu_->insertAction(recentSeparator_, entry);
        recentActions_ << entry;
    }
    recentSeparator_->setVisible(!files.isEmpty());
}

void CMainFrame::onLoadMidi() {
    const QString path = prompter().openFile(this, kMidiDialog);
    if (path.isEmpty()) return;
    openSong(path);
}

void CMainFrame::openSong(const QString& path) {
    if (!theEngine) return;
    // Read and check the file before touching the song that plays: a file that
    // cannot be used is reported and changes nothing.
    SongImage image;
    const SongLoadResult result = readSongFile(path.toStdString(), image);
    if (result != SongLoadResult::Loaded) {
        prompter().notify(this, QString::fromUtf8(songLoadResultText(result)) + QStringLiteral("\n") + path);
        return;
    }
    stop(*theEngine);
    double damagedAfter;
    {
        EngineLock lock(theEngine->mutex);
        installSong(*theEngine, std::move(image));
        // An A-B range belongs to the song it was set in.
        clearLoopRange(*theEngine);
        damagedAfter = songDamagedAfterSeconds(*theEngine);
    }
    loopStart_ = loopEnd_ = -1;
    showLoopMarks();
    play(*theEngine);
    songPath = path.toStdString();
    addRecentFile(path);
    // A song whose data ends early plays what it has, and says so.
    if (damagedAfter >= 0) setMessagePaneText(QString::fromStdString(songDamageText(damagedAfter)));
    refresh();
}

namespace {

TransportStatus engineStatus() {
    EngineLock lock(theEngine->mutex);
    return transportStatus(*theEngine);
}

}  // namespace

void CMainFrame::onPlay() {
    if (!theEngine) return;
    if (engineStatus() == TransportStatus::Paused)
        resume(*theEngine);
    else
        play(*theEngine);
    refresh();
}

void CMainFrame::onPlayPause() {
    if (!theEngine) return;
    switch (engineStatus()) {
    case TransportStatus::Playing: pause(*theEngine); break;
    case TransportStatus::Paused: resume(*theEngine); break;
    default:  // stopped, ending or auditioning: the song from its beginning
        play(*theEngine);
        break;
    }
    refresh();
}

void CMainFrame::onSeekBy(double seconds) {
    if (!theEngine) return;
    double position, length;
    bool loaded;
    {
        EngineLock lock(theEngine->mutex);
        position = songPositionSeconds(*theEngine);
        length = songLengthSeconds(*theEngine);
        loaded = !theEngine->song.songData.empty();
    }
    if (!loaded) return;
    onSeekTo(std::clamp(position + seconds, 0.0, std::max(0.0, length)));
}

void CMainFrame::onSeekTo(double seconds) {
    if (!theEngine || !std::isfinite(seconds)) return;
    seek(*theEngine, std::max(0.0, seconds));
    refresh();
}

void CMainFrame::onToggleLoop(bool on) {
    if (!theEngine) return;
    EngineLock lock(theEngine->mutex);
    setLooping(*theEngine, on);
}

void CMainFrame::onSetLoopStart() {
    if (!theEngine || !positionBar_->slider()->isEnabled()) return;
    const double before = loopStart_;
    loopStart_ = positionBar_->slider()->handleSeconds();
    if (!applyLoopRange()) loopStart_ = before;
    showLoopMarks();
}

void CMainFrame::onSetLoopEnd() {
    if (!theEngine || !positionBar_->slider()->isEnabled()) return;
    const double before = loopEnd_;
    loopEnd_ = positionBar_->slider()->handleSeconds();
    if (!applyLoopRange()) loopEnd_ = before;
    showLoopMarks();
}

bool CMainFrame::applyLoopRange() {
    const QString start = QString::fromStdString(formatSongTime(loopStart_));
    const QString end = QString::fromStdString(formatSongTime(loopEnd_));
    if (loopStart_ < 0 || loopEnd_ < 0) {
        setMessagePaneText(loopStart_ >= 0 ? QStringLiteral("Loop start at %1.").arg(start)
                                           : QStringLiteral("Loop end at %1.").arg(end));
        return true;
    }
    bool accepted;
    {
        EngineLock lock(theEngine->mutex);
        accepted = loopEnd_ > loopStart_ && setLoopRange(*theEngine, loopStart_, loopEnd_);
    }
    if (!accepted) {
        setMessagePaneText(
            QStringLiteral("A loop must end at least %1 s after it starts, inside the song.").arg(kMinLoopSeconds));
        return false;
    }
    action(command::Loop)->setChecked(true);  // the engine loops the range from now on
    setMessagePaneText(QStringLiteral("Looping %1 to %2.").arg(start, end));
    return true;
}

void CMainFrame::onClearLoop() {
    loopStart_ = loopEnd_ = -1;
    showLoopMarks();
    if (!theEngine) return;
    EngineLock lock(theEngine->mutex);
    clearLoopRange(*theEngine);
}

void CMainFrame::showLoopMarks() { positionBar_->slider()->setLoopMarks(loopStart_, loopEnd_); }

int CMainFrame::storedVolume() {
    return std::clamp(QSettings().value(QString::fromLatin1(kVolumeKey), 100).toInt(), 0, 100);
}

void CMainFrame::onVolume(int percent) {
    percent = std::clamp(percent, 0, 100);
    QSettings().setValue(QString::fromLatin1(kVolumeKey), percent);
    if (!theEngine) return;
    EngineLock lock(theEngine->mutex);
    setMasterVolume(*theEngine, percent);
}

void CMainFrame::applyListenerSettings() {
    settingsEngine_ = theEngine;
    if (!theEngine) return;
    bool rangeKept = true;
    {
        EngineLock lock(theEngine->mutex);
        setMasterVolume(*theEngine, positionBar_->volumeSlider()->value());
        if (loopStart_ >= 0 && loopEnd_ >= 0) rangeKept = setLoopRange(*theEngine, loopStart_, loopEnd_);
        setLooping(*theEngine, action(command::Loop)->isChecked());
    }
    if (!rangeKept) {
        loopStart_ = loopEnd_ = -1;
        showLoopMarks();
    }
    channelView_->applyToEngine(*theEngine);
}

void CMainFrame::onPause() {
    if (!theEngine) return;
    TransportStatus status;
    {
        EngineLock lock(theEngine->mutex);
        status = transportStatus(*theEngine);
    }
    if (status == TransportStatus::Paused)
        resume(*theEngine);
    else if (status == TransportStatus::Playing)
        pause(*theEngine);
    refresh();
}

void CMainFrame::onStop() {
    if (theEngine) stop(*theEngine);
    refresh();
}

void CMainFrame::onOpenPatchmap() {
    const QString path = prompter().openFile(this, {QStringLiteral("*.map"), QStringLiteral("*.map"), kPatchmapFilter});
    if (path.isEmpty()) return;
    openPatchmap(path);
}

void CMainFrame::openPatchmap(const QString& path) {
    if (!theEngine || !maySaveChanges()) return;
    // Read into a bank of its own; the engine's bank changes only on success.
    Bank loaded;
    const LoadResult result = loadPatchmap(loaded, path.toStdString());
    switch (result) {
    case LoadOk:
        replaceBank(std::move(loaded));
        setMessagePaneText(QStringLiteral("Patchmap loaded."));
        patchmapPath = path.toStdString();
        nameAfterPatchmap();
        addRecentFile(path);
        break;
    case LoadUnknownVersion:
        prompter().notify(this, QStringLiteral("This Patchmap file has an unknown version ID.\nThe file is either "
                                               "corrupted or generated by a newer version of Tonvero."));
        break;
    case LoadNotFound: prompter().notify(this, QStringLiteral("The file was not found.")); break;
    case LoadNotPatchmap:
        prompter().notify(this, QStringLiteral("This is not a Tonvero Patchmap file. It might be corrupted or of "
                                               "another program."));
        break;
    }
    view_->refreshText();
}

void CMainFrame::replaceBank(Bank&& bank) {
    EngineLock lock(theEngine->mutex);
    theEngine->replaceBank(std::move(bank));
    // The steps belong to the bank that went.
    bankHistory().clear();
}

void CMainFrame::onSavePatchmap() {
    if (patchmapPath.empty() || !theEngine) return;
    saveBank();
}

bool CMainFrame::saveBank() {
    if (patchmapPath.empty() || !theEngine) return false;
    bool saved;
    int error;
    {
        EngineLock lock(theEngine->mutex);
        errno = 0;
        saved = savePatchmap(theEngine->bank, patchmapPath);
        error = errno;
    }
    const QString path = QString::fromStdString(patchmapPath);
    if (saved) {
        bankHistory().markSaved();
        setMessagePaneText(QStringLiteral("Patchmap saved."));
        nameAfterPatchmap();
        addRecentFile(path);
        return true;
    }
    QString reason;
    {
        EngineLock lock(theEngine->mutex);
        reason = saveFailureReason(theEngine->bank, path, error);
    }
    prompter().notify(this, QStringLiteral("The Patchmap could not be saved to\n") + path + QLatin1Char('\n') + reason +
                                QStringLiteral("\nThe file that was there is unchanged."));
    return false;
}

void CMainFrame::onSavePatchmapAs() {
    const QString path =
        prompter().saveFile(this, {QString::fromStdString(patchmapPath), QStringLiteral("*.map"), kPatchmapFilter});
    if (path.isEmpty()) return;
    // The bank takes the new name only when it was saved under it.
    const std::string previous = patchmapPath;
    patchmapPath = path.toStdString();
    if (!saveBank()) patchmapPath = previous;
    view_->refreshText();
}

void CMainFrame::onAbout() {
    AboutDialog dialog(this);
    dialog.exec();
}

void CMainFrame::openFile(const QString& path) {
    if (isPatchmapName(path))
        openPatchmap(path);
    else
        openSong(path);
}

MixerMode CMainFrame::storedMixerMode() {
    MixerMode mode = MixerMode::Studio;
    parseMixerMode(QSettings().value(QString::fromLatin1(kMixerKey)).toString().toStdString(), mode);
    return mode;
}

void CMainFrame::onChooseMixer(MixerMode mode) {
    QString error;
    const bool switched = !mixerSwitch_ || mixerSwitch_(mode, error);
    // The engine was made anew (with this mixer, or the old one again when this one failed).
    if (mixerSwitch_) applyListenerSettings();
    if (!switched) {
        prompter().notify(this, error);
    } else {
        QSettings().setValue(QString::fromLatin1(kMixerKey), QString::fromLatin1(mixerModeName(mode)));
    }
    refresh();
}

void CMainFrame::storedEffects(bool& reverb, bool& chorus) {
    QSettings settings;
    reverb = settings.value(QString::fromLatin1(kReverbKey), true).toBool();
    chorus = settings.value(QString::fromLatin1(kChorusKey), true).toBool();
}

void CMainFrame::onToggleEffects() {
    const bool reverb = action(command::Reverb)->isChecked();
    const bool chorus = action(command::Chorus)->isChecked();
    QSettings settings;
    settings.setValue(QString::fromLatin1(kReverbKey), reverb);
    settings.setValue(QString::fromLatin1(kChorusKey), chorus);
    if (effectsSwitch_) effectsSwitch_(reverb, chorus);
    refresh();
}

std::string CMainFrame::storedOutput() {
    return QSettings().value(QString::fromLatin1(kOutputKey)).toString().toStdString();
}

void CMainFrame::onChooseOutput(const std::string& backend) {
    QString error;
    const bool switched = !outputSwitch_ || outputSwitch_(backend, error);
    if (outputSwitch_) applyListenerSettings();
    if (!switched)
        prompter().notify(this, error);
    else
        QSettings().setValue(QString::fromLatin1(kOutputKey), QString::fromStdString(backend));
    refresh();
}

QString CMainFrame::storedMidiInput() { return QSettings().value(QString::fromLatin1(kMidiInputKey)).toString(); }

void CMainFrame::onChooseMidiInput(const QString& choice) {
    if (!live_) return;
    QString error;
    // Remembered even when it cannot open now: a keyboard plugged in later is found next time.
    QSettings().setValue(QString::fromLatin1(kMidiInputKey), choice);
    if (!live_->choosePort(choice, error))
        prompter().notify(this, QStringLiteral("The MIDI input cannot be opened: %1").arg(error));
    refresh();
}

void CMainFrame::rebuildMidiMenu() {
    for (QAction* old : std::as_const(midiPortActions_)) {
        midiMenu_->removeAction(old);
        delete old;
    }
    midiPortActions_.clear();
    if (!live_) return;
    const bool device = live_->deviceInput();
    QString error;
    const QStringList ports = device ? QStringList() : LivePlay::listPorts(error);
    const QString chosen = live_->chosenPort();
    auto* group = action(command::MidiInputNone)->actionGroup();
    for (const QString& port : ports) {
        auto* item = new QAction(QString(port).replace(QLatin1Char('&'), QStringLiteral("&&")), this);
        item->setCheckable(true);
        item->setChecked(port == chosen);
        item->setStatusTip(QStringLiteral("Play what comes in from %1").arg(port));
        group->addAction(item);
        midiMenu_->insertAction(midiPortsEnd_, item);
        connect(item, &QAction::triggered, this, [this, port] { onChooseMidiInput(port); });
        midiPortActions_ << item;
    }
    if (!device && !error.isEmpty()) {
        auto* note = new QAction(QStringLiteral("(no ports: %1)").arg(error), this);
        note->setEnabled(false);
        midiMenu_->insertAction(midiPortsEnd_, note);
        midiPortActions_ << note;
    }
    // With JACK the client's own midi_in is the input; the ports are for the sound device.
    action(command::MidiInputNone)->setEnabled(!device);
    action(command::MidiInputOwnPort)->setEnabled(!device);
    action(command::MidiInputNone)->setChecked(chosen.isEmpty());
    action(command::MidiInputOwnPort)->setChecked(chosen == LivePlay::kOwnPort);
}

void CMainFrame::onToggleRecord(bool on) {
    if (!live_) return;
    if (!on) {
        const QString path = live_->recordingPath();
        if (live_->stopRecording())
            setMessagePaneText(QStringLiteral("The take was saved to %1.").arg(path));
        else
            prompter().notify(this, QStringLiteral("The take could not be written to %1.").arg(path));
        refresh();
        return;
    }
    const QString path = prompter().saveFile(this, kTakeDialog);
    QString error;
    if (path.isEmpty()) {
        action(command::Record)->setChecked(false);
        return;
    }
    if (!live_->startRecording(path, error)) {
        action(command::Record)->setChecked(false);
        prompter().notify(this, error);
        return;
    }
    setMessagePaneText(QStringLiteral("Recording live input to %1.").arg(path));
    refresh();
}

void CMainFrame::refreshOutput() {
    if (!theEngine || refreshingOutput_) return;
    refreshingOutput_ = true;
    // A JACK server that stopped takes the output with it: play on silently.
    const std::string failure = theEngine->soundDevice ? theEngine->soundDevice->failure() : std::string();
    if (!failure.empty() && outputSwitch_) {
        QString error;
        outputSwitch_("null", error);  // refresh() then gives the new engine the listener's settings
        setMessagePaneText(QString::fromStdString(failure) + QStringLiteral(": playing silently (no sound)."));
    }
    if (live_) {
        const QString message = live_->poll();
        if (!message.isEmpty()) setMessagePaneText(message);
        midiPane_->setText(live_->statusText());
        action(command::Record)->setChecked(live_->recording());
    }
    const std::string output = outputName_ ? outputName_() : std::string();
    for (const OutputChoice& choice : kOutputChoices) action(choice.command)->setChecked(output == choice.backend);

    // What the output adds between a key and the speaker.
    double milliseconds = 0;
    {
        EngineLock lock(theEngine->mutex);
        if (theEngine->studio && theEngine->studio->inCallback() && theEngine->soundDevice) {
            const uint32_t period = theEngine->soundDevice->periodFrames();
            if (theEngine->outputRate > 0) milliseconds = 1000.0 * period / theEngine->outputRate;
        } else if (theEngine->outputRunning) {
            milliseconds = 1000.0 * theEngine->custom.writeAheadSeconds;
        }
    }
    latencyPane_->setText(milliseconds > 0 ? QStringLiteral("Latency %1 ms").arg(milliseconds, 0, 'f', 1) : QString());
    refreshingOutput_ = false;
}

void CMainFrame::refresh() {
    refreshOutput();
    // The first refresh after the application made its engine gives it the listener's settings.
    if (theEngine != settingsEngine_) applyListenerSettings();
    if (QString::fromStdString(patchmapPath) != titledPatchmap_) nameAfterPatchmap();
    view_->refreshText();
    if (!theEngine) return;
    for (const MixerChoice& choice : kMixerChoices)
        action(choice.command)->setChecked(theEngine->mixerMode == choice.mode);
    // The effects are the Studio mixer's: the other mixers have none.
    const StudioMixer* studio = theEngine->studio.get();
    action(command::Reverb)->setEnabled(studio != nullptr);
    action(command::Chorus)->setEnabled(studio != nullptr);
    if (studio) {
        action(command::Reverb)->setChecked(studio->reverbOn());
        action(command::Chorus)->setChecked(studio->chorusOn());
    }
    refreshPosition();
}

void CMainFrame::refreshPosition() {
    if (!theEngine) return;
    TransportStatus status;
    double position = 0, length = 0;
    bool loaded;
    {
        EngineLock lock(theEngine->mutex);
        status = transportStatus(*theEngine);
        position = songPositionSeconds(*theEngine);
        length = songLengthSeconds(*theEngine);
        loaded = !theEngine->song.songData.empty();
    }
    positionPane_->setText(loaded ? QString::fromStdString(formatSongPosition(position, length)) : QString());
    positionBar_->showPosition(position, length, loaded);
    action(command::Pause)->setChecked(status == TransportStatus::Paused);
}

void CMainFrame::timerEvent(QTimerEvent* event) {
    // Every window timer event, whatever its id, refreshes the view.
    refresh();
    QMainWindow::timerEvent(event);
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile() && isOpenableName(url.toLocalFile())) {
            event->acceptProposedAction();
            return;
        }
}

void CMainFrame::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile() && isOpenableName(url.toLocalFile())) openFile(url.toLocalFile());
    event->acceptProposedAction();
}

}  // namespace tonvero
