#include "app/KovraLoggerU.h"

#include "app/ErrorBox.h"
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

#include <QApplication>
#include <QCloseEvent>
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
    // Nothing is sent to the ECU at exit; the worker is stopped and joined so
    // that it never outlives the window it posts to.
    if (comm_)
        comm_->Stop();
    if (CommThread == comm_.get())
        CommThread = nullptr;
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
    Image1->BeforePaint = [this] { ComposePanel(); };
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
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int page) {
        if (page != 1)
            ComposePanel();
    });

    Button1 = new QPushButton(QStringLiteral("выход"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->resize(60, 16);
    Button2 = new QPushButton(QStringLiteral("Запись лога"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->resize(120, 16);
    for (QPushButton* b : {Button1, Button2}) {
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
    PlaceButtons();
}

void TForm1::PlaceButtons()
{
    // Anchored: Button1 to the bottom and right edges, Button2 to the bottom and left.
    PageControl1->setGeometry(0, 0, width(), height());
    Button1->move(width() - (kClientWidth - 773), height() - (kClientHeight - 486));
    Button2->move(180, height() - (kClientHeight - 486));
    if (LinkStatusText) {
        constexpr int kGap = 6;
        const int left = Button2->x() + Button2->width() + kGap;
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

void TForm1::ShowError(const QString& message) { ErrorBox::Show(this, message); }

void TForm1::TabSheet2Resize()
{
    const QSize size = PanelSize(TabSheet2->width());
    Image1->resize(size);
    if (created_ || !PanelFrame.isNull()) {
        DrawPribBack(settings_.Data, settings_.Options.PanelColor, size.width(), size.height(),
                     workingFolder_, PanelBackground, PanelFrame, PanelLayout);
    }
    DrawMomentGrid();
    // Until the next cycle the panel shows the bare background.
    panelStale_ = false;
    if (PanelFrame.size() == PanelBackground.size() && !PanelFrame.isNull())
        Canvas(&PanelFrame).copyRect(0, 0, PanelFrame.width(), PanelFrame.height(), PanelBackground, 0, 0);
    else
        PanelFrame = PanelBackground.copy(0, 0, size.width(), size.height());
    Image1->update();
}

void TForm1::FormCreate()
{
    // 1. The settings file of the program folder.
    settings_ = LoadSettings(programFolder_);
    TAllData& d = settings_.Data;
    const TWindowOptions& o = settings_.Options;

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
    // 7. Compile every formula.
    CompileFormulas();
    // 8. One strip chart per logger.
    CreateStripCharts();
    // 9. Gauges: loaded with the model.
    // 10. Captions from the language file (and the status line's texts).
    ApplyLanguage();
    // 11. Not recording; the panel's pictures.
    recorder_ = std::make_unique<TRecorder>(programFolder_, d.SampleLength);
    // The failure comes from inside a cycle's processing; the box waits for
    // the cycle to end, and shows once per failure, never per cycle.
    recorder_->SetJournalFailureHandler([this](const TJournal& j) {
        const QString text = QString::fromStdString(JournalFailureText(j));
        QTimer::singleShot(0, this, [this, text] { ShowError(text); });
    });
    CreatePanelPictures();
    // 12. Clock settings: loaded with the model.
    // 13. Size the panel, draw its background and the chart tab's axis strip.
    TabSheet2Resize();
    // 14.
    cycle_ = std::make_unique<TCycle>(d, ChartFormulas(settings_), this, recorder_.get());
    cycle_->TouchLastCycleTime();
    // 15.-16. Chart tab settings (loaded) and its drawing surfaces (set in step 11).
    // 17. Double-buffering is how Qt paints anyway.
    // 18. A zeroed sample buffer.
    sample_.assign(d.SampleLength, 0);
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
    if (auto err = RestoreSums(programFolder_, d)) {
        ShowError(Cp1251ToQString(*err));  // quotes the file's own (CP1251) text
        return;  // polling then starts at the watchdog's first tick
    }
    // 23.-24.
    QThread::msleep(10);
    if (comm_)
        comm_->SendRequest();
}

void TForm1::CompileFormulas() { kovra::CompileFormulas(settings_); }

void TForm1::CreateStripCharts()
{
    TAllData& d = settings_.Data;
    auto* column = static_cast<QBoxLayout*>(ScrollBox1->widget()->layout());
    const int w = ScrollBox1->viewport()->width() > 0 && ScrollBox1->isVisible()
                      ? ScrollBox1->viewport()->width()
                      : width();
    d.Loggers.clear();
    for (const TLogSettings& s : settings_.Loggers)
        d.Loggers.push_back(CreateLog(ScrollBox1->widget(), column, s, settings_.Options, w, pacer_));
}

void TForm1::AddToChart(std::size_t chart, double value)
{
    TAllData& d = settings_.Data;
    if (chart < d.Loggers.size())
        d.Loggers[chart]->add(value);
}

void TForm1::SetUpMomentSurfaces()
{
    if (TStripChart* c = MomentChartOf(settings_.Data))
        kovra::SetupMomentSurfaces(moment_, *c, settings_.Options.PanelColor);
}

void TForm1::DrawMomentGrid()
{
    kovra::DrawMomentGrid(moment_, MomentChartOf(settings_.Data), Image2->size(), Image3->size());
    Image2->update();
    Image3->update();
}

void TForm1::DrawMoment()
{
    // The run logic and its drawing happen every cycle; the plot reaches the
    // screen once per refresh.
    kovra::DrawMoment(moment_, settings_.Data, MomentChartOf(settings_.Data));
    pacer_->Request(Image3);
}

void TForm1::ApplyLanguage()
{
    const TIniFile file = ReadLanguageFile(workingFolder_, settings_.Options.Language);
    const TCaptions c = ReadLanguageFromBytes(file.Bytes());
    TStatusTexts texts;
    ApplyStatusTexts(texts, [&file](std::string_view key) { return file.Read("Logger", key); });
    status_ = std::make_unique<TLinkStatus>(PortNameText(settings_.Options.PortName), std::move(texts));
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
}

void TForm1::CreatePanelPictures()
{
    PanelBackground = QImage(1, 1, kPictureFormat);
    PanelFrame = QImage(1, 1, kPictureFormat);
    InitMomentSurfaces(moment_, &Image2->picture(), &Image3->picture());
    // The chart tab takes its colours from its strip chart before its first
    // drawing, so the axis strip is right from the start.
    SetUpMomentSurfaces();
}

void TForm1::StartLink()
{
    comm_ = std::make_unique<TCommThread>();
    comm_->Configure(CommSettingsFrom(settings_));
    comm_->SetConsumer(this);
    CommThread = comm_.get();
    comm_->Start();
    journalTimer_ = new QTimer(this);
    connect(journalTimer_, &QTimer::timeout, this, [this] { recorder_->Tick(); });
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
    if (IsCycleDone(e)) {
        LogPrint();
        return true;
    }
    return QWidget::event(e);
}

void TForm1::PostTurn()
{
    if (turnPosted_)
        return;
    turnPosted_ = true;
    QCoreApplication::postEvent(this, new QEvent(WM_CYCLE_DONE));
}

void TForm1::QueueEntry(TCycleSample entry)
{
    pending_.push_back(std::move(entry));
    PostTurn();
}

std::uint64_t TForm1::DroppedFromDisplay() const
{
    return recordedOnly_ + (comm_ ? comm_->DroppedSamples() : 0);
}

void TForm1::LogPrint()
{
    turnPosted_ = false;
    if (!cycle_)
        return;
    if (comm_) {
        // While recording the worker keeps every cycle, however far behind we
        // are: a recording must not lose one to a busy window.
        comm_->SetKeepAll(IsRecording());
        TCycleSample entry;
        while (comm_->TakeSample(entry))
            pending_.push_back(std::move(entry));
    }
    // Far behind: the oldest cycles are recorded but not drawn, so that the
    // window catches up instead of falling further behind.
    while (pending_.size() > kMaxQueuedSamples) {
        TCycleSample entry = std::move(pending_.front());
        pending_.pop_front();
        if (entry.Kind == TCycleSample::TKind::Cycle)
            RecordOnly(entry);
        else
            HandleEntry(entry);
    }
    QElapsedTimer spent;
    spent.start();
    while (!pending_.empty()) {
        // Taken off the queue before it is handled: an error box opened by
        // this cycle runs the event loop, which may come back here.
        TCycleSample entry = std::move(pending_.front());
        pending_.pop_front();
        HandleEntry(entry);
        if (spent.elapsed() >= kLogPrintBudgetMs)
            break;
    }
    if (!pending_.empty())
        PostTurn();
}

void TForm1::HandleEntry(TCycleSample& entry)
{
    status_->Take(entry);
    switch (entry.Kind) {
    case TCycleSample::TKind::Cycle:
        ProcessCycle(entry.Sample, entry.TimeOfDay);
        break;
    case TCycleSample::TKind::Resend:
        cycle_->LastCycleTime = entry.TimeOfDay;
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

void TForm1::RecordOnly(const TCycleSample& entry)
{
    ++recordedOnly_;
    status_->Take(entry);
    if (recorder_ && recorder_->IsRecording())
        recorder_->Append(static_cast<float>(entry.TimeOfDay), entry.Sample);
}

void TForm1::ProcessCycle(const std::vector<std::uint8_t>& sample)
{
    ProcessCycle(sample, std::nullopt);
}

void TForm1::ProcessCycle(const std::vector<std::uint8_t>& sample, double timeOfDay)
{
    ProcessCycle(sample, std::optional<double>(timeOfDay));
}

void TForm1::ProcessCycle(const std::vector<std::uint8_t>& sample, std::optional<double> timeOfDay)
{
    const std::size_t n = std::min(sample.size(), sample_.size());
    std::copy_n(sample.begin(), n, sample_.begin());
    ++processed_;
    const int page = PageControl1->currentIndex();
    // A queued cycle is timed when the worker completed it, not when its turn
    // came: elapsed times and record stamps stay true in a flood.
    const TCycleOutcome out = timeOfDay ? cycle_->LogPrintAt(sample_, page, *timeOfDay)
                                        : cycle_->LogPrint(sample_, page);
    if (!out.Ok())
        ShowError(QString::fromLatin1(out.Message()));
}

void TForm1::DrawPrib()
{
    // Values and alarms are this cycle's; the frame that shows them is
    // composed when the panel is next painted, once however many cycles
    // came in between.
    panelStale_ = true;
    pacer_->Request(Image1);
}

void TForm1::ComposePanel()
{
    if (!panelStale_)
        return;
    panelStale_ = false;
    if (PanelFrame.size() != Image1->size() || PanelBackground.size() != Image1->size())
        return;
    kovra::DrawPrib(settings_.Data, PanelLayout, PanelBackground, PanelFrame);
}

void TForm1::PlayAlarm()
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

bool TForm1::IsRecording() const { return recorder_ && recorder_->IsRecording(); }

void TForm1::Recording()
{
    if (!recorder_)
        return;
    const TSaveResult r = recorder_->Recording();
    Button2->setText(QString::fromUtf8(recorder_->Caption()));
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
    // 2. The sums.
    if (auto err = SaveSums(programFolder_, settings_.Data)) {
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

}  // namespace kovra
