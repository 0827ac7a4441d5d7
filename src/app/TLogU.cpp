#include "app/TLogU.h"

#include "app/ScreenPacer.h"
#include "config/cp1251.h"

#include <QBoxLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QResizeEvent>

#include <algorithm>

namespace kovra {

TLog::TLog(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setControlSize(width(), height());
}

void TLog::Changed()
{
    if (Pacer)
        Pacer->Request(this);
    else
        update();
}

void TLog::Show(const TStripChart* shown)
{
    shown_ = shown;
    update();
}

void TLog::resizeEvent(QResizeEvent* e)
{
    // The picture follows at the next step, as a picture drawn on only then would.
    setControlSize(e->size().width(), e->size().height());
    QWidget::resizeEvent(e);
}

void TLog::paintEvent(QPaintEvent* e)
{
    QPainter p(this);
    p.setClipRegion(e->region());
    const TStripChart& c = ShownChart();
    c.Draw(p, 0, 0);
    // Until the next step a widened chart shows the panel colour to the right.
    const QRegion rest = QRegion(rect()) - QRegion(0, 0, c.pictureWidth(), c.pictureHeight());
    const QColor back = ToQColor(c.canvas().brushColor);
    for (const QRect& r : rest)
        p.fillRect(r, back);
}

void ApplyChartSettings(TStripChart& chart, const TLogSettings& s, const TWindowOptions& o)
{
    chart.FormulaIndex = s.FormulaIndex;
    chart.LabelText = Cp1251ToQString(s.LabelText);
    chart.MaxValue = s.MaxValue;
    chart.MinValue = s.MinValue;
    Canvas& c = chart.canvas();
    c.penColor = s.TraceColor;
    c.penWidth = 1;
    c.brushColor = o.PanelColor;
    c.brushStyle = BrushStyle::Solid;
    c.fontColor = o.ChartTextColor;
    c.fontPixelHeight = o.ChartTextHeight;
    c.fontPointSize = 0;
    c.fontBold = true;
    c.fontFamily = QStringLiteral("Arial");
}

TLog* CreateLog(QWidget* parent, QBoxLayout* column, const TLogSettings& s,
                const TWindowOptions& o, int width, TScreenPacer* pacer)
{
    auto* log = new TLog(parent);
    log->Pacer = pacer;
    const int h = std::clamp(s.Height, 0, QWIDGETSIZE_MAX);
    log->setFixedHeight(h);
    log->resize(std::max(width, 0), h);
    log->setControlSize(std::max(width, 0), h);
    if (column)
        column->addWidget(log);
    ApplyChartSettings(*log, s, o);
    log->add(0);
    return log;
}

TStripChart* MomentChartOf(const std::vector<TLog*>& charts, const TAllData& d)
{
    if (d.MomentChart >= charts.size())
        return nullptr;
    return charts[d.MomentChart];
}

}  // namespace kovra
