// An image control: shows its picture unscaled at its top-left corner.
//
// The picture is its own, or one its owner keeps elsewhere (showPicture), so
// that a picture composed off-screen is painted from where it was composed,
// without a copy. Outside the picture the control shows its window colour.
#pragma once

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QWidget>

#include <functional>

namespace kovra {

class ImageView : public QWidget {
public:
    explicit ImageView(QWidget* parent = nullptr) : QWidget(parent)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    // The control's own picture.
    QImage& picture() { return picture_; }
    const QImage& picture() const { return picture_; }

    // Shows *source instead of the own picture (null: the own one again).
    // source must outlive the control or be replaced first.
    void showPicture(const QImage* source)
    {
        source_ = source;
        update();
    }
    // What a paint puts on the screen.
    const QImage& shownPicture() const { return source_ ? *source_ : picture_; }

    // Runs at the start of every paint, to bring the shown picture up to
    // date only when it is about to be seen; returns the part of the picture
    // it changed. What of that this paint does not cover is repainted next,
    // so the screen never keeps a part of the picture before.
    std::function<QRegion()> BeforePaint;

protected:
    void paintEvent(QPaintEvent* e) override
    {
        const QRegion painting = e->region();
        if (BeforePaint) {
            const QRegion unpainted = BeforePaint() - painting;
            if (!unpainted.isEmpty())
                update(unpainted);
        }
        const QImage& shown = shownPicture();
        QPainter p(this);
        // Rect by rect, each under a clip of its own: a frame that changed in
        // a few small boxes is painted in those boxes, never in the one box
        // around them all; and under one rect the painter copies rows, where
        // under the paint's whole region it blends span by span (handing a
        // tall box's spans to a thread pool).
        const QRect picture(QPoint(0, 0), shown.size());
        for (const QRect& r : painting) {
            const QRect onPicture = r & picture;
            if (onPicture.isEmpty())
                continue;
            p.setClipRect(onPicture);
            p.drawImage(onPicture.topLeft(), shown, onPicture);
        }
        p.setClipping(false);
        // Each pixel is written once: the window colour only beside the picture.
        const QRegion rest = painting - QRegion(picture);
        for (const QRect& q : rest)
            p.fillRect(q, palette().window());
    }

private:
    QImage picture_;
    const QImage* source_ = nullptr;
};

}  // namespace kovra
