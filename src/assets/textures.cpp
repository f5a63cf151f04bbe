// The texture table.
#include "assets/textures.h"

#include "platform/drawing.h"
#include "platform/messages.h"
#include "assets/jpeg.h"

#include <cstdio>
#include <cstdlib>

uint32_t g_textures[kTextureCount];

const char* const kPicturePaths[kTextureCount] = {
    "data/pic/bakgrunn.jpg", "data/pic/skuta.jpg",  "data/pic/lyn.jpg",   "data/pic/skuta2.jpg",
    "data/pic/finish2.jpg",  "data/pic/skatt.jpg",  "data/pic/pirat.jpg", "data/pic/arm.jpg",
    "data/pic/hilsen.jpg",   "data/pic/finish.jpg",
};

// GL_MAX_TEXTURE_SIZE, asked with the first picture that has a GL to ask;
// 0 until then.
static int s_maxTextureSide;

// The limits a picture loads under: the demo's own, each side no larger
// than the GL takes (so the mipmap builder never shrinks a picture to fit),
// and a quit from outside abandons the load. Called by LoadTexture.
static JpegLimits PictureLimits() {
    if (s_maxTextureSide <= 0)
        s_maxTextureSide = MaxTextureSide();
    JpegLimits limits;
    if (s_maxTextureSide > 0 && uint32_t(s_maxTextureSide) < limits.maxSide)
        limits.maxSide = uint32_t(s_maxTextureSide);
    limits.shouldStop = QuitRequested;
    return limits;
}

// Decodes one picture and uploads it with mipmaps into a slot. A picture
// that can't be had ends the process with status 1 after its message: no
// regular file there, libjpeg gave up, it is over the limits, or it has
// other than 1 or 3 samples a pixel. A quit from outside abandons the load
// and returns with the slot empty. Called by InitDemo.
void LoadTexture(uint32_t* textures, const char* path, int slot) {
    if (!path)
        return;
    JpegOutcome outcome = JpegOutcome::kLoaded;
    Image* image = LoadJpegImage(path, &outcome, PictureLimits());
    if (outcome == JpegOutcome::kStopped)
        return; // the main loop takes the quit before any tick
    if (!image)
        std::exit(1); // the user has been told; no tick runs
    int components = image->rowBytes / image->width;
    if (components != 1 && components != 3) {
        char text[512];
        std::snprintf(text, sizeof text, "Unsupported picture (%d colour components): %s",
                      components, path);
        ShowErrorMessage(text);
        FreeJpegImage(image);
        std::exit(1);
    }
    textures[slot] = CreatePictureTexture(image->pixels, image->width, image->height, components);
    FreeJpegImage(image);
}
