// Helpers for the picture tests.
#include "picture_files.h"

#include "app/app.h"
#include "platform/renderer.h"
#include "platform/screen.h"
#include "platform/window.h"

#include <cstdio>
#include <cstdlib>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

// A progressive script that gives every coefficient of every component
// scans of its own: all coefficients at half precision, then their last bit.
static std::vector<jpeg_scan_info> ScanPerCoefficientScript(int components) {
    std::vector<jpeg_scan_info> scans;
    for (int bit = 1; bit >= 0; --bit) {
        jpeg_scan_info dc = {components, {0, 1, 2, 3}, 0, 0, 1 - bit, bit};
        scans.push_back(dc);
        for (int c = 0; c < components; ++c)
            for (int k = 1; k < DCTSIZE2; ++k)
                scans.push_back({1, {c}, k, k, 1 - bit, bit});
    }
    return scans;
}

bool WriteJpegFile(const std::string& path, const Pixels& picture, int quality, JpegLayout layout) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = JDIMENSION(picture.width);
    cinfo.image_height = JDIMENSION(picture.height);
    cinfo.input_components = picture.components;
    cinfo.in_color_space = picture.components == 1   ? JCS_GRAYSCALE
                           : picture.components == 4 ? JCS_CMYK
                                                     : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    std::vector<jpeg_scan_info> script;
    if (layout == JpegLayout::kProgressive)
        jpeg_simple_progression(&cinfo);
    if (layout == JpegLayout::kScanPerCoefficient) {
        script = ScanPerCoefficientScript(picture.components);
        cinfo.scan_info = script.data();
        cinfo.num_scans = int(script.size());
    }
    jpeg_start_compress(&cinfo, TRUE);
    const size_t rowBytes = size_t(picture.width) * size_t(picture.components);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(picture.bytes.data() + cinfo.next_scanline * rowBytes);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(file) == 0;
}

bool SetFrameSize(std::vector<uint8_t>& bytes, int width, int height) {
    for (size_t i = 0; i + 9 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && (bytes[i + 1] == 0xC0 || bytes[i + 1] == 0xC2)) {
            bytes[i + 5] = uint8_t(height >> 8);
            bytes[i + 6] = uint8_t(height);
            bytes[i + 7] = uint8_t(width >> 8);
            bytes[i + 8] = uint8_t(width);
            return true;
        }
    return false;
}

Pixels DecodeStraight(const std::string& path) {
    Pixels picture;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return picture;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    picture.width = int(cinfo.output_width);
    picture.height = int(cinfo.output_height);
    picture.components = cinfo.output_components;
    const size_t rowBytes = size_t(picture.width) * size_t(picture.components);
    picture.bytes.resize(rowBytes * size_t(picture.height));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = picture.bytes.data() + cinfo.output_scanline * rowBytes;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return picture;
}

Pixels MakePicture(int width, int height, int components,
                   const std::function<int(int, int, int)>& sample) {
    Pixels picture;
    picture.width = width;
    picture.height = height;
    picture.components = components;
    picture.bytes.reserve(size_t(width) * size_t(height) * size_t(components));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c)
                picture.bytes.push_back(uint8_t(sample(x, y, c)));
    return picture;
}

bool StartRendererForTests() {
    if (g_glContext)
        return true;
    if (!std::getenv("DISPLAY"))
        return false;
    SDL_Window* window =
        CreateMainWindow(kWindowTitle, kScreenWidth, kScreenHeight, 0, g_fullscreen);
    if (!window)
        return false;
    g_window = window;
    InitRenderer(kScreenWidth, kScreenHeight);
    return g_glContext != nullptr;
}
