// The main window: the consumer of the live run (run/run.h: the model, the
// sample buffer, the recorder and the link) and, while a log is replayed, of a
// second run fed by the log. It owns the displays and draws each run's cycles
// on them. Everything here runs on the window's thread.
#pragma once

#include "app/ImageView.h"
#include "app/LinkStatus.h"
#include "config/model.h"
#include "config/time_of_day.h"
#include "display/gauge_back.h"
#include "display/moment_chart.h"
#include "link/comm_thread.h"
#include "record/log_reader.h"
#include "run/cycle.h"
#include "run/run.h"

#include <QDateTime>
#include <QImage>
#include <QRegion>
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
class TLog;
class TPlayerSource;
class TRecorder;
class TReplayBar;
class TScreenPacer;

// The one serial worker of the run; set by start-up.
extern TCommThread* CommThread;

// What one run's cycles draw on: a strip chart per logger, the chart tab's
// plot and the gauge panel's values. The live run draws on the window's own
// controls; a replay on pictures of its own, shown in the same controls
// instead while it lasts.
class TRunView : public TCycleDisplays {
public:
    TRun* Run = nullptr;
    // The chart tab's scale and colours come from this strip chart (may be null).
    const TStripChart* MomentChart = nullptr;
    std::vector<TStripChart*> Charts;
    // A replay's charts follow the size of the control that shows them.
    std::vector<const TLog*> SizeFrom;
    TMomentSurfaces Moment;
    bool PanelStale = false;  // cycles were processed since the frame was composed
    bool Sound = true;
    std::function<void()> PanelChanged, MomentChanged, Alarm;

    void AddToChart(std::size_t chart, double value) override;
    void DrawPrib() override;
    void DrawMoment() override;
    void PlayAlarm() override;
};

// How a log opens: where, how fast, and whether it plays at once.
struct TReplayStart {
    std::optional<std::string> At;  // "HH:MM:SS[.mmm]" or "end"
    double Speed = 1;               // 0: as fast as possible
    bool Paused = false;
};

class TForm1 : public QWidget {
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
    // Opens a log to replay, beside the recording button.
    QPushButton* Button3 = nullptr;
    // The link's state, in the tab row beside the buttons.
    QLabel* LinkStatusText = nullptr;
    // The replay's controls, above the tab row while a log is shown.
    TReplayBar* ReplayBar = nullptr;
    // The strip charts of the graphs tab, one per logger, in order.
    std::vector<TLog*> Loggers;

    // The live run.
    TRun& Run() { return *run_; }
    TSettings& Settings() { return run_->Settings(); }
    TAllData& Data() { return run_->Data(); }
    // What the live run's cycles made of it: values, sums, alarms.
    TRunState& State() { return run_->State(); }
    const std::vector<std::uint8_t>& SampleBuffer() const { return run_->Sample(); }

    void FormCreate();
    void TabSheet2Resize();
    // Returns whether the event was handled (it never is).
    bool ScrollBox1MouseWheel(int wheelDelta);
    void Button1Click();
    void Button2Click() { Recording(); }
    void Button3Click();
    void FormDblClick() { Recording(); }
    void FormKeyPress(QChar key);
    // The recording toggle; shows the error box when a save fails. Does
    // nothing while a log is replayed.
    void Recording();
    bool IsRecording() const;
    TRecorder* Recorder() { return run_->Recorder(); }
    TCycle* Cycle() { return &run_->Cycle(); }

    // The live run's loop: handles the entries its source has queued, for at
    // most kLogPrintBudgetMs; what is left waits for the next turn of the
    // event loop, so input and painting are never starved.
    void LogPrint() { run_->LogPrint(); }
    // One completed cycle's sample, timed now or at timeOfDay (fraction of a
    // day: when the worker completed it).
    void ProcessCycle(const std::vector<std::uint8_t>& sample);
    void ProcessCycle(const std::vector<std::uint8_t>& sample, double timeOfDay);

    // An entry for the live run, as if the worker had queued it.
    void QueueEntry(TCycleSample entry) { run_->QueueEntry(std::move(entry)); }
    std::size_t PendingEntries() const { return run_->PendingEntries(); }
    // Completed cycles that never reached the displays: dropped by the worker
    // when its queue was full, or handled without drawing when the window
    // fell more than kMaxQueuedSamples entries behind.
    std::uint64_t DroppedFromDisplay() const { return run_->DroppedFromDisplay(); }
    // Cycles handled in full (formulas, charts, alarms, drawing).
    std::uint64_t ProcessedCycles() const { return run_->Processed() - (run_->Undrawn() - run_->RecordedOnly()); }
    TScreenPacer* Pacer() { return pacer_; }

    // What the status line is made from; its text is shown every
    // kStatusIntervalMs, never per cycle.
    TLinkStatus& LinkStatus() { return *status_; }
    void UpdateLinkStatus();
    // The whole line; the label shows as much of it as fits (all of it as its tooltip).
    const QString& LinkStatusLine() const { return statusLine_; }
    static constexpr int kStatusIntervalMs = 500;

    static constexpr int kLogPrintBudgetMs = 8;

    // --- replay of a log ---------------------------------------------------
    // Opens log in place of the live displays; false (and a box saying why)
    // when it cannot be replayed: unreadable, another sample length,
    // recording on, a bad start time.
    bool OpenLog(const std::filesystem::path& log, const TReplayStart& start = {});
    bool IsReplaying() const { return replay_ != nullptr; }
    // The replay's run, or null.
    TRun* ReplayRun() { return replay_.get(); }
    TPlayerSource* Player() { return player_; }
    void ReplayPlayPause();
    void ReplaySetSpeed(double speed);
    // Shows record i exactly as playing from the first record to it would.
    void ReplaySeek(std::uint64_t record);
    void ReplayStep(int delta);
    // The record the replay shows (the last one processed).
    std::uint64_t ReplayShown() const { return replayShown_; }
    void BackToLive();

    // Test seam for the alarm sound: when set, called instead of playing.
    std::function<void()> AlarmHook;
    // Test seam for the error box: when set, called instead of showing it.
    std::function<void(const QString&)> ErrorHook;

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
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    // Shutdown: returns false when the close must be abandoned.
    bool FormClose();
    void BuildLayout();
    void PlaceButtons();
    void ShowStatusLine();
    void ShowError(const QString& message);

    // Start-up steps that reach into other subsystems, in their order.
    void CreateStripCharts();
    void ApplyLanguage();
    void CreatePanelPictures();
    void StartLink();
    void SetUpMomentSurfaces(TMomentSurfaces& s);
    void DrawMomentGrid();

    void HandleLiveEntry(const TCycleSample& entry, const TCycleOutcome& out);
    void PlayAlarmSound();
    // The run whose cycles are on screen: the replay's while there is one.
    TRun& ShownRun() { return replay_ ? *replay_ : *run_; }
    TRunView& ShownView() { return replay_ ? *replayView_ : liveView_; }
    // The gauge frame, composed only when it is about to be seen; returns
    // the part of it that changed.
    QRegion ComposePanel();
    void PageChanged(int page);

    // The replay's pictures, made as a new replay's are.
    void MakeReplayView();
    void ShowReplayView(bool shown);
    void ReplayEntry(const TCycleSample& entry, const TCycleOutcome& out);
    void UpdateReplayBar();
    QString RecordText(std::uint64_t record) const;

    std::filesystem::path programFolder_;
    std::filesystem::path workingFolder_;
    std::unique_ptr<TRun> run_;
    TRunView liveView_;
    QImage PanelBackground;
    QImage PanelFrame;
    TPanelLayout PanelLayout;
    QTimer* journalTimer_ = nullptr;
    QSoundEffect* alarm_ = nullptr;
    TScreenPacer* pacer_ = nullptr;
    std::unique_ptr<TLinkStatus> status_;
    QTimer* statusTimer_ = nullptr;
    QString statusLine_;
    bool created_ = false;

    // The replay: its run (fed by player_, which the run owns), its view and
    // the pictures the view draws on.
    std::unique_ptr<TRun> replay_;
    TPlayerSource* player_ = nullptr;
    std::unique_ptr<TRunView> replayView_;
    std::vector<std::unique_ptr<TStripChart>> replayCharts_;
    QImage replayAxis_, replayPlot_;
    std::filesystem::path replayLog_;
    std::uint64_t replayShown_ = 0;
    bool replaySound_ = false;
    QTimer* replayTimer_ = nullptr;  // the strip's position, a few times a second
    QString replayNote_;
};

}  // namespace kovra
