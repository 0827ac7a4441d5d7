// An image control: shows its picture unscaled at its top-left corner.
#pragma once

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

namespace kovra {

class ImageView : public QWidget {
public:
    explicit ImageView(QWidget* parent = nullptr) : QWidget(parent)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    QImage& picture() { return picture_; }
    const QImage& picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* e) override
    {
        QPainter p(this);
        const QRect r = e->rect();
        p.fillRect(r, palette().window());
        p.drawImage(r.topLeft(), picture_, r);
    }

private:
    QImage picture_;
};

}  // namespace kovra
