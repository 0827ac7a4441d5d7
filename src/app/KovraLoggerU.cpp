#include "app/KovraLoggerU.h"

#include "app/ErrorBox.h"
#include "config/settings.h"
#include "formcomp/formula.h"

#include <QApplication>
#include <QCloseEvent>
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

double TimeOfDayNow()
{
    return QTime::currentTime().msecsSinceStartOfDay() / 86400000.0;
}

TForm1::TForm1(std::filesystem::path programFolder, std::filesystem::path workingFolder,
               QWidget* parent)
    : QWidget(parent), programFolder_(std::move(programFolder)),
      workingFolder_(std::move(workingFolder))
{
    setObjectName(QStringLiteral("Form1"));
    BuildLayout();
    FormCreate();
    created_ = true;
}

TForm1::~TForm1() = default;

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
    chartsLayout->addStretch(1);
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

    // Wheel and double-click reach the window from its controls.
    for (QWidget* w : {static_cast<QWidget*>(ScrollBox1->viewport()),
                       static_cast<QWidget*>(ScrollBox2->viewport())})
        w->installEventFilter(this);
    TabSheet2->installEventFilter(this);
    PlaceButtons();
}

void TForm1::PlaceButtons()
{
    // Anchored: Button1 to the bottom and right edges, Button2 to the bottom and left.
    PageControl1->setGeometry(0, 0, width(), height());
    Button1->move(width() - (kClientWidth - 773), height() - (kClientHeight - 486));
    Button2->move(180, height() - (kClientHeight - 486));
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
    const int w = TabSheet2->width() - 18;
    const int h = static_cast<int>(std::nearbyint(w * 0.5625));
    Image1->resize(std::max(w, 0), std::max(h, 0));
    // Gauge background and the chart tab's axis strip are rebuilt here.
    Image1->picture() = PanelBackground.copy(0, 0, std::max(w, 0), std::max(h, 0));
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
    // 4.-6. ObdMode, the watchdog interval and the areas come with the model.
    // 7. Compile every formula.
    CompileFormulas();
    // 8. One strip chart per logger.
    CreateStripCharts();
    // 9. Gauges: loaded with the model.
    // 10. Captions from the language file.
    ApplyLanguage();
    // 11. Not recording; the panel's pictures.
    CreatePanelPictures();
    // 12. Clock settings: loaded with the model.
    // 13. Size the panel, draw its background and the chart tab's axis strip.
    TabSheet2Resize();
    // 14.
    LastCycleTime = TimeOfDayNow();
    // 15.-17. Chart tab settings and surfaces; double-buffering is Qt's default.
    // 18. A zeroed sample buffer.
    sample_.assign(d.SampleLength, 0);
    // 19. The serial worker.
    StartLink();
    // 20. Auto-start of recording.
    // 21. The settings file is closed (it was read whole).
    // 22. Sums.
    bool ok = true;
    RestoreSums(ok);
    if (!ok)
        return;  // the remaining steps are skipped; the watchdog starts polling
    // 23.-24.
    QThread::msleep(10);
    SendFirstRequest();
}

void TForm1::CompileFormulas()
{
    TAllData& d = settings_.Data;
    d.Formulas = std::make_unique<TFormula[]>(d.Procs.size());
    for (std::size_t i = 0; i < d.Procs.size(); ++i) {
        std::vector<std::string> names;
        names.reserve(d.Procs[i].Vars.size());
        for (const TPerem& v : d.Procs[i].Vars)
            names.push_back(v.Name);
        const std::string& text = i < settings_.FormulaTexts.size() ? settings_.FormulaTexts[i] : std::string("0");
        CompileFormula(d.Formulas[i], text, names);
    }
}

void TForm1::CreateStripCharts() {}
void TForm1::ApplyLanguage() {}
void TForm1::CreatePanelPictures() {}
void TForm1::StartLink() {}
void TForm1::RestoreSums(bool& ok) { ok = true; }
void TForm1::SendFirstRequest() {}

bool TForm1::FormClose() { return true; }

void TForm1::closeEvent(QCloseEvent* e)
{
    if (FormClose())
        e->accept();
    else
        e->ignore();
}

}  // namespace kovra
