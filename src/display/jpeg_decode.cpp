#include "display/jpeg_decode.h"

#include "display/canvas.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

namespace kovra {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return;
// the default one ends the process. Ours jumps back to the decoder.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool truncated;
};

[[noreturn]] void OnError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

// Warnings are kept quiet. Data that ends early is "decoded" by libjpeg as a
// grey remainder: that half picture is treated as a failure, so a file still
// being copied does not become the panel's background.
void OnMessage(j_common_ptr cinfo, int level) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level < 0 && err->pub.msg_code == JWRN_JPEG_EOF)
        err->truncated = true;
}

void OnOutput(j_common_ptr) {}

// Each step that may longjmp has its own frame holding no C++ objects, so the
// jump skips no destructors and leaves no local in an indeterminate state.
bool Create(j_decompress_ptr cinfo, ErrorManager* err) {
    if (setjmp(err->jump))
        return false;
    jpeg_create_decompress(cinfo);
    return true;
}

bool ReadHeader(j_decompress_ptr cinfo, ErrorManager* err, const unsigned char* data,
                unsigned long size) {
    if (setjmp(err->jump))
        return false;
    jpeg_mem_src(cinfo, data, size);
    jpeg_read_header(cinfo, TRUE);
    return true;
}

bool Start(j_decompress_ptr cinfo, ErrorManager* err) {
    if (setjmp(err->jump))
        return false;
    jpeg_start_decompress(cinfo);
    return true;
}

bool ReadRows(j_decompress_ptr cinfo, ErrorManager* err, unsigned char* first,
              qsizetype bytesPerLine, unsigned char* cmykRow) {
    if (setjmp(err->jump))
        return false;
    while (cinfo->output_scanline < cinfo->output_height) {
        unsigned char* dest = first + bytesPerLine * qsizetype(cinfo->output_scanline);
        JSAMPROW row = cmykRow ? cmykRow : dest;
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1)
            return false;
        if (cmykRow) {
            // Adobe's writers store CMYK inverted; others store ink amounts.
            const bool inverted = cinfo->saw_Adobe_marker;
            auto* out = reinterpret_cast<QRgb*>(dest);
            for (JDIMENSION x = 0; x < cinfo->output_width; ++x) {
                int c = cmykRow[4 * x], m = cmykRow[4 * x + 1], y = cmykRow[4 * x + 2],
                    k = cmykRow[4 * x + 3];
                if (!inverted) {
                    c = 255 - c; m = 255 - m; y = 255 - y; k = 255 - k;
                }
                out[x] = qRgb(c * k / 255, m * k / 255, y * k / 255);
            }
        }
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& data) {
    if (data.isEmpty())
        return {};
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnError;
    err.pub.emit_message = OnMessage;
    err.pub.output_message = OnOutput;
    if (!Create(&cinfo, &err)) {
        jpeg_destroy_decompress(&cinfo);
        return {};
    }

    QImage image;
    QByteArray cmykRow;
    bool ok = ReadHeader(&cinfo, &err, reinterpret_cast<const unsigned char*>(data.constData()),
                         static_cast<unsigned long>(data.size()));
    if (ok) {
        const qint64 pixels = qint64(cinfo.image_width) * qint64(cinfo.image_height);
        ok = pixels > 0 && pixels <= kMaxJpegPixels;
    }
    bool cmyk = false;
    if (ok) {
        cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
        if (cmyk)
            cinfo.out_color_space = JCS_CMYK;
        else
            cinfo.out_color_space =
                Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB;  // = RGB32 in memory
        ok = Start(&cinfo, &err);
    }
    if (ok) {
        image = QImage(int(cinfo.output_width), int(cinfo.output_height), kPictureFormat);
        ok = !image.isNull() && (!cmyk || cinfo.output_components == 4);
    }
    if (ok) {
        if (cmyk)
            cmykRow.resize(qsizetype(cinfo.output_width) * 4);
        ok = ReadRows(&cinfo, &err, image.bits(), image.bytesPerLine(),
                      cmyk ? reinterpret_cast<unsigned char*>(cmykRow.data()) : nullptr);
    }
    jpeg_destroy_decompress(&cinfo);
    if (!ok || err.truncated)
        return {};
    return image;
}

QImage DecodeJpegFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Larger than any picture kMaxJpegPixels allows, even uncompressed.
    if (file.size() > kMaxJpegPixels * 4)
        return {};
    return DecodeJpeg(file.readAll());
}

}  // namespace kovra
