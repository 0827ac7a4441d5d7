// The strip chart control of the graphs tab: a TStripChart shown in a widget
// that spans its parent's width at a fixed height. It takes no mouse input, so
// clicks and double-clicks reach the scroll box beneath it.
#pragma once

#include "config/model.h"
#include "display/strip_chart.h"

#include <QWidget>

class QBoxLayout;

namespace kovra {

class TScreenPacer;

class TLog : public QWidget, public TStripChart {
    Q_OBJECT
public:
    explicit TLog(QWidget* parent = nullptr);

    // When set, each step is shown at the pacer's next refresh instead of
    // asking for a paint per step.
    TScreenPacer* Pacer = nullptr;

    // Another chart shown in this control instead of its own (a replay's);
    // null: its own. shown must outlive the control or be reset first.
    void Show(const TStripChart* shown);
    const TStripChart& ShownChart() const { return shown_ ? *shown_ : *this; }

protected:
    void Changed() override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    const TStripChart* shown_ = nullptr;
};

// A chart's scale, caption and the drawing attributes all charts share.
void ApplyChartSettings(TStripChart& chart, const TLogSettings& s, const TWindowOptions& o);

// Creates one chart from its settings in `column` (a top-aligned vertical
// layout of the graphs tab's scroll box, charts stacked in order), with the
// drawing attributes all charts share, and draws its first step (the value 0).
// width: the width the chart will have, so that the first step is drawn at
// it even before the window is laid out. pacer: see TLog::Pacer.
TLog* CreateLog(QWidget* parent, QBoxLayout* column, const TLogSettings& s,
                const TWindowOptions& o, int width, TScreenPacer* pacer = nullptr);

// The strip chart the chart tab borrows its scale and colours from, or null
// when "Момент_Х" names no chart.
TStripChart* MomentChartOf(const std::vector<TLog*>& charts, const TAllData& d);

}  // namespace kovra
