// What the web's drawing path and its virtual screen share: WebGL 1 shader
// programs whose attributes are the same two, position and texture.
#pragma once

#include <cstdint>

constexpr uint32_t kPositionAttribute = 0; // vec3 (or vec2) position
constexpr uint32_t kTextureAttribute = 1;  // vec2 texture coordinates

// Compiles and links a program from the two shaders' source, with the
// attributes at the places above; 0, with the reason on standard error, when
// the GL refuses it. Called by PrepareDrawing and CreateVirtualScreen.
uint32_t CompileProgram(const char* vertexSource, const char* fragmentSource);
