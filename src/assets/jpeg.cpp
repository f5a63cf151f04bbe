// The JPEG loader.
#include "assets/jpeg.h"

#include "platform/files.h"
#include "platform/messages.h"

#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <jerror.h>

namespace {

// The loader's own reasons to give up on a picture, as libjpeg message codes
// after libjpeg's own, so they travel through error_exit like its errors.
enum ReasonCode { kReasonTooLarge = 1000, kReasonTooManyScans, kReasonStopped };
const char* const kReasonTexts[] = {
    "Picture too large (%d x %d, at most %d a side)",
    "Picture has too many scans (at most %d)",
    "Picture load stopped",
};
const JpegOutcome kReasonOutcomes[] = {JpegOutcome::kTooLarge, JpegOutcome::kTooManyScans,
                                       JpegOutcome::kStopped};

// How often a load asks whether to stop.
constexpr std::chrono::milliseconds kStopPollInterval(20);

// libjpeg's standard error manager plus the place a fatal error jumps back
// to, how the load ended and the text of why: libjpeg's message or the
// loader's own reason. The manager comes first so libjpeg's pointer to it
// is also a pointer to the trap.
struct JpegErrorTrap {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    JpegOutcome outcome;
    char reason[JMSG_LENGTH_MAX];
};

// libjpeg's progress hook plus what it checks; the hook comes first so
// libjpeg's pointer to it is also a pointer to the monitor.
struct JpegMonitor {
    jpeg_progress_mgr manager;
    const JpegLimits* limits;
    std::chrono::steady_clock::time_point nextPoll; // zero: the first call asks at once
};

// Everything one load owns. It lives in DecodePicture's frame, outside the
// function that sets the jump point, so a fatal error leaves it intact.
struct JpegLoad {
    jpeg_decompress_struct cinfo;
    JpegErrorTrap trap;
    JpegMonitor monitor;
    std::FILE* file;
    Image* image;
};

} // namespace

// Gives up on the picture for one of the loader's own reasons, through
// error_exit; called by DecodeJpegRows and MonitorJpegProgress.
static void Refuse(j_common_ptr cinfo, ReasonCode code, int a = 0, int b = 0, int c = 0) {
    cinfo->err->msg_code = code;
    cinfo->err->msg_parm.i[0] = a;
    cinfo->err->msg_parm.i[1] = b;
    cinfo->err->msg_parm.i[2] = c;
    (*cinfo->err->error_exit)(cinfo);
}

// Jumps back to the load with its outcome, the text of the fatal libjpeg
// error or of the loader's own reason kept in the trap for the loader to
// show with the file's name. Installed as error_exit by DecodePicture.
[[noreturn]] static void TrapJpegError(j_common_ptr cinfo) {
    JpegErrorTrap* trap = reinterpret_cast<JpegErrorTrap*>(cinfo->err);
    int code = cinfo->err->msg_code;
    (*cinfo->err->format_message)(cinfo, trap->reason);
    if (code >= kReasonTooLarge && code <= kReasonStopped)
        trap->outcome = kReasonOutcomes[code - kReasonTooLarge];
    else
        trap->outcome = JpegOutcome::kBadData;
    std::longjmp(trap->jump, 1);
}

// Reports a failed allocation as libjpeg's own out-of-memory error, so it
// takes the same road as a bad file; called by DecodeUnderTrap and
// DecodeJpegRows.
static void FailOutOfMemory(j_common_ptr cinfo, int where) {
    cinfo->err->msg_code = JERR_OUT_OF_MEMORY;
    cinfo->err->msg_parm.i[0] = where;
    (*cinfo->err->error_exit)(cinfo);
}

// libjpeg's progress hook, called at each scan and each band of rows:
// refuses a picture past the scan limit, and abandons the load when asked
// to stop (asked at most every kStopPollInterval of the steady clock).
// Installed by DecodeUnderTrap.
static void MonitorJpegProgress(j_common_ptr cinfo) {
    JpegMonitor* monitor = reinterpret_cast<JpegMonitor*>(cinfo->progress);
    const JpegLimits& limits = *monitor->limits;
    int scans = reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number;
    if (scans > limits.maxScans)
        Refuse(cinfo, kReasonTooManyScans, limits.maxScans);
    if (!limits.shouldStop)
        return;
    auto now = std::chrono::steady_clock::now();
    if (now < monitor->nextPoll)
        return;
    monitor->nextPoll = now + kStopPollInterval;
    if (limits.shouldStop())
        Refuse(cinfo, kReasonStopped);
}

// Creates the decompressor with the limits in force and decodes the
// picture into a new record; the outcome, which is not kLoaded when an
// error or a refusal jumped back here. Called by DecodePicture.
static JpegOutcome DecodeUnderTrap(JpegLoad* load, const JpegLimits& limits) {
    if (setjmp(load->trap.jump))
        return load->trap.outcome;
    jpeg_create_decompress(&load->cinfo);
    load->cinfo.mem->max_memory_to_use = long(limits.maxMemory);
    load->monitor.manager.progress_monitor = MonitorJpegProgress;
    load->monitor.limits = &limits;
    load->cinfo.progress = &load->monitor.manager;
    jpeg_stdio_src(&load->cinfo, load->file);
    load->image = static_cast<Image*>(std::calloc(1, sizeof(Image)));
    if (!load->image)
        FailOutOfMemory(reinterpret_cast<j_common_ptr>(&load->cinfo), 1);
    DecodeJpegRows(&load->cinfo, load->image, limits.maxSide);
    return JpegOutcome::kLoaded;
}

// Decodes the picture in an open file under the limits; `reason`, when
// given, receives the text of a refusal. Called by DecodeJpegFile and
// LoadJpegImage.
static Image* DecodePicture(std::FILE* file, JpegOutcome* outcome, const JpegLimits& limits,
                            char (*reason)[JMSG_LENGTH_MAX]) {
    JpegLoad load = {};
    load.file = file;
    // Warnings keep the standard behaviour: the first one of the picture
    // is printed and decoding goes on.
    load.cinfo.err = jpeg_std_error(&load.trap.manager);
    load.trap.manager.error_exit = TrapJpegError;
    load.trap.manager.addon_message_table = kReasonTexts;
    load.trap.manager.first_addon_message = kReasonTooLarge;
    load.trap.manager.last_addon_message = kReasonStopped;
    JpegOutcome result = DecodeUnderTrap(&load, limits);
    jpeg_destroy_decompress(&load.cinfo);
    if (result != JpegOutcome::kLoaded) {
        FreeJpegImage(load.image);
        load.image = nullptr;
    }
    if (reason)
        std::snprintf(*reason, sizeof *reason, "%s", load.trap.reason);
    if (outcome)
        *outcome = result;
    return load.image;
}

// Opens and decodes one picture, telling the user why when it cannot;
// called by LoadTexture.
Image* LoadJpegImage(const char* path, JpegOutcome* outcome, const JpegLimits& limits) {
    std::FILE* file = OpenDataFile(path);
    if (!file) {
        ShowErrorMessage("Unable to load JPG File!");
        if (outcome)
            *outcome = JpegOutcome::kMissingFile;
        return nullptr;
    }
    JpegOutcome result = JpegOutcome::kLoaded;
    char reason[JMSG_LENGTH_MAX] = "";
    Image* image = DecodePicture(file, &result, limits, &reason);
    std::fclose(file);
    if (result != JpegOutcome::kLoaded && result != JpegOutcome::kStopped) {
        char text[JMSG_LENGTH_MAX + 4096];
        std::snprintf(text, sizeof text, "%s: %s", reason, path);
        ShowErrorMessage(text);
    }
    if (outcome)
        *outcome = result;
    return image;
}

// Decodes the picture in an open file; called by the loader's fuzz target
// and tests.
Image* DecodeJpegFile(std::FILE* file, JpegOutcome* outcome, const JpegLimits& limits) {
    return DecodePicture(file, outcome, limits, nullptr);
}

// Decodes the picture rows into `image`; called by DecodeUnderTrap.
void DecodeJpegRows(jpeg_decompress_struct* cinfo, Image* image, uint32_t maxSide) {
    j_common_ptr common = reinterpret_cast<j_common_ptr>(cinfo);
    jpeg_read_header(cinfo, TRUE);
    // The demo's own limit, before libjpeg or this loader allocates
    // anything for the picture.
    if (cinfo->image_width > maxSide || cinfo->image_height > maxSide)
        Refuse(common, kReasonTooLarge, int(cinfo->image_width), int(cinfo->image_height),
               int(maxSide));
    jpeg_start_decompress(cinfo);

    // Sides within the limit can't overflow these; the check stays for
    // callers with larger limits.
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

// Frees a picture; called by LoadTexture and DecodePicture.
void FreeJpegImage(Image* image) {
    if (!image)
        return;
    std::free(image->pixels);
    std::free(image);
}
