// Icon lamp: two pictures made once over the background as it stands, the
// bitmap icons/<caption>.bmp on it (IconOn) and its shape cut out in black
// (IconOff), kept in the gauge's place; the live layer copies one of them.
// Without a readable bitmap the gauge is drawn as a caption lamp.
#include "display/gauge_back.h"
#include "display/gauge_kind.h"

#include <QDir>
#include <QFileInfo>

namespace kovra {

namespace {

// The lamp's pictures are 0.3 S wide and keep the bitmap's proportions.
QSize LampSize(int s, const QImage& bitmap) {
    return {RoundI(s * 0.3), RoundI(double(bitmap.height()) / bitmap.width() * s * 0.3)};
}

// The icon's file: icons/<caption>.bmp in the working folder. A backslash in
// the caption separates folders, as it always has on Windows.
QString IconPath(const std::filesystem::path& workingFolder, const std::string& caption) {
    QString name = FromCp1251(caption);
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QDir(workingFolder).filePath(QStringLiteral("icons/") + name + QStringLiteral(".bmp"));
}

void Back(TGaugeBackPass& p, const TPribor& g, TGaugePlace& place) {
    place.IconOn = QImage();
    place.IconOff = QImage();
    const QString path = IconPath(p.workingFolder, g.Name);
    QImage bitmap;
    if (QFileInfo(path).isFile())
        bitmap.load(path, "BMP");
    if (bitmap.isNull()) {
        place.Kind = std::uint8_t(TGaugeKind::CaptionLamp);
        return;
    }
    const int x0 = place.ScaledX, y0 = place.ScaledY;
    const QSize size = LampSize(place.ScaledSize, bitmap);
    const int iw = size.width(), ih = size.height();
    if (iw > 0 && ih > 0 && !p.background.isNull()) {
        QImage icon = MakePicture(iw, ih, 0);
        Canvas(&icon).stretchDraw(0, 0, iw, ih, bitmap);
        const QImage mask = MakeMask(icon, 0);

        place.IconOff = MakePicture(iw, ih, 0);
        Canvas offCanvas(&place.IconOff);
        offCanvas.copyRect(0, 0, iw, ih, p.background, x0, y0);
        offCanvas.copyRect(0, 0, iw, ih, mask, 0, 0, CopyMode::And);

        place.IconOn = place.IconOff.copy();
        Canvas(&place.IconOn).copyRect(0, 0, iw, ih, icon, 0, 0, CopyMode::Or);
    }
}

void Live(TGaugeLivePass& p, const TPribor&, const TGaugePlace& place) {
    const QImage& icon = p.alarm ? place.IconOn : place.IconOff;
    if (!icon.isNull())
        p.canvas.copyRect(place.ScaledX, place.ScaledY, icon.width(), icon.height(), icon, 0, 0);
}

}  // namespace

const TGaugeKindDraw kIconLampDraw{Back, Live, /*picturesOnly=*/true};

}  // namespace kovra
