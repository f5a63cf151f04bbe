// The JPEG loader.
#include "assets/jpeg.h"

#include "platform/window.h"
#include "platform/messages.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <jerror.h>

namespace {

// libjpeg's standard error manager plus the place a fatal error jumps back
// to; the manager comes first so libjpeg's pointer to it is also a pointer
// to the whole trap.
struct JpegErrorTrap {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

// Everything one load owns. It lives in LoadJpegImage's frame, outside the
// function that sets the jump point, so a fatal error leaves it intact.
struct JpegLoad {
    jpeg_decompress_struct cinfo;
    JpegErrorTrap trap;
    std::FILE* file;
    Image* image;
};

} // namespace

// Prints libjpeg's message for a fatal error the way the standard manager
// does, then jumps back to the load instead of ending the process; installed
// as error_exit by LoadJpegImage.
[[noreturn]] static void TrapJpegError(j_common_ptr cinfo) {
    (*cinfo->err->output_message)(cinfo);
    std::longjmp(reinterpret_cast<JpegErrorTrap*>(cinfo->err)->jump, 1);
}

// Reports a failed allocation as libjpeg's own out-of-memory error, so it
// takes the same road as a bad file; called by LoadJpegImage and
// DecodeJpegRows.
static void FailOutOfMemory(j_common_ptr cinfo, int where) {
    cinfo->err->msg_code = JERR_OUT_OF_MEMORY;
    cinfo->err->msg_parm.i[0] = where;
    (*cinfo->err->error_exit)(cinfo);
}

// Creates the decompressor and decodes the picture into a new record; false
// when a fatal error jumped back here. Called by LoadJpegImage.
static bool DecodeUnderTrap(JpegLoad* load) {
    if (setjmp(load->trap.jump))
        return false;
    jpeg_create_decompress(&load->cinfo);
    jpeg_stdio_src(&load->cinfo, load->file);
    load->image = static_cast<Image*>(std::calloc(1, sizeof(Image)));
    if (!load->image)
        FailOutOfMemory(reinterpret_cast<j_common_ptr>(&load->cinfo), 1);
    DecodeJpegRows(&load->cinfo, load->image);
    return true;
}

// Opens and decodes one picture; called by LoadTexture.
Image* LoadJpegImage(const char* path, JpegOutcome* outcome) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        ShowErrorMessage(g_window, "Unable to load JPG File!");
        if (outcome)
            *outcome = JpegOutcome::kMissingFile;
        return nullptr;
    }
    Image* image = DecodeJpegFile(file, outcome);
    std::fclose(file);
    return image;
}

// Decodes the picture in an open file; called by LoadJpegImage and the
// loader's fuzz target.
Image* DecodeJpegFile(std::FILE* file, JpegOutcome* outcome) {
    JpegLoad load = {};
    load.file = file;
    // Warnings keep the standard behaviour: the first one of the picture
    // is printed and decoding goes on.
    load.cinfo.err = jpeg_std_error(&load.trap.manager);
    load.trap.manager.error_exit = TrapJpegError;
    bool decoded = DecodeUnderTrap(&load);
    jpeg_destroy_decompress(&load.cinfo);
    if (!decoded) {
        FreeJpegImage(load.image);
        load.image = nullptr;
    }
    if (outcome)
        *outcome = decoded ? JpegOutcome::kLoaded : JpegOutcome::kBadData;
    return load.image;
}

// Decodes the picture rows into `image`; called by LoadJpegImage.
void DecodeJpegRows(jpeg_decompress_struct* cinfo, Image* image) {
    j_common_ptr common = reinterpret_cast<j_common_ptr>(cinfo);
    jpeg_read_header(cinfo, TRUE);
    jpeg_start_decompress(cinfo);

    // libjpeg caps each side at 65500, so this only trips where size_t or
    // the row length cannot hold the picture.
    int32_t rowBytes = 0;
    size_t pixelBytes = 0;
    if (__builtin_mul_overflow(cinfo->output_width, cinfo->output_components, &rowBytes) ||
        __builtin_mul_overflow(size_t(rowBytes), size_t(cinfo->output_height), &pixelBytes))
        FailOutOfMemory(common, 2);
    image->rowBytes = rowBytes;
    image->width = int32_t(cinfo->output_width);
    image->height = int32_t(cinfo->output_height);
    image->pixels = static_cast<uint8_t*>(std::malloc(pixelBytes));
    if (!image->pixels)
        FailOutOfMemory(common, 3);

    // The row table comes from libjpeg's per-picture pool: it is freed by
    // jpeg_finish_decompress, or by jpeg_destroy_decompress after a fatal
    // error, and a failed allocation is libjpeg's own out-of-memory error.
    JSAMPARRAY rows = static_cast<JSAMPARRAY>(
        (*cinfo->mem->alloc_small)(common, JPOOL_IMAGE, cinfo->output_height * sizeof(JSAMPROW)));
    for (JDIMENSION i = 0; i < cinfo->output_height; ++i)
        rows[i] = image->pixels + size_t(i) * size_t(rowBytes);
    JDIMENSION n = 0;
    while (cinfo->output_scanline < cinfo->output_height)
        n += jpeg_read_scanlines(cinfo, rows + n, cinfo->output_height - n);
    jpeg_finish_decompress(cinfo);
}

// Frees a picture; called by LoadTexture and LoadJpegImage.
void FreeJpegImage(Image* image) {
    if (!image)
        return;
    std::free(image->pixels);
    std::free(image);
}
