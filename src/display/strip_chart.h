// A strip chart: a picture that scrolls left by one pixel column per sample,
// the newest value entering as a bar in the rightmost column, with a fixed
// box in the top-left corner that shows the caption and the latest value.
//
// The picture behaves exactly as if every add() copied it onto itself one
// pixel to the left, but no add() moves the picture: its columns live in a
// ring, physical column (head + i) % W holding logical column i, and a scroll
// only advances head. The corner box is drawn into the ring like everything
// else, so whatever a real scroll would leave of earlier boxes is there too.
// Render() lays the ring out flat; Draw() paints it in two pieces.
//
// A wide chart puts its steps into the ring in batches: add() notes the value
// and the steps are drawn when the picture is looked at (Render, Draw) or
// when kMaxPending wait. A column written on its own touches one cache line
// per row of a picture of a megabyte or more; a batch writes its columns side
// by side. Of the corner boxes a batch would have drawn, only what the last
// one does not cover is drawn: the few rows of older values' text below the
// box's fill. The picture is the same, pixel for pixel, as drawing every step
// at once.
//
// GUI thread only (text needs the QGuiApplication).
#pragma once

#include "display/canvas.h"

#include <QImage>
#include <QPainter>
#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

namespace kovra {

class TStripChart {
public:
    TStripChart();
    virtual ~TStripChart() = default;
    // The canvas draws on the chart's own picture: not copyable.
    TStripChart(const TStripChart&) = delete;
    TStripChart& operator=(const TStripChart&) = delete;

    // Which formula the chart shows, its scale and its caption.
    std::uint16_t FormulaIndex = 0;
    std::int32_t MaxValue = 100;
    std::int32_t MinValue = 0;
    QString LabelText;

    // Drawing attributes: pen colour (the bars), brush colour (background),
    // font colour, font height in pixels (also the unit h of the corner box),
    // font "Arial" bold. Set them before the first add().
    Canvas& canvas() { return canvas_; }
    const Canvas& canvas() const { return canvas_; }

    // Steps noted but not yet drawn into the picture, at most.
    static constexpr int kMaxPending = 32;

    // The size of the control showing the chart. The picture follows it at
    // the next add(), as a picture follows its control only when drawn on.
    void setControlSize(int width, int height);
    int controlWidth() const { return controlW_; }
    int controlHeight() const { return controlH_; }

    // One step for the value v. A chart without a scale (MaxValue equal to
    // MinValue) has no zero line: it scrolls and shows its caption only.
    // Bar rows beyond the picture (values off the scale, infinities) are
    // clamped to just outside it, which paints the same pixels; a NaN value
    // draws no bar, and its text reads "NAN".
    void add(double v);

    // The picture's size (that of the control at the last add()).
    int pictureWidth() const { return ring_.width(); }
    int pictureHeight() const { return ring_.height(); }
    // The picture as a plain W x H image, oldest column at the left.
    void Render(QImage& out) const;
    QImage Render() const
    {
        QImage out;
        Render(out);
        return out;
    }
    // Paints the picture with its top-left corner at (x, y), in two pieces.
    void Draw(QPainter& p, int x, int y) const;

protected:
    // Called after every step, for a control that shows the chart to repaint.
    virtual void Changed() {}

public:
    // The zero line's row for a height and scale: H - Round(H / (Max - Min) * -Min).
    static double ZeroRow(int height, std::int32_t maxValue, std::int32_t minValue);

private:
    void Resize(int w, int h);
    void DrawCornerBox(double v);
    void DrawStep(double v);
    // Whether steps at the current size may wait to be drawn.
    bool Batches() const;
    // Whether the attributes steps are drawn with changed since the batch began.
    bool BatchAttributesChanged() const;
    // Draws the waiting steps (with the attributes they were added under).
    void DrawPending();
    // For the const readers of the picture: the pending steps belong to it.
    void Settle() const;
    // The rows the value text paints below the box's fill, and the text's
    // picture (fill and ink, as textOut paints it) for one value.
    const QImage& ValueCell(const QString& text);
    // The physical column of logical column x.
    int Phys(int x) const { return (head_ + x) % ring_.width(); }

    Canvas canvas_;
    QImage ring_;
    int head_ = 0;
    int controlW_ = 0, controlH_ = 0;
    // The corner box is drawn on a small scratch picture, laid over the
    // ring's logical left edge and copied back.
    QImage scratch_;
    // The box's fill with the caption over the part of the picture the box
    // covers, and what it was made from.
    int BoxUnit() const;
    bool StampIsCurrent() const;
    void MakeStamp();
    QImage stamp_;
    QString stampLabel_, stampFamily_;
    int stampPixelHeight_ = 0, stampPointSize_ = 0;
    bool stampBold_ = false;
    TColor stampBrush_ = 0, stampInk_ = 0;
    int stampPictureW_ = 0, stampPictureH_ = 0;
    int stampCell_ = 0, stampLabelWidth_ = 0;

    // Values added but not drawn yet, oldest first; head_ has moved for them.
    std::vector<double> pending_;
    // What they are drawn with: the attributes when the first was added.
    Canvas batchCanvas_;
    QString batchLabel_;
    std::int32_t batchMax_ = 0, batchMin_ = 0;
    // The pending columns, drawn side by side before they go into the ring.
    QImage columns_;
    // Pictures of value texts, for the rows of older boxes that survive.
    std::vector<std::pair<QString, QImage>> valueCells_;
    Canvas cellsLook_;
};

}  // namespace kovra
