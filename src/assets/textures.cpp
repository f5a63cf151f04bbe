// The texture table.
#include "assets/textures.h"

#include "platform/window.h"
#include "platform/messages.h"
#include "assets/jpeg.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

static_assert(std::is_same<uint32_t, GLuint>::value, "texture names are GLuint");

uint32_t g_textures[kTextureCount];

const char* const kPicturePaths[kTextureCount] = {
    "data/pic/bakgrunn.jpg", "data/pic/skuta.jpg",  "data/pic/lyn.jpg",   "data/pic/skuta2.jpg",
    "data/pic/finish2.jpg",  "data/pic/skatt.jpg",  "data/pic/pirat.jpg", "data/pic/arm.jpg",
    "data/pic/hilsen.jpg",   "data/pic/finish.jpg",
};

// Decodes one picture and uploads it with mipmaps into a slot; a missing
// file ends the process with status 0, a picture libjpeg gives up on or one
// with other than 1 or 3 samples a pixel ends it with status 1. Called by
// InitDemo.
void LoadTexture(uint32_t* textures, const char* path, int slot) {
    if (!path)
        return;
    JpegOutcome outcome = JpegOutcome::kLoaded;
    Image* image = LoadJpegImage(path, &outcome);
    if (outcome == JpegOutcome::kMissingFile)
        std::exit(0); // the message has been shown; no tick runs
    if (!image)
        std::exit(1); // libjpeg's message is on stderr
    int components = image->rowBytes / image->width;
    if (components != 1 && components != 3) {
        char text[512];
        std::snprintf(text, sizeof text, "Unsupported picture (%d colour components): %s",
                      components, path);
        ShowErrorMessage(g_window, text);
        FreeJpegImage(image);
        std::exit(1);
    }
    GLenum format = components == 3 ? GL_RGB : GL_LUMINANCE;
    glGenTextures(1, &textures[slot]);
    glBindTexture(GL_TEXTURE_2D, textures[slot]);
    // Rows are packed, so any width is read exactly.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    // Row 0, the picture's top, becomes t = 0.
    gluBuild2DMipmaps(GL_TEXTURE_2D, components, image->width, image->height, format,
                      GL_UNSIGNED_BYTE, image->pixels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    FreeJpegImage(image);
}
