// The texture table.
#include "assets/textures.h"

uint32_t g_textures[kTextureCount];

const char* const kPicturePaths[kTextureCount] = {
    "data/pic/bakgrunn.jpg", "data/pic/skuta.jpg",  "data/pic/lyn.jpg",   "data/pic/skuta2.jpg",
    "data/pic/finish2.jpg",  "data/pic/skatt.jpg",  "data/pic/pirat.jpg", "data/pic/arm.jpg",
    "data/pic/hilsen.jpg",   "data/pic/finish.jpg",
};

// Loads one picture into a slot; the picture loader is not built yet, so
// this leaves the slot empty. Called by InitDemo.
void LoadTexture(uint32_t* textures, const char* path, int slot) {
    (void)textures;
    (void)path;
    (void)slot;
}
