#pragma once
// "Loop Point Editor": draws a Wave's samples with both loop markers (begin
// green, end red, the chosen one thicker), the loop region shaded and a
// sample axis, and places the chosen loop point where the user clicks; Test
// and Stop, or holding P, listen to the loop.
// A click changes the Wave in the bank at once; the caller keeps the new
// loop points after OK and puts back m_savedLoopBegin and m_savedLoopEnd
// after Cancel.
//
// The arithmetic of the drawing, scrolling and clicking is LoopEditorGeometry's.
//
// Threads: user-interface thread only. Changes to the Wave hold the engine lock.

#include "editor/LoopEditorGeometry.h"

#include <QColor>
#include <QDialog>

#include <cstdint>
#include <memory>

class QFrame;
class QLineEdit;
class QRadioButton;
class QScrollBar;
class QSlider;

namespace tonvero {

class DialogTemplate;
struct Instrument;
struct Wave;
struct Zone;

class CLoopPointEditorDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kOk = 1;
    static constexpr int kCancel = 2;
    static constexpr int kTest = 1029;
    static constexpr int kStop = 1030;
    static constexpr int kLoopStartRadio = 1031;
    static constexpr int kLoopEndRadio = 1032;
    static constexpr int kLoopBeginEdit = 1033;
    static constexpr int kLoopEndEdit = 1034;
    static constexpr int kZoomSlider = 1036;
    static constexpr int kWaveFrame = 1037;
    static constexpr int kScrollBar = 1041;

    // The markers' colours.
    static inline const QColor kLoopBeginColour{0, 150, 0};
    static inline const QColor kLoopEndColour{210, 0, 0};

    explicit CLoopPointEditorDlg(QWidget* parent = nullptr);
    ~CLoopPointEditorDlg() override;

    // ---- members, in declared order ----
    int32_t m_savedLoopEnd = 0;          // the Wave's loopEnd when the dialog opened
    int32_t m_savedLoopBegin = 0;        // the Wave's loopBegin when the dialog opened
    int32_t m_markerMode = 0;            // 0 no marker, 1 loop begin, 2 loop end
    PixelRect m_waveRect;                // the waveform area, dialog client coordinates
    uint32_t m_samplesPerPixel = 1;      // zoom, 1..20
    uint32_t m_firstSample = 0;          // sample drawn at the left edge
    Wave* m_wave = nullptr;              // the Wave edited; set by the caller, not owned
    Instrument* m_instrument = nullptr;  // its Instrument, for Test
    Zone* m_zone = nullptr;              // its Zone, for Test
    QScrollBar* m_scrollBar = nullptr;
    QSlider* m_zoomSlider = nullptr;
    QFrame* m_waveFrame = nullptr;
    uint32_t m_loopEndValue = 0;    // shown in 1034
    uint32_t m_loopBeginValue = 0;  // shown in 1033

    QWidget* control(int id) const;
    // The drawing's arithmetic for the current area, first sample and zoom.
    LoopEditorGeometry geometry() const { return {m_waveRect, m_firstSample, m_samplesPerPixel}; }

public slots:
    // Reads the two edits back into their members and ends with OK.
    void accept() override;
    // Radio buttons 1031 and 1032.
    void onChooseLoopBegin();
    void onChooseLoopEnd();
    // Buttons 1029 and 1030.
    void onTest();
    void onStop();
    // A scroll bar report, or the trackbar moved.
    void onScroll(ScrollCode code, int position);
    void onZoom(int position);

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void onInitDialog();
    void doDataExchange(bool save, bool* ok = nullptr);
    void chooseMarker(int32_t mode);
    void setThumb(int32_t position);
    void invalidateWave();
    void onScrollAction(int action);

    std::unique_ptr<DialogTemplate> layout_;
    bool initialised_ = false;
    bool settingThumb_ = false;
};

}  // namespace tonvero
