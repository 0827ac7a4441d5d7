// The main window: owns the model, the sample buffer, the displays, the
// recorder and the link for the whole run. Everything here runs on the
// window's thread; the link hands completed cycles over as posted events
// (see link/comm_thread.h).
#pragma once

#include "app/ImageView.h"
#include "app/LinkStatus.h"
#include "config/model.h"
#include "config/time_of_day.h"
#include "display/gauge_back.h"
#include "display/moment_chart.h"
#include "link/comm_thread.h"
#include "record/cycle.h"

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QSoundEffect;
class QTimer;
class QScrollArea;
class QTabWidget;
class QWheelEvent;

namespace kovra {

class TCommThread;
class TRecorder;
class TScreenPacer;

// The one serial worker of the run; set by start-up.
extern TCommThread* CommThread;

class TForm1 : public QWidget, public TCycleDisplays {
    Q_OBJECT
public:
    // programFolder: set.ini, log.sv and logs/; workingFolder: lang/,
    // alarm.wav, back.jpg, icons/.
    TForm1(std::filesystem::path programFolder, std::filesystem::path workingFolder,
           QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls, by their design names (also their objectNames).
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QScrollArea* ScrollBox1 = nullptr;
    QScrollArea* ScrollBox2 = nullptr;
    ImageView* Image1 = nullptr;
    ImageView* Image2 = nullptr;
    ImageView* Image3 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    // The link's state, in the tab row between the two buttons.
    QLabel* LinkStatusText = nullptr;

    TSettings& Settings() { return settings_; }
    TAllData& Data() { return settings_.Data; }
    std::vector<std::uint8_t>& SampleBuffer() { return sample_; }

    void FormCreate();
    void TabSheet2Resize();
    // Returns whether the event was handled (it never is).
    bool ScrollBox1MouseWheel(int wheelDelta);
    void Button1Click();
    void Button2Click() { Recording(); }
    void FormDblClick() { Recording(); }
    void FormKeyPress(QChar key);
    // The recording toggle; shows the error box when a save fails.
    void Recording();
    bool IsRecording() const;
    TRecorder* Recorder() { return recorder_.get(); }
    TCycle* Cycle() { return cycle_.get(); }

    // Handles the entries the worker has queued (completed cycles, re-sends),
    // oldest first, for at most kLogPrintBudgetMs; what is left waits for the
    // next turn of the event loop, so input and painting are never starved.
    void LogPrint();
    // One completed cycle's sample, as the worker hands it over, timed now or
    // at timeOfDay (fraction of a day: when the worker completed it).
    void ProcessCycle(const std::vector<std::uint8_t>& sample);
    void ProcessCycle(const std::vector<std::uint8_t>& sample, double timeOfDay);

    // An entry for the cycle handler, as if the worker had queued it.
    void QueueEntry(TCycleSample entry);
    // Entries taken from the worker and not yet handled.
    std::size_t PendingEntries() const { return pending_.size(); }
    // Completed cycles that never reached the displays: dropped by the worker
    // when its queue was full, or recorded without being drawn when the
    // window fell more than kMaxQueuedSamples entries behind.
    std::uint64_t DroppedFromDisplay() const;
    // Cycles handled in full (formulas, charts, alarms).
    std::uint64_t ProcessedCycles() const { return processed_; }
    TScreenPacer* Pacer() { return pacer_; }

    // What the status line is made from; its text is shown every
    // kStatusIntervalMs, never per cycle.
    TLinkStatus& LinkStatus() { return *status_; }
    void UpdateLinkStatus();
    // The whole line; the label shows as much of it as fits (all of it as its tooltip).
    const QString& LinkStatusLine() const { return statusLine_; }
    static constexpr int kStatusIntervalMs = 500;

    static constexpr int kLogPrintBudgetMs = 8;

    // Test seam for the alarm sound: when set, called instead of playing.
    std::function<void()> AlarmHook;

    // The window's client size of the design.
    static constexpr int kClientWidth = 842;
    static constexpr int kClientHeight = 504;

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    // TCycleDisplays
    void AddToChart(std::size_t chart, double value) override;
    void DrawPrib() override;
    void DrawMoment() override;
    void PlayAlarm() override;

    // Shutdown: returns false when the close must be abandoned.
    bool FormClose();
    void BuildLayout();
    void PlaceButtons();
    void ShowStatusLine();
    void ShowError(const QString& message);

    // Start-up steps that reach into other subsystems, in their order.
    void CompileFormulas();
    void CreateStripCharts();
    void ApplyLanguage();
    void CreatePanelPictures();
    void StartLink();
    void SetUpMomentSurfaces();
    void DrawMomentGrid();

    // The gauge frame, composed only when it is about to be seen.
    void ComposePanel();
    void HandleEntry(TCycleSample& entry);
    void RecordOnly(const TCycleSample& entry);
    void ProcessCycle(const std::vector<std::uint8_t>& sample, std::optional<double> timeOfDay);
    void PostTurn();

    std::filesystem::path programFolder_;
    std::filesystem::path workingFolder_;
    TSettings settings_;
    std::vector<std::uint8_t> sample_;
    QImage PanelBackground;
    QImage PanelFrame;
    TPanelLayout PanelLayout;
    TMomentSurfaces moment_;
    std::unique_ptr<TRecorder> recorder_;
    std::unique_ptr<TCycle> cycle_;
    std::unique_ptr<TCommThread> comm_;
    QTimer* journalTimer_ = nullptr;
    QSoundEffect* alarm_ = nullptr;
    TScreenPacer* pacer_ = nullptr;
    std::unique_ptr<TLinkStatus> status_;
    QTimer* statusTimer_ = nullptr;
    QString statusLine_;
    std::deque<TCycleSample> pending_;
    bool turnPosted_ = false;
    bool panelStale_ = false;  // cycles were processed since the frame was composed
    std::uint64_t processed_ = 0;
    std::uint64_t recordedOnly_ = 0;
    bool created_ = false;
};

}  // namespace kovra
