#include "display/jpeg_decode.h"

#include "display/canvas.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace kovra {
namespace {

// Encodes w x h pixels of `components` bytes each (RGB, grey or CMYK) with
// libjpeg's own compressor.
QByteArray Encode(int w, int h, J_COLOR_SPACE space, int components,
                  const std::vector<unsigned char>& pixels, int quality = 100) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = JDIMENSION(w);
    cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(pixels.data()) +
                       size_t(cinfo.next_scanline) * size_t(w) * size_t(components);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray data(reinterpret_cast<const char*>(out), qsizetype(size));
    std::free(out);
    return data;
}

// 32 x 16: the left half red, the right half blue.
QByteArray TwoColourJpeg() {
    std::vector<unsigned char> px;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            const unsigned char on = 255, off = 0;
            const bool left = x < 16;
            px.insert(px.end(), {left ? on : off, off, left ? off : on});
        }
    return Encode(32, 16, JCS_RGB, 3, px);
}

void ExpectNear(QRgb actual, int r, int g, int b) {
    EXPECT_NEAR(qRed(actual), r, 8);
    EXPECT_NEAR(qGreen(actual), g, 8);
    EXPECT_NEAR(qBlue(actual), b, 8);
    EXPECT_EQ(qAlpha(actual), 255);
}

TEST(JpegDecode, ColourPictureKeepsSizeAndColours) {
    const QImage img = DecodeJpeg(TwoColourJpeg());
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.size(), QSize(32, 16));
    EXPECT_EQ(img.format(), kPictureFormat);
    ExpectNear(img.pixel(4, 8), 255, 0, 0);
    ExpectNear(img.pixel(28, 8), 0, 0, 255);
}

TEST(JpegDecode, GreyAndAdobeCmykPicturesBecomeRgb) {
    const QImage grey = DecodeJpeg(Encode(8, 8, JCS_GRAYSCALE, 1, std::vector<unsigned char>(64, 100)));
    ASSERT_FALSE(grey.isNull());
    ExpectNear(grey.pixel(3, 3), 100, 100, 100);

    // Photoshop's CMYK: inverted ink values behind an Adobe marker (which
    // libjpeg writes for CMYK). Pure red is no cyan and full magenta and yellow.
    std::vector<unsigned char> px;
    for (int i = 0; i < 64; ++i)
        px.insert(px.end(), {255, 0, 0, 255});
    const QImage cmyk = DecodeJpeg(Encode(8, 8, JCS_CMYK, 4, px));
    ASSERT_FALSE(cmyk.isNull());
    ExpectNear(cmyk.pixel(3, 3), 255, 0, 0);
}

TEST(JpegDecode, DamagedDataGivesNullPicture) {
    const QByteArray good = TwoColourJpeg();
    QByteArray hugeHeader = good;
    // SOF0 holds height then width, big-endian, three bytes after its length.
    const qsizetype sof = hugeHeader.indexOf("\xFF\xC0");
    ASSERT_GE(sof, 0);
    for (int i = 5; i < 9; ++i)
        hugeHeader[sof + i] = char(0xFF);
    QByteArray zeroWidth = good;
    zeroWidth[sof + 7] = 0;
    zeroWidth[sof + 8] = 0;

    const struct {
        const char* name;
        QByteArray data;
    } cases[] = {
        {"empty", QByteArray()},
        {"not a jpeg", QByteArray("GIF89a this is no JPEG at all")},
        {"header only", good.left(good.indexOf("\xFF\xDA"))},
        {"cut mid-scan", good.left(good.size() * 2 / 3)},
        {"65535 x 65535", hugeHeader},
        {"zero width", zeroWidth},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(DecodeJpeg(c.data).isNull()) << c.name;
}

TEST(JpegDecode, FileVariantReadsFilesAndRefusesMissingOnes) {
    QTemporaryDir dir;
    const QString path = dir.filePath("back.jpg");
    EXPECT_TRUE(DecodeJpegFile(path).isNull());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(TwoColourJpeg());
    f.close();
    EXPECT_EQ(DecodeJpegFile(path).size(), QSize(32, 16));
}

}  // namespace
}  // namespace kovra
