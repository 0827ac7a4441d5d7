#include "display/strip_chart.h"

#include "config/format.h"
#include "config/model.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kovra {

namespace {

// A row for the bar, clamped to [-1, H]: every row beyond the picture paints
// the same pixels as the row just outside it, and the clamp keeps the value
// inside int.
int ClampRow(double row, int h)
{
    if (std::isnan(row))
        return -1;
    return int(std::clamp(row, -1.0, double(h)));
}

// Copies n columns of rows [0, rows) from column fromX of one picture to
// column toX of another. The caller keeps both ranges inside.
void CopyColumns(QImage& to, int toX, const QImage& from, int fromX, int n, int rows)
{
    if (n <= 0)
        return;
    const std::size_t bytes = std::size_t(n) * sizeof(QRgb);
    uchar* dst = to.bits();
    const uchar* src = from.constBits();
    const qsizetype dstStride = to.bytesPerLine(), srcStride = from.bytesPerLine();
    for (int y = 0; y < rows; ++y)
        std::memcpy(reinterpret_cast<QRgb*>(dst + dstStride * y) + toX,
                    reinterpret_cast<const QRgb*>(src + srcStride * y) + fromX, bytes);
}

// Whether two canvases draw a step the same.
bool SameLook(const Canvas& a, const Canvas& b)
{
    return a.penColor == b.penColor && a.penWidth == b.penWidth && a.brushColor == b.brushColor &&
           a.brushStyle == b.brushStyle && a.fontFamily == b.fontFamily &&
           a.fontPixelHeight == b.fontPixelHeight && a.fontPointSize == b.fontPointSize &&
           a.fontBold == b.fontBold && a.fontColor == b.fontColor;
}

}  // namespace

TStripChart::TStripChart()
{
    canvas_.attach(&ring_);
    canvas_.penColor = 0xFF0000;
    canvas_.penWidth = 1;
    canvas_.brushColor = kButtonFace;
    canvas_.brushStyle = BrushStyle::Solid;
    canvas_.fontColor = 255;
    canvas_.fontPixelHeight = 10;
    canvas_.fontBold = true;
    canvas_.fontFamily = QStringLiteral("Arial");
}

void TStripChart::setControlSize(int width, int height)
{
    controlW_ = std::max(width, 0);
    controlH_ = std::max(height, 0);
}

double TStripChart::ZeroRow(int height, std::int32_t maxValue, std::int32_t minValue)
{
    const double scale = height / (double(maxValue) - double(minValue));
    return height - std::nearbyint(scale * -double(minValue));
}

void TStripChart::Resize(int w, int h)
{
    QImage fresh = MakePicture(w, h, canvas_.brushColor);
    if (!ring_.isNull() && !fresh.isNull()) {
        // The old picture stays anchored at the top-left corner.
        const int cols = std::min(w, ring_.width());
        const int rows = std::min(h, ring_.height());
        const int first = std::min(cols, ring_.width() - head_);
        CopyColumns(fresh, 0, ring_, head_, first, rows);
        CopyColumns(fresh, first, ring_, 0, cols - first, rows);
    }
    ring_ = std::move(fresh);
    head_ = 0;
    canvas_.attach(&ring_);
}

void TStripChart::add(double v)
{
    const int W = controlW_, H = controlH_;
    canvas_.penWidth = 1;
    if (!pending_.empty() && (W != ring_.width() || H != ring_.height() || BatchAttributesChanged()))
        DrawPending();
    if (W != ring_.width() || H != ring_.height())
        Resize(W, H);
    if (ring_.isNull()) {
        Changed();
        return;
    }
    if (pending_.empty()) {
        if (!StampIsCurrent())
            MakeStamp();
        if (!Batches()) {
            head_ = (head_ + 1) % W;
            DrawStep(v);
            DrawCornerBox(v);
            Changed();
            return;
        }
        batchCanvas_ = canvas_;
        batchLabel_ = LabelText;
        batchMax_ = MaxValue;
        batchMin_ = MinValue;
    }
    head_ = (head_ + 1) % W;
    pending_.push_back(v);
    if (int(pending_.size()) >= kMaxPending)
        DrawPending();
    Changed();
}

// Scroll (already done by moving head_): the oldest column became the new
// rightmost one, which gets the background and the bar.
void TStripChart::DrawStep(double v)
{
    const int H = ring_.height();
    const int right = Phys(ring_.width() - 1);
    canvas_.penWidth = 1;
    canvas_.fillRect(right, 0, right + 1, H);
    if (MaxValue != MinValue && !std::isnan(v)) {
        const double scale = H / (double(MaxValue) - double(MinValue));
        const double y0 = ZeroRow(H, MaxValue, MinValue);
        const double end = y0 - std::nearbyint(scale * v);
        canvas_.line(right, ClampRow(y0, H), right, ClampRow(end, H));
    }
    canvas_.fillRect(right, 0, right + 1, 1);
}

bool TStripChart::Batches() const
{
    // A batch's columns and the box must not meet: the box covers the oldest
    // columns, the batch the newest.
    const int h = BoxUnit();
    const long long box = std::max<long long>(4LL * h, stampLabelWidth_);
    return ring_.width() >= 256 && box + 2LL * kMaxPending < ring_.width();
}

bool TStripChart::BatchAttributesChanged() const
{
    return !SameLook(canvas_, batchCanvas_) || LabelText != batchLabel_ || MaxValue != batchMax_ ||
           MinValue != batchMin_;
}

void TStripChart::Settle() const
{
    // Charts are never made const objects; only the readers of the picture are.
    if (!pending_.empty())
        const_cast<TStripChart*>(this)->DrawPending();
}

const QImage& TStripChart::ValueCell(const QString& text)
{
    if (!SameLook(canvas_, cellsLook_)) {
        valueCells_.clear();
        cellsLook_ = canvas_;
    }
    for (const auto& [t, img] : valueCells_)
        if (t == text)
            return img;
    if (valueCells_.size() >= 64)
        valueCells_.clear();
    QImage cell = MakePicture(std::max(canvas_.textWidth(text), 1), std::max(canvas_.textHeight(text), 1),
                              canvas_.brushColor);
    Canvas c = canvas_;
    c.attach(&cell);
    c.brushStyle = BrushStyle::Solid;
    c.textOut(0, 0, text);
    valueCells_.emplace_back(text, std::move(cell));
    return valueCells_.back().second;
}

void TStripChart::DrawPending()
{
    if (pending_.empty())
        return;
    std::vector<double> values;
    values.swap(pending_);
    // Drawn with what they were added under; what the caller has set since
    // applies from the next step on.
    const Canvas now = canvas_;
    const QString label = LabelText;
    const std::int32_t max = MaxValue, min = MinValue;
    canvas_ = batchCanvas_;
    canvas_.attach(&ring_);
    LabelText = batchLabel_;
    MaxValue = batchMax_;
    MinValue = batchMin_;

    const int W = ring_.width(), H = ring_.height();
    const int n = int(values.size());
    const int last = head_;
    std::pair<int, int> penAfter{now.penX(), now.penY()};
    // The first pending step's rightmost column: Phys(W - 1) when head_ was last - n + 1.
    const int start = (last - n + W) % W;
    // The columns, side by side in a picture of their own, then into the ring.
    if (columns_.width() != n || columns_.height() != H)
        columns_ = QImage(n, H, kPictureFormat);
    {
        Canvas c = canvas_;
        c.attach(&columns_);
        c.penWidth = 1;
        const bool scaled = MaxValue != MinValue;
        const double scale = H / (double(MaxValue) - double(MinValue));
        const double y0 = ZeroRow(H, MaxValue, MinValue);
        for (int i = 0; i < n; ++i) {
            c.fillRect(i, 0, i + 1, H);
            if (scaled && !std::isnan(values[std::size_t(i)])) {
                const int end = ClampRow(y0 - std::nearbyint(scale * values[std::size_t(i)]), H);
                c.line(i, ClampRow(y0, H), i, end);
                // Where drawing the steps one by one would have left the pen.
                penAfter = {(start + i) % W, end};
            }
            c.fillRect(i, 0, i + 1, 1);
        }
    }
    const int part = std::min(n, W - start);
    CopyColumns(ring_, start, columns_, 0, part, H);
    CopyColumns(ring_, 0, columns_, part, n - part, H);

    // The older boxes: the last one covers all they drew but the rows of
    // their value text below its fill, and of those only what the newer
    // texts left of them.
    const int h = BoxUnit();
    if (!StampIsCurrent())
        MakeStamp();
    const int wo = std::min(W, std::max({4 * h, stampLabelWidth_, 0}));
    const int ho = std::min(H, std::max({2 * h, stampCell_, h + stampCell_, 0}));
    if (MaxValue != MinValue && n > 1 && wo > 0 && ho > 0) {
        const int cellH = canvas_.textHeight(QString());
        const int top = 2 * h, bottom = std::min(h + cellH, ho);
        if (top < bottom) {
            auto text = [](double v) { return QString::fromLatin1(FormatFixed(v, 5, 2).c_str()); };
            // Columns here count from the picture's left edge now.
            long long coverLeft = 4LL * h - canvas_.textWidth(text(values.back()));
            for (int i = n - 2; i >= 0; --i) {
                const int d = n - 1 - i;
                const QString t = text(values[std::size_t(i)]);
                const long long left = 4LL * h - canvas_.textWidth(t) - d;
                const long long from = std::max<long long>(left, 0);
                const long long to = std::min<long long>({4LL * h - d, wo - d, coverLeft});
                coverLeft = std::min(coverLeft, left);
                if (from >= to)
                    continue;
                const QImage& cell = ValueCell(t);
                for (int y = top; y < bottom; ++y) {
                    const int cy = y - h;
                    if (cy < 0 || cy >= cell.height())
                        continue;
                    const QRgb* src = reinterpret_cast<const QRgb*>(cell.constScanLine(cy));
                    QRgb* dst = reinterpret_cast<QRgb*>(ring_.scanLine(y));
                    for (long long x = from; x < to; ++x) {
                        const long long cx = x - left;
                        if (cx >= 0 && cx < cell.width())
                            dst[Phys(int(x))] = src[cx];
                    }
                }
            }
        }
    }
    DrawCornerBox(values.back());

    canvas_ = now;
    canvas_.attach(&ring_);
    canvas_.moveTo(penAfter.first, penAfter.second);
    LabelText = label;
    MaxValue = max;
    MinValue = min;
}

int TStripChart::BoxUnit() const
{
    // Keeps 4h within int; a box that large covers any picture anyway.
    return std::clamp(canvas_.fontPixelHeight, -(1 << 20), 1 << 20);
}

bool TStripChart::StampIsCurrent() const
{
    const Canvas& c = canvas_;
    return !stamp_.isNull() && stampLabel_ == LabelText && stampFamily_ == c.fontFamily &&
           stampPixelHeight_ == c.fontPixelHeight && stampPointSize_ == c.fontPointSize &&
           stampBold_ == c.fontBold && stampBrush_ == c.brushColor && stampInk_ == c.fontColor &&
           stampPictureW_ == ring_.width() && stampPictureH_ == ring_.height();
}

void TStripChart::MakeStamp()
{
    const Canvas& c = canvas_;
    stampLabel_ = LabelText;
    stampFamily_ = c.fontFamily;
    stampPixelHeight_ = c.fontPixelHeight;
    stampPointSize_ = c.fontPointSize;
    stampBold_ = c.fontBold;
    stampBrush_ = c.brushColor;
    stampInk_ = c.fontColor;
    stampPictureW_ = ring_.width();
    stampPictureH_ = ring_.height();
    const int h = BoxUnit();
    stampCell_ = c.textHeight(LabelText);
    stampLabelWidth_ = c.textWidth(LabelText);
    // Everything the box draws lies left of wo and above ho.
    const int wo = std::min(stampPictureW_, std::max({4 * h, stampLabelWidth_, 0}));
    const int ho = std::min(stampPictureH_, std::max({2 * h, stampCell_, h + stampCell_, 0}));
    stamp_ = MakePicture(std::max(wo, 1), std::max(ho, 1), c.brushColor);
    Canvas s = c;
    s.attach(&stamp_);
    s.brushStyle = BrushStyle::Solid;
    s.textOut(0, 0, LabelText);
}

void TStripChart::DrawCornerBox(double v)
{
    const int W = ring_.width(), H = ring_.height();
    const int h = BoxUnit();
    // The box's fill and the caption paint the same pixels on every call:
    // they come from a stamp made once.
    if (!StampIsCurrent())
        MakeStamp();
    const int labelW = stampLabelWidth_, cell = stampCell_;
    const int wo = std::min(W, std::max({4 * h, labelW, 0}));
    const int ho = std::min(H, std::max({2 * h, cell, h + cell, 0}));
    if (wo <= 0 || ho <= 0)
        return;
    if (scratch_.width() != wo || scratch_.height() != ho)
        scratch_ = QImage(wo, ho, kPictureFormat);
    const int first = std::min(wo, W - head_);
    CopyColumns(scratch_, 0, ring_, head_, first, ho);
    CopyColumns(scratch_, first, ring_, 0, wo - first, ho);

    // Only the box and the caption's cell come from the stamp; the rest of
    // the scratch keeps the chart's pixels.
    for (int y = 0; y < ho; ++y) {
        const int cols = std::min(wo, std::max(y < 2 * h ? 4 * h : 0, y < cell ? labelW : 0));
        if (cols > 0)
            std::memcpy(scratch_.scanLine(y), stamp_.constScanLine(y), std::size_t(cols) * sizeof(QRgb));
    }
    if (MaxValue != MinValue) {
        Canvas c = canvas_;
        c.attach(&scratch_);
        c.brushStyle = BrushStyle::Solid;
        const QString value = QString::fromLatin1(FormatFixed(v, 5, 2).c_str());
        c.textOut(4 * h - c.textWidth(value), h, value);
    }

    CopyColumns(ring_, head_, scratch_, 0, first, ho);
    CopyColumns(ring_, 0, scratch_, first, wo - first, ho);
}

void TStripChart::Render(QImage& out) const
{
    Settle();
    if (ring_.isNull()) {
        out = QImage();
        return;
    }
    if (out.width() != ring_.width() || out.height() != ring_.height() ||
        out.format() != kPictureFormat)
        out = QImage(ring_.width(), ring_.height(), kPictureFormat);
    const int first = ring_.width() - head_;
    CopyColumns(out, 0, ring_, head_, first, ring_.height());
    CopyColumns(out, first, ring_, 0, head_, ring_.height());
}

void TStripChart::Draw(QPainter& p, int x, int y) const
{
    Settle();
    if (ring_.isNull())
        return;
    const int first = ring_.width() - head_;
    p.drawImage(QPoint(x, y), ring_, QRect(head_, 0, first, ring_.height()));
    if (head_ > 0)
        p.drawImage(QPoint(x + first, y), ring_, QRect(0, 0, head_, ring_.height()));
}

}  // namespace kovra
