#include "app/KovraLoggerU.h"

#include "app/ErrorBox.h"
#include "app/ReplayBar.h"
#include "app/ScreenPacer.h"
#include "app/TLogU.h"
#include "config/cp1251.h"
#include "config/language.h"
#include "config/paths.h"
#include "config/settings.h"
#include "config/sums.h"
#include "display/canvas.h"
#include "display/gauge_back.h"
#include "display/gauge_live.h"
#include "formcomp/formula.h"
#include "link/comm_thread.h"
#include "link/port_name.h"
#include "platform/serial_device.h"
#include "record/journal.h"
#include "record/recorder.h"
#include "run/player_source.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QThread>
#include <QTime>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cmath>

namespace kovra {

TCommThread* CommThread = nullptr;

TForm1::TForm1(std::filesystem::path programFolder, std::filesystem::path workingFolder,
               QWidget* parent)
    : QWidget(parent), programFolder_(std::move(programFolder)),
      workingFolder_(std::move(workingFolder))
{
    setObjectName(QStringLiteral("Form1"));
    pacer_ = new TScreenPacer(this);
    BuildLayout();
    FormCreate();
    created_ = true;
}

TForm1::~TForm1()
{
    // Nothing is sent to the ECU at exit; the worker is stopped and joined
    // before the displays it draws on go.
    replay_.reset();
    if (run_) {
        if (CommThread == run_->Link())
            CommThread = nullptr;
        run_->StopSource();
        run_->SetDisplays(nullptr);
    }
}

void TRunView::AddToChart(std::size_t chart, double value)
{
    if (chart >= Charts.size())
        return;
    TStripChart* c = Charts[chart];
    if (chart < SizeFrom.size() && SizeFrom[chart])
        c->setControlSize(SizeFrom[chart]->controlWidth(), SizeFrom[chart]->controlHeight());
    c->add(value);
}

void TRunView::DrawPrib()
{
    // Values and alarms are this cycle's; the frame that shows them is
    // composed at the next screen refresh (or paint), once however many
    // cycles came in between.
    PanelStale = true;
    if (PanelChanged)
        PanelChanged();
}

void TRunView::DrawMoment()
{
    // The run logic and its drawing happen every cycle; the plot reaches the
    // screen once per refresh.
    if (!Run)
        return;
    kovra::DrawMoment(Moment, Run->Data(), Run->State(), MomentChart);
    if (MomentChanged)
        MomentChanged();
}

void TRunView::PlayAlarm()
{
    if (Sound && Alarm)
        Alarm();
}

void TForm1::BuildLayout()
{
    setWindowTitle(QStringLiteral("Kovra Logger"));
    // Design: outer 858 x 542 at (252, 170); the client area is what we size.
    move(252, 170);
    resize(kClientWidth, kClientHeight);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(10);
    setFont(f);
    setAutoFillBackground(true);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setTabPosition(QTabWidget::South);
    PageControl1->setDocumentMode(true);
    // Tabs as narrow as their captions, so the recording button at x = 180
    // stands clear of them in the tab row.
    PageControl1->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 1px 5px; height: 16px; }"));

    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    ScrollBox1 = new QScrollArea(TabSheet1);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setFrameShape(QFrame::NoFrame);
    ScrollBox1->setWidgetResizable(true);
    auto* charts = new QWidget;
    charts->setObjectName(QStringLiteral("ScrollBox1Contents"));
    auto* chartsLayout = new QVBoxLayout(charts);
    chartsLayout->setContentsMargins(0, 0, 0, 0);
    chartsLayout->setSpacing(0);
    chartsLayout->setAlignment(Qt::AlignTop);
    ScrollBox1->setWidget(charts);
    auto* l1 = new QVBoxLayout(TabSheet1);
    l1->setContentsMargins(0, 0, 0, 0);
    l1->addWidget(ScrollBox1);

    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    ScrollBox2 = new QScrollArea(TabSheet2);
    ScrollBox2->setObjectName(QStringLiteral("ScrollBox2"));
    ScrollBox2->setFrameShape(QFrame::NoFrame);
    ScrollBox2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ScrollBox2->setWidgetResizable(false);
    Image1 = new ImageView;
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, 475, 313);
    // Disabled so that clicks fall through to the scroll box.
    Image1->setAttribute(Qt::WA_TransparentForMouseEvents);
    // The panel is painted straight from the frame it is composed in.
    Image1->showPicture(&PanelFrame);
    // Composed at the refresh the pacer makes for it, so that only what the
    // frame changed is repainted; a paint for another reason (an expose, the
    // page shown again) composes a frame still due first.
    Image1->BeforePaint = [this] { return ComposePanel(); };
    pacer_->SetCompose(Image1, [this] { return ComposePanel(); });
    ScrollBox2->setWidget(Image1);
    ScrollBox2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* l2 = new QVBoxLayout(TabSheet2);
    l2->setContentsMargins(0, 0, 0, 0);
    l2->addWidget(ScrollBox2);

    TabSheet3 = new QWidget;
    TabSheet3->setObjectName(QStringLiteral("TabSheet3"));
    Image3 = new ImageView(TabSheet3);
    Image3->setObjectName(QStringLiteral("Image3"));
    Image2 = new ImageView(TabSheet3);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setFixedHeight(28);
    auto* l3 = new QVBoxLayout(TabSheet3);
    l3->setContentsMargins(0, 0, 0, 0);
    l3->setSpacing(0);
    l3->addWidget(Image3, 1);
    l3->addWidget(Image2);

    PageControl1->addTab(TabSheet1, QStringLiteral("Графики"));
    PageControl1->addTab(TabSheet2, QStringLiteral("Приборы"));
    PageControl1->addTab(TabSheet3, QStringLiteral("Момент"));
    PageControl1->setCurrentWidget(TabSheet2);
    // A frame left to compose when the gauge page is hidden is composed now,
    // so that coming back shows the last cycle drawn while it was shown.
    connect(PageControl1, &QTabWidget::currentChanged, this, &TForm1::PageChanged);

    Button1 = new QPushButton(QStringLiteral("выход"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->resize(60, 16);
    Button2 = new QPushButton(QStringLiteral("Запись лога"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->resize(120, 16);
    Button3 = new QPushButton(QStringLiteral("Открыть лог"), this);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->resize(84, 16);
    // Keys stay with the window ("r", and space and arrows in a replay).
    Button3->setFocusPolicy(Qt::NoFocus);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    for (QPushButton* b : {Button1, Button2, Button3}) {
        b->setFont(f);
        b->raise();
    }
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);

    // Between the buttons, where the tab row is empty. A label passes its
    // clicks on to the window, so a double-click there still records, and
    // hovering shows the whole line when it is cut.
    LinkStatusText = new QLabel(this);
    LinkStatusText->setObjectName(QStringLiteral("LinkStatus"));
    LinkStatusText->setFont(f);
    LinkStatusText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    LinkStatusText->raise();

    // Wheel and double-click reach the window from its controls.
    for (QWidget* w : {static_cast<QWidget*>(ScrollBox1->viewport()),
                       static_cast<QWidget*>(ScrollBox2->viewport())})
        w->installEventFilter(this);
    TabSheet2->installEventFilter(this);
    Image3->installEventFilter(this);
    Button2->installEventFilter(this);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);

    ReplayBar = new TReplayBar(this);
    ReplayBar->setObjectName(QStringLiteral("ReplayBar"));
    ReplayBar->setFont(f);
    ReplayBar->hide();
    connect(ReplayBar, &TReplayBar::PlayPause, this, &TForm1::ReplayPlayPause);
    connect(ReplayBar, &TReplayBar::Step, this, &TForm1::ReplayStep);
    connect(ReplayBar, &TReplayBar::SeekTo, this, [this](qint64 r) { ReplaySeek(std::uint64_t(r)); });
    connect(ReplayBar, &TReplayBar::SpeedChanged, this, &TForm1::ReplaySetSpeed);
    connect(ReplayBar, &TReplayBar::SoundChanged, this, [this](bool on) {
        replaySound_ = on;
        liveView_.Sound = !IsReplaying() || on;
        if (replayView_)
            replayView_->Sound = on;
    });
    connect(ReplayBar, &TReplayBar::BackToLive, this, &TForm1::BackToLive);
    setAcceptDrops(true);
    PlaceButtons();
}

void TForm1::PlaceButtons()
{
    // Anchored: Button1 to the bottom and right edges, Button2 to the bottom and left.
    PageControl1->setGeometry(0, 0, width(), height());
    Button1->move(width() - (kClientWidth - 773), height() - (kClientHeight - 486));
    Button2->move(180, height() - (kClientHeight - 486));
    constexpr int kGap = 6;
    if (Button3)
        Button3->move(Button2->x() + Button2->width() + kGap, Button2->y());
    // A replay's strip takes the status line's place in the tab row: no page
    // changes its size for it, so no picture is laid out anew.
    if (ReplayBar && ReplayBar->isVisible() && Button3) {
        const int left = Button3->x() + Button3->width() + kGap;
        ReplayBar->setGeometry(left, Button2->y(), std::max(0, Button1->x() - kGap - left), Button2->height());
        ReplayBar->raise();
        if (LinkStatusText)
            LinkStatusText->hide();
        return;
    }
    if (LinkStatusText) {
        LinkStatusText->show();
        const int left = Button3->x() + Button3->width() + kGap;
        LinkStatusText->setGeometry(left, Button2->y(), std::max(0, Button1->x() - kGap - left),
                                    Button2->height());
        ShowStatusLine();
    }
}

void TForm1::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    PlaceButtons();
}

bool TForm1::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == TabSheet2 && e->type() == QEvent::Resize) {
        if (created_)
            TabSheet2Resize();
        return false;
    }
    if (watched == Image3 && e->type() == QEvent::Resize) {
        if (created_)
            DrawMomentGrid();
        return false;
    }
    if (e->type() == QEvent::MouseButtonDblClick &&
        (watched == ScrollBox1->viewport() || watched == ScrollBox2->viewport())) {
        FormDblClick();
        return true;
    }
    if (watched == Button2 && e->type() == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(e);
        if (IsReplaying() && (ke->key() == Qt::Key_Space || ke->key() == Qt::Key_Left ||
                              ke->key() == Qt::Key_Right)) {
            keyPressEvent(ke);
            return true;
        }
        if (ke->text() == QStringLiteral("r")) {
            FormKeyPress(QLatin1Char('r'));
            return true;
        }
        return false;
    }
    if (e->type() == QEvent::Wheel) {
        auto* we = static_cast<QWheelEvent*>(e);
        ScrollBox1MouseWheel(we->angleDelta().y());
        // The scroll boxes would scroll again by their own step: only the
        // window's rule moves them.
        return true;
    }
    return QWidget::eventFilter(watched, e);
}

bool TForm1::ScrollBox1MouseWheel(int wheelDelta)
{
    QScrollArea* box = PageControl1->currentIndex() == 0 ? ScrollBox1 : ScrollBox2;
    QScrollBar* bar = box->verticalScrollBar();
    bar->setValue(bar->value() - wheelDelta / 5);  // truncates toward zero
    return false;
}

void TForm1::Button1Click() { close(); }

void TForm1::ShowError(const QString& message)
{
    if (ErrorHook) {
        ErrorHook(message);
        return;
    }
    ErrorBox::Show(this, message);
}

void TForm1::TabSheet2Resize()
{
    const QSize size = PanelSize(TabSheet2->width());
    Image1->resize(size);
    if (created_ || !PanelFrame.isNull()) {
        DrawPribBack(Data(), Settings().Options.PanelColor, size.width(), size.height(), workingFolder_,
                     PanelBackground, PanelFrame, PanelLayout);
    }
    DrawMomentGrid();
    // Until the next cycle the panel shows the bare background.
    liveView_.PanelStale = false;
    if (replayView_)
        replayView_->PanelStale = false;
    if (PanelFrame.size() == PanelBackground.size() && !PanelFrame.isNull())
        Canvas(&PanelFrame).copyRect(0, 0, PanelFrame.width(), PanelFrame.height(), PanelBackground, 0, 0);
    else
        PanelFrame = PanelBackground.copy(0, 0, size.width(), size.height());
    Image1->update();
}

void TForm1::FormCreate()
{
    // 1. The settings file of the program folder.
    TSettings settings = LoadSettings(programFolder_);
    const TWindowOptions o = settings.Options;

    // 2. Full screen: on top, maximised, then without border and title bar.
    if (o.FullScreen) {
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
        setWindowState(windowState() | Qt::WindowMaximized);
        setWindowFlag(Qt::FramelessWindowHint, true);
    }
    // 3. The panel colour of both scroll boxes.
    for (QScrollArea* box : {ScrollBox1, ScrollBox2}) {
        QPalette pal = box->palette();
        pal.setColor(QPalette::Window, ToQColor(o.PanelColor));
        box->setPalette(pal);
        box->viewport()->setPalette(pal);
        box->viewport()->setAutoFillBackground(true);
        box->widget()->setPalette(pal);
    }
    // 4.-6. ObdMode, the watchdog interval and the areas come with the model
    // and go to the worker in step 19.
    // 7. Compile every formula: the run does, with its cycle (step 14) and a
    // zeroed sample buffer (step 18).
    run_ = std::make_unique<TRun>(std::move(settings), this);
    run_->SetBudget(std::chrono::milliseconds(kLogPrintBudgetMs));
    run_->SetShownPage(static_cast<TShownPage>(PageControl1->currentIndex()));
    run_->OnEntry = [this](const TCycleSample& e, const TCycleOutcome& out) { HandleLiveEntry(e, out); };
    // 8. One strip chart per logger.
    CreateStripCharts();
    // 9. Gauges: loaded with the model.
    // 10. Captions from the language file (and the status line's texts).
    ApplyLanguage();
    // 11. Not recording; the panel's pictures.
    TRecorder& recorder = run_->AttachRecorder(programFolder_);
    recorder.SetBackgroundSync(true);
    // The failure comes from inside a cycle's processing; the box waits for
    // the cycle to end, and shows once per failure, never per cycle.
    recorder.SetJournalFailureHandler([this](const TJournal& j) {
        const QString text = QString::fromStdString(JournalFailureText(j));
        QTimer::singleShot(0, this, [this, text] { ShowError(text); });
    });
    CreatePanelPictures();
    liveView_.Run = run_.get();
    liveView_.MomentChart = MomentChartOf(Loggers, Data());
    liveView_.PanelChanged = [this] { pacer_->Request(Image1); };
    liveView_.MomentChanged = [this] {
        if (!replay_)
            pacer_->Request(Image3);
    };
    liveView_.Alarm = [this] { PlayAlarmSound(); };
    for (TLog* log : Loggers)
        liveView_.Charts.push_back(log);
    // 12. Clock settings: loaded with the model.
    // 13. Size the panel, draw its background and the chart tab's axis strip.
    TabSheet2Resize();
    // 14. The cycle draws on the window's displays; LastCycleTime was set by the run.
    run_->SetDisplays(&liveView_);
    // 15.-16. Chart tab settings (loaded) and its drawing surfaces (set in step 11).
    // 17. Double-buffering is how Qt paints anyway.
    // 18. The sample buffer: zeroed by the run.
    // A recording that a crash or a power cut interrupted becomes a log now;
    // the journals that cannot become one yet are named in one box.
    QStringList unrecovered;
    for (const TRecoveredJournal& r : RecoverJournals(programFolder_))
        if (r.Status != 0)
            unrecovered << QString::fromStdString(RecoveryText(r));
    if (!unrecovered.isEmpty())
        ShowError(unrecovered.join(u'\n'));
    // 19. The serial worker.
    StartLink();
    // 20. Auto-start of recording.
    if (o.AutoStartLog)
        Recording();
    // 21. The settings file was read whole and is closed.
    // 22. Sums; a value that is not a number ends start-up here.
    if (auto err = RestoreSums(programFolder_, Data(), State())) {
        ShowError(Cp1251ToQString(*err));  // quotes the file's own (CP1251) text
        return;  // polling then starts at the watchdog's first tick
    }
    // 23.-24.
    QThread::msleep(10);
    if (TCommThread* link = run_->Link())
        link->SendRequest();
}

void TForm1::CreateStripCharts()
{
    auto* column = static_cast<QBoxLayout*>(ScrollBox1->widget()->layout());
    const int w = ScrollBox1->viewport()->width() > 0 && ScrollBox1->isVisible()
                      ? ScrollBox1->viewport()->width()
                      : width();
    Loggers.clear();
    for (const TLogSettings& s : Settings().Loggers)
        Loggers.push_back(CreateLog(ScrollBox1->widget(), column, s, Settings().Options, w, pacer_));
}

void TForm1::SetUpMomentSurfaces(TMomentSurfaces& s)
{
    if (TStripChart* c = MomentChartOf(Loggers, Data()))
        kovra::SetupMomentSurfaces(s, *c, Settings().Options.PanelColor);
}

void TForm1::DrawMomentGrid()
{
    TStripChart* chart = MomentChartOf(Loggers, Data());
    kovra::DrawMomentGrid(liveView_.Moment, chart, Image2->size(), Image3->size());
    if (replayView_)
        kovra::DrawMomentGrid(replayView_->Moment, chart, Image2->size(), Image3->size());
    Image2->update();
    Image3->update();
}

void TForm1::ApplyLanguage()
{
    const TIniFile file = ReadLanguageFile(workingFolder_, Settings().Options.Language);
    const TCaptions c = ReadLanguageFromBytes(file.Bytes());
    TStatusTexts texts;
    ApplyStatusTexts(texts, [&file](std::string_view key) { return file.Read("Logger", key); });
    status_ = std::make_unique<TLinkStatus>(PortNameText(Settings().Options.PortName), std::move(texts));
    status_->Access = [](const QString& device) {
        return DeviceAccess(std::filesystem::path(device.toStdWString()));
    };
    auto set = [](const std::optional<std::string>& text, auto apply) {
        if (text)
            apply(Cp1251ToQString(*text));
    };
    set(c.TabSheet1, [this](const QString& t) { PageControl1->setTabText(0, t); });
    set(c.TabSheet2, [this](const QString& t) { PageControl1->setTabText(1, t); });
    set(c.TabSheet3, [this](const QString& t) { PageControl1->setTabText(2, t); });
    set(c.Button1, [this](const QString& t) { Button1->setText(t); });
    set(c.Button2, [this](const QString& t) { Button2->setText(t); });
    set(c.Button3, [this](const QString& t) { Button3->setText(t); });
}

void TForm1::CreatePanelPictures()
{
    PanelBackground = QImage(1, 1, kPictureFormat);
    PanelFrame = QImage(1, 1, kPictureFormat);
    InitMomentSurfaces(liveView_.Moment, &Image2->picture(), &Image3->picture());
    // The chart tab takes its colours from its strip chart before its first
    // drawing, so the axis strip is right from the start.
    SetUpMomentSurfaces(liveView_.Moment);
}

void TForm1::StartLink()
{
    run_->SetSource(std::make_unique<TLinkSource>(CommSettingsFrom(Settings())));
    CommThread = run_->Link();
    run_->StartSource();
    journalTimer_ = new QTimer(this);
    connect(journalTimer_, &QTimer::timeout, this, [this] { run_->Recorder()->Tick(); });
    journalTimer_->start(1000);
    statusTimer_ = new QTimer(this);
    connect(statusTimer_, &QTimer::timeout, this, &TForm1::UpdateLinkStatus);
    statusTimer_->start(kStatusIntervalMs);
    UpdateLinkStatus();
}

void TForm1::UpdateLinkStatus()
{
    if (!status_)
        return;
    status_->SetDropped(DroppedFromDisplay());
    if (replay_)
        status_->SetReplay(std::make_pair(PathToQString(replayLog_.filename()), RecordText(replayShown_)));
    else
        status_->SetReplay(std::nullopt);
    statusLine_ = status_->Text(QDateTime::currentMSecsSinceEpoch());
    ShowStatusLine();
}

void TForm1::ShowStatusLine()
{
    if (!LinkStatusText)
        return;
    LinkStatusText->setToolTip(statusLine_);
    LinkStatusText->setText(LinkStatusText->fontMetrics().elidedText(statusLine_, Qt::ElideRight,
                                                                     LinkStatusText->width()));
}

bool TForm1::event(QEvent* e)
{
    // The runs take their sources' events themselves; one that reaches the
    // window (posted by a test, say) turns the live run's loop.
    if (IsCycleDone(e)) {
        LogPrint();
        return true;
    }
    return QWidget::event(e);
}

void TForm1::HandleLiveEntry(const TCycleSample& entry, const TCycleOutcome& out)
{
    status_->Take(entry);
    switch (entry.Kind) {
    case TCycleSample::TKind::Cycle:
        if (!out.Ok())
            ShowError(QString::fromLatin1(out.Message()));
        break;
    case TCycleSample::TKind::Resend:
        break;
    case TCycleSample::TKind::PortLost:
    case TCycleSample::TKind::PortOpen:
    case TCycleSample::TKind::Notice:
        // The port's state and the link's advice only change the status
        // line: never a box, the link recovers by itself.
        UpdateLinkStatus();
        break;
    }
}

void TForm1::ProcessCycle(const std::vector<std::uint8_t>& sample)
{
    ProcessCycle(sample, run_->Cycle().Now());
}

void TForm1::ProcessCycle(const std::vector<std::uint8_t>& sample, double timeOfDay)
{
    const TCycleOutcome out = run_->ProcessCycle(sample, timeOfDay);
    if (!out.Ok())
        ShowError(QString::fromLatin1(out.Message()));
}

void TForm1::PageChanged(int page)
{
    const auto shown = static_cast<TShownPage>(page);
    if (run_)
        run_->SetShownPage(shown);
    if (replay_)
        replay_->SetShownPage(shown);
    // A frame left to compose when the gauge page is hidden is composed now,
    // so that coming back shows the last cycle drawn while it was shown.
    if (page != 1)
        ComposePanel();
}

QRegion TForm1::ComposePanel()
{
    TRunView& view = ShownView();
    if (!view.PanelStale)
        return QRegion();
    view.PanelStale = false;
    if (PanelFrame.size() != Image1->size() || PanelBackground.size() != Image1->size())
        return QRegion();
    if (replay_ && player_) {
        // The clock shows the time the record was made.
        const QTime at = QTime::fromMSecsSinceStartOfDay(
            static_cast<int>(player_->Player().MsOfDay(replayShown_) % kMsPerDay));
        return kovra::DrawPrib(replay_->Data(), replay_->State(), PanelLayout, PanelBackground, PanelFrame, at);
    }
    return kovra::DrawPrib(Data(), State(), PanelLayout, PanelBackground, PanelFrame);
}

void TForm1::PlayAlarmSound()
{
    if (AlarmHook) {
        AlarmHook();
        return;
    }
    const QString wav = PathToQString(workingFolder_ / "alarm.wav");
    if (!QFileInfo::exists(wav)) {
        QApplication::beep();
        return;
    }
    if (!alarm_) {
        alarm_ = new QSoundEffect(this);
        alarm_->setSource(QUrl::fromLocalFile(wav));
    }
    if (!alarm_->isPlaying())
        alarm_->play();
}

bool TForm1::IsRecording() const { return run_ && run_->IsRecording(); }

void TForm1::Recording()
{
    TRecorder* recorder = run_ ? run_->Recorder() : nullptr;
    // A replay shows no live cycles, so it neither starts nor stops one.
    if (!recorder || IsReplaying())
        return;
    // The cycles completed before the key belong in the log, however far
    // behind the window is in handling them.
    if (recorder->IsRecording())
        run_->RecordPending();
    const TSaveResult r = recorder->Recording();
    Button2->setText(QString::fromUtf8(recorder->Caption()));
    if (!r.Ok())
        ShowError(QString::fromStdString(r.Message));
}

void TForm1::FormKeyPress(QChar key)
{
    if (key == QLatin1Char('r'))
        Recording();
}

void TForm1::keyPressEvent(QKeyEvent* e)
{
    if (IsReplaying()) {
        switch (e->key()) {
        case Qt::Key_Space:
            ReplayPlayPause();
            return;
        case Qt::Key_Left:
            ReplayStep(-1);
            return;
        case Qt::Key_Right:
            ReplayStep(1);
            return;
        default:
            break;
        }
    }
    if (e->text() == QStringLiteral("r"))
        FormKeyPress(QLatin1Char('r'));
    QWidget::keyPressEvent(e);
}

void TForm1::mouseDoubleClickEvent(QMouseEvent* e)
{
    FormDblClick();
    QWidget::mouseDoubleClickEvent(e);
}

bool TForm1::FormClose()
{
    // 1. A running recording is written first; if that fails the window stays.
    if (IsRecording()) {
        Recording();
        if (IsRecording())
            return false;
    }
    // 2. The sums of the live run (a replay's never reach log.sv).
    if (auto err = SaveSums(programFolder_, Data(), State())) {
        ShowError(Cp1251ToQString(*err));  // the file's path, in CP1251
        return false;
    }
    return true;
}

void TForm1::closeEvent(QCloseEvent* e)
{
    if (FormClose())
        e->accept();
    else
        e->ignore();
}

void TForm1::dragEnterEvent(QDragEnterEvent* e)
{
    const QList<QUrl> urls = e->mimeData()->urls();
    if (urls.size() == 1 && urls.front().isLocalFile())
        e->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* e)
{
    const QList<QUrl> urls = e->mimeData()->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile())
        return;
    e->acceptProposedAction();
    const std::filesystem::path log = PathFromQString(urls.front().toLocalFile());
    // Opened after the drop has finished: a box must not open inside it.
    QTimer::singleShot(0, this, [this, log] { OpenLog(log); });
}

}  // namespace kovra
