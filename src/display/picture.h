// The picture handle the model holds for an icon lamp's two ready-made images.
#pragma once

#include <QImage>

namespace kovra {

struct TPicture {
    QImage image;
};

}  // namespace kovra
