// The texture table: the ten pictures the scenes draw with.
#pragma once

#include <cstdint>

constexpr int kTextureCount = 10;

extern uint32_t g_textures[kTextureCount];             // GL texture names by slot; 0 until loaded
extern const char* const kPicturePaths[kTextureCount]; // the pictures, in slot order

// Decodes the picture at `path` and uploads it with mipmaps into
// textures[slot]; a null path does nothing. A picture that can't be loaded
// ends the process with status 1 after its message; a quit from outside
// (SIGINT, SIGTERM) abandons the load and leaves the slot empty. Called by
// InitDemo for slots 0 to 9 in order.
void LoadTexture(uint32_t* textures, const char* path, int slot);
