// The window's replay of a log: a second run, fed by the log, drawn on
// pictures of its own that the window's controls show in place of the live
// ones. The live run goes on underneath (polling, recording, sums), so going
// back to live is immediate.
#include "app/KovraLoggerU.h"

#include "app/ReplayBar.h"
#include "app/ScreenPacer.h"
#include "app/TLogU.h"
#include "config/paths.h"
#include "config/settings.h"
#include "display/gauge_back.h"
#include "record/log_file.h"
#include "run/log_export.h"
#include "run/player_source.h"

#include <QFileDialog>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <utility>
#include <vector>

namespace kovra {

namespace {

// A replay's strip chart: drawn off-screen, shown by the live chart's control.
class TReplayChart : public TStripChart {
public:
    TReplayChart(TLog* shownIn, TScreenPacer* pacer) : shownIn_(shownIn), pacer_(pacer) {}

protected:
    void Changed() override
    {
        if (pacer_)
            pacer_->Request(shownIn_);
        else
            shownIn_->update();
    }

private:
    TLog* shownIn_;
    TScreenPacer* pacer_;
};

// Paused at the record shown: the rest of a batch the run had taken is not
// handled, and plays again, once, from the record after it.
void PauseAt(TRun& run, TPlayerSource& player, std::uint64_t shown)
{
    player.Pause();
    run.DropPending();
    player.SeekTo(shown + 1);
}

}  // namespace

void TForm1::Button3Click()
{
    const QString file = QFileDialog::getOpenFileName(this, Button3->text(), PathToQString(LogsFolder(programFolder_)),
                                                      QStringLiteral("Логи (*.xlg);;Все файлы (*)"));
    if (!file.isEmpty())
        OpenLog(PathFromQString(file));
}

bool TForm1::OpenLog(const std::filesystem::path& log, const TReplayStart& start)
{
    if (IsRecording()) {
        ShowError(QStringLiteral("Идёт запись лога: лог %1 не открыт, запись продолжается")
                      .arg(PathToQString(log)));
        return false;
    }
    auto player = std::make_unique<TLogPlayer>();
    if (!player->Open(log, Data().SampleLength)) {
        ShowError(QString::fromStdString(player->Error()));
        return false;
    }
    std::uint64_t first = 0;
    if (start.At) {
        std::string why;
        const std::optional<std::uint64_t> at = player->Find(*start.At, &why);
        if (!at) {
            ShowError(QStringLiteral("%1: %2").arg(PathToQString(log), QString::fromStdString(why)));
            return false;
        }
        first = *at;
    }
    if (replay_)
        BackToLive();

    // The formulas of today's set.ini, from zero: a replay never starts
    // from log.sv, and never writes it or a log.
    replay_ = std::make_unique<TRun>(LoadSettings(programFolder_), this);
    replay_->SetBudget(std::chrono::milliseconds(kLogPrintBudgetMs));
    replay_->SetShownPage(static_cast<TShownPage>(PageControl1->currentIndex()));
    // The chart tab borrows its scale from the live charts' settings.
    replay_->OnEntry = [this](const TCycleSample& e, const TCycleOutcome& out) { ReplayEntry(e, out); };
    auto source = std::make_unique<TPlayerSource>(std::move(player));
    player_ = source.get();
    replay_->SetSource(std::move(source));
    replayLog_ = log;
    replayNote_.clear();
    if (const std::size_t cut = player_->Player().TrailingBytes())
        replayNote_ = QStringLiteral("последняя запись обрезана (%1 байт): показано до предыдущей").arg(cut);

    player_->SetSpeed(start.Speed);
    ReplayBar->SetLog(PathToQString(log), player_->Player().Records(), player_->Player().Gaps(), replayNote_);
    ReplayBar->SetSpeed(player_->Player().Speed());
    ReplayBar->SetSound(replaySound_);
    if (!replayTimer_) {
        replayTimer_ = new QTimer(this);
        connect(replayTimer_, &QTimer::timeout, this, &TForm1::UpdateReplayBar);
    }
    replayTimer_->start(100);
    ReplaySeek(first);
    replay_->StartSource();
    if (!start.Paused)
        ReplayPlayPause();
    UpdateReplayBar();
    UpdateLinkStatus();
    return true;
}

void TForm1::MakeReplayView()
{
    // Shown no more before its pictures go.
    for (TLog* log : Loggers)
        log->Show(nullptr);
    Image3->showPicture(nullptr);
    replayCharts_.clear();
    auto view = std::make_unique<TRunView>();
    view->Run = replay_.get();
    view->MomentChart = MomentChartOf(Loggers, Data());
    for (std::size_t k = 0; k < Loggers.size(); ++k) {
        TLog* log = Loggers[k];
        auto chart = std::make_unique<TReplayChart>(log, pacer_);
        if (k < Settings().Loggers.size())
            ApplyChartSettings(*chart, Settings().Loggers[k], Settings().Options);
        chart->setControlSize(log->controlWidth(), log->controlHeight());
        // As a chart is made: its first step is the value 0.
        chart->add(0);
        view->Charts.push_back(chart.get());
        view->SizeFrom.push_back(log);
        replayCharts_.push_back(std::move(chart));
    }
    replayAxis_ = QImage();
    replayPlot_ = QImage();
    InitMomentSurfaces(view->Moment, &replayAxis_, &replayPlot_);
    SetUpMomentSurfaces(view->Moment);
    kovra::DrawMomentGrid(view->Moment, MomentChartOf(Loggers, Data()), Image2->size(), Image3->size());
    view->PanelChanged = [this] { pacer_->Request(Image1); };
    view->MomentChanged = [this] { pacer_->Request(Image3); };
    view->Alarm = [this] { PlayAlarmSound(); };
    view->Sound = replaySound_;
    replayView_ = std::move(view);
    replay_->SetDisplays(replayView_.get());
}

void TForm1::ShowReplayView(bool shown)
{
    for (std::size_t k = 0; k < Loggers.size(); ++k)
        Loggers[k]->Show(shown && k < replayCharts_.size() ? replayCharts_[k].get() : nullptr);
    Image3->showPicture(shown ? &replayPlot_ : nullptr);
    ShownView().PanelStale = true;
    pacer_->Request(Image1);
    Image3->update();
    liveView_.Sound = !shown || replaySound_;
    Button2->setEnabled(!shown);
    ReplayBar->setVisible(shown);
    PlaceButtons();
}

void TForm1::ReplaySeek(std::uint64_t record)
{
    if (!replay_ || !player_)
        return;
    const TLogPlayer& p = player_->Player();
    if (p.Records() == 0)
        return;
    record = std::min(record, p.Records() - 1);
    // From the first record, as playing would: values and sums, the chart
    // tab's run; the strip charts only see the cycles they can still show.
    replay_->Restart(p.TimeOfDay(0));
    MakeReplayView();
    ShowReplayView(true);
    int widest = 0;
    for (const auto& c : replayCharts_)
        widest = std::max(widest, c->controlWidth());
    const std::uint64_t drawnFrom = record >= std::uint64_t(widest) + 8 ? record - widest - 8 : 0;
    const TShownPage page = replay_->ShownPage();
    // The chart tab's points are drawn only from the last one that clears
    // its plot: what came before is wiped out by that clear.
    const TStripChart* momentChart = replayView_->MomentChart;
    const bool moment = page == TShownPage::Moment && momentChart;
    std::vector<std::pair<double, double>> points;
    if (moment)
        points.reserve(record + 1);
    const TCycleDrawing quiet{TShownPage::None, false, false};
    TCycleDrawing charts = quiet;
    charts.Charts = true;
    const TAllData& d = replay_->Data();
    TRunState& state = replay_->State();
    p.ForEach(0, record + 1, [&](std::uint64_t i, double t, std::span<const std::uint8_t> s) {
        const bool ok = replay_->ProcessCycle(s, t, i >= drawnFrom ? charts : quiet).Ok();
        // A cycle that fails never reaches the chart tab, as live.
        if (moment && ok)
            points.emplace_back(state.ValueOf(momentChart->FormulaIndex), state.ValueOf(d.MomentFormula));
    });
    if (moment) {
        const std::size_t from = LastMomentClear(d, state.Moment, momentChart, points).value_or(0);
        for (std::size_t i = 0; i < points.size(); ++i)
            DrawMomentPoint(replayView_->Moment, d, state.Moment, momentChart, points[i].first, points[i].second,
                            i >= from);
        pacer_->Request(Image3);
    }
    replayShown_ = record;
    if (page == TShownPage::Gauges)
        replayView_->DrawPrib();
    player_->SeekTo(record + 1);
    UpdateReplayBar();
}

void TForm1::ReplayStep(int delta)
{
    if (!replay_ || !player_)
        return;
    if (player_->IsPlaying())
        PauseAt(*replay_, *player_, replayShown_);
    const std::uint64_t records = player_->Player().Records();
    if (delta > 0 && replayShown_ + 1 < records) {
        // One record on is what playing it does.
        const std::uint64_t next = replayShown_ + 1;
        replay_->ProcessCycle(player_->Player().Sample(next), player_->Player().TimeOfDay(next));
        replayShown_ = next;
        player_->SeekTo(next + 1);
    } else if (delta < 0 && replayShown_ > 0) {
        ReplaySeek(replayShown_ - 1);
    }
    UpdateReplayBar();
}

void TForm1::ReplayPlayPause()
{
    if (!player_)
        return;
    if (player_->IsPlaying()) {
        PauseAt(*replay_, *player_, replayShown_);
    } else {
        // At the end, playing again starts from the first record.
        if (replayShown_ + 1 >= player_->Player().Records())
            ReplaySeek(0);
        player_->Play();
    }
    UpdateReplayBar();
}

void TForm1::ReplaySetSpeed(double speed)
{
    if (!player_)
        return;
    player_->SetSpeed(speed);
    ReplayBar->SetSpeed(player_->Player().Speed());
}

void TForm1::ReplayEntry(const TCycleSample& entry, const TCycleOutcome& out)
{
    if (entry.Kind != TCycleSample::TKind::Cycle)
        return;
    replayShown_ = entry.Record;
    // A failing formula would fail on every record: said once, on the strip.
    if (!out.Ok() && replayNote_.isEmpty()) {
        replayNote_ = QStringLiteral("запись %1: %2").arg(entry.Record + 1).arg(QString::fromLatin1(out.Message()));
        ReplayBar->SetLog(PathToQString(replayLog_), player_->Player().Records(), player_->Player().Gaps(),
                          replayNote_);
    }
}

QString TForm1::RecordText(std::uint64_t record) const
{
    if (!player_)
        return {};
    const TLogPlayer& p = player_->Player();
    return QStringLiteral("%1 %2/%3")
        .arg(QString::fromStdString(FormatStampTime(p.MsOfDay(record))))
        .arg(record + 1)
        .arg(p.Records());
}

void TForm1::UpdateReplayBar()
{
    if (!player_)
        return;
    ReplayBar->SetPosition(replayShown_, RecordText(replayShown_));
    ReplayBar->SetPlaying(player_->IsPlaying());
}

void TForm1::BackToLive()
{
    if (!replay_)
        return;
    replay_->StopSource();
    for (TLog* log : Loggers)
        log->Show(nullptr);
    Image3->showPicture(nullptr);
    replay_->SetDisplays(nullptr);
    replay_.reset();
    player_ = nullptr;
    replayView_.reset();
    replayCharts_.clear();
    if (replayTimer_)
        replayTimer_->stop();
    liveView_.Sound = true;
    Button2->setEnabled(true);
    ReplayBar->hide();
    PlaceButtons();
    // The live frame of the last cycle, composed at the next paint.
    liveView_.PanelStale = true;
    pacer_->Request(Image1);
    Image3->update();
    UpdateLinkStatus();
}

}  // namespace kovra
