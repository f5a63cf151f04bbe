// The web's drawing path: WebGL 1 (OpenGL ES 2.0), which has no fixed
// function. The matrices and their stacks are kept and multiplied here in
// single precision as OpenGL 1.1 does; one shader draws each quad's texel
// times the current colour. Blending, the depth test, the clear colour and
// the pictures' filters and wrap are WebGL's own state, with the same
// meaning. Lighting and texture generation are never on while the scenes
// draw, and texturing never off, so those switches change nothing here.
#include "platform/drawing.h"

#include "platform/picture_scale.h"
#include "platform/webgl.h"

#include <GLES2/gl2.h>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <vector>

// A 4 x 4 matrix, column by column as OpenGL keeps it.
struct Matrix {
    float m[16];
};

constexpr Matrix kIdentity = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
constexpr int kModelViewDepth = 32; // as deep as OpenGL's model-view stack
constexpr int kProjectionDepth = 2; // as deep as OpenGL promises for projections
constexpr int kMostCorners = 24;    // the cube's

// The matrix stacks, the current colour and, while the warm-up runs, the
// state it saved.
struct DrawingState {
    Matrix modelView[kModelViewDepth] = {kIdentity};
    Matrix projection[kProjectionDepth] = {kIdentity};
    int modelViewTop = 0, projectionTop = 0;
    float colour[4] = {1, 1, 1, 1};
    // WebGL's own state, read at a save.
    GLboolean blending = GL_FALSE, depthTest = GL_FALSE;
    GLint blendSource = GL_ONE, blendDestination = GL_ZERO, texture = 0;
    GLfloat clearColour[4] = {0, 0, 0, 0};
};

static DrawingState s_state;
static DrawingState s_saved;
static GLuint s_program;
static GLint s_matrixUniform, s_colourUniform;
static GLuint s_cornerBuffer, s_indexBuffer;

static const char* const kQuadVertexShader = R"(
attribute vec3 position;
attribute vec2 texture;
uniform mat4 matrix;
varying vec2 at;
void main() {
    at = texture;
    gl_Position = matrix * vec4(position, 1.0);
})";

// The texel times the colour, as OpenGL's modulate.
static const char* const kQuadFragmentShader = R"(
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif
uniform sampler2D picture;
uniform vec4 colour;
varying vec2 at;
void main() {
    gl_FragColor = texture2D(picture, at) * colour;
})";

// Compiles one shader; 0, with the GL's log on standard error, when it
// fails. Called by CompileProgram.
static GLuint CompileShader(GLenum kind, const char* source) {
    const GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled)
        return shader;
    char log[512] = "";
    glGetShaderInfoLog(shader, sizeof log, nullptr, log);
    std::fprintf(stderr, "A shader does not compile: %s\n", log);
    glDeleteShader(shader);
    return 0;
}

// Builds a program with the shared attribute places; called by
// PrepareDrawing and CreateVirtualScreen.
uint32_t CompileProgram(const char* vertexSource, const char* fragmentSource) {
    const GLuint vertex = CompileShader(GL_VERTEX_SHADER, vertexSource);
    const GLuint fragment = CompileShader(GL_FRAGMENT_SHADER, fragmentSource);
    GLuint program = 0;
    if (vertex && fragment) {
        program = glCreateProgram();
        glAttachShader(program, vertex);
        glAttachShader(program, fragment);
        glBindAttribLocation(program, kPositionAttribute, "position");
        glBindAttribLocation(program, kTextureAttribute, "texture");
        glLinkProgram(program);
        GLint linked = GL_FALSE;
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
        if (!linked) {
            std::fprintf(stderr, "The shaders do not link\n");
            glDeleteProgram(program);
            program = 0;
        }
    }
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    return program;
}

// Compiles the quads' program and makes their buffers: room for the most
// corners drawn at once, and two triangles for each quad of them. Called by
// SetupPixelFormat.
bool PrepareDrawing() {
    s_program = CompileProgram(kQuadVertexShader, kQuadFragmentShader);
    if (!s_program)
        return false;
    s_matrixUniform = glGetUniformLocation(s_program, "matrix");
    s_colourUniform = glGetUniformLocation(s_program, "colour");
    glGenBuffers(1, &s_cornerBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, s_cornerBuffer);
    glBufferData(GL_ARRAY_BUFFER, kMostCorners * sizeof(QuadVertex), nullptr, GL_DYNAMIC_DRAW);
    uint16_t triangles[kMostCorners / 4 * 6];
    for (int quad = 0; quad < kMostCorners / 4; ++quad) {
        const uint16_t first = uint16_t(quad * 4);
        const uint16_t corners[6] = {first, uint16_t(first + 1), uint16_t(first + 2),
                                     first, uint16_t(first + 2), uint16_t(first + 3)};
        std::copy(corners, corners + 6, triangles + quad * 6);
    }
    glGenBuffers(1, &s_indexBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, s_indexBuffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof triangles, triangles, GL_STATIC_DRAW);
    // Every program here reads both attributes from buffers.
    glEnableVertexAttribArray(kPositionAttribute);
    glEnableVertexAttribArray(kTextureAttribute);
    return true;
}

// Switches blending or the depth test; the other switches stay as the
// scenes always have them. Called by the renderer, the scenes and the
// timeline.
void SetDrawSwitch(DrawSwitch which, bool on) {
    GLenum capability = 0;
    if (which == DrawSwitch::kBlending)
        capability = GL_BLEND;
    else if (which == DrawSwitch::kDepthTest)
        capability = GL_DEPTH_TEST;
    else
        return;
    on ? glEnable(capability) : glDisable(capability);
}

// Keeps the colour, each channel held to 0 to 1 as OpenGL 1.1 holds it;
// called by the scenes.
void SetDrawColour(float red, float green, float blue, float alpha) {
    const float colour[4] = {red, green, blue, alpha};
    for (int i = 0; i < 4; ++i)
        s_state.colour[i] = std::min(1.0f, std::max(0.0f, colour[i]));
}

// Multiplies a by b (a then applied after b), as OpenGL's matrix calls do;
// called by the matrix steps and DrawQuads.
static Matrix Multiply(const Matrix& a, const Matrix& b) {
    Matrix product;
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row) {
            float sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += a.m[k * 4 + row] * b.m[column * 4 + k];
            product.m[column * 4 + row] = sum;
        }
    return product;
}

// The current model-view matrix; called by the steps.
static Matrix& ModelView() {
    return s_state.modelView[s_state.modelViewTop];
}

// The current projection; called by the steps.
static Matrix& Projection() {
    return s_state.projection[s_state.projectionTop];
}

// Draws the quads as pairs of triangles with the current matrices, colour
// and picture; called by the scenes.
void DrawQuads(const QuadVertex* corners, int count) {
    count = std::min(count, kMostCorners) / 4 * 4;
    const Matrix matrix = Multiply(Projection(), ModelView());
    glUseProgram(s_program);
    glUniformMatrix4fv(s_matrixUniform, 1, GL_FALSE, matrix.m);
    glUniform4fv(s_colourUniform, 1, s_state.colour);
    glBindBuffer(GL_ARRAY_BUFFER, s_cornerBuffer);
    glBufferSubData(GL_ARRAY_BUFFER, 0, count * sizeof(QuadVertex), corners);
    glVertexAttribPointer(kTextureAttribute, 2, GL_FLOAT, GL_FALSE, sizeof(QuadVertex), nullptr);
    glVertexAttribPointer(kPositionAttribute, 3, GL_FLOAT, GL_FALSE, sizeof(QuadVertex),
                          reinterpret_cast<const void*>(offsetof(QuadVertex, x)));
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, s_indexBuffer);
    glDrawElements(GL_TRIANGLES, count / 4 * 6, GL_UNSIGNED_SHORT, nullptr);
}

// Loads the perspective GLU's gluPerspective makes (worked out in double
// precision as it does) and an identity model-view; called by
// SetProjection.
void LoadPerspective(double fovY, double aspect, double zNear, double zFar) {
    const double radians = fovY / 2 * std::acos(-1.0) / 180;
    const double cotangent = std::cos(radians) / std::sin(radians);
    const double depth = zFar - zNear;
    Matrix perspective = {};
    perspective.m[0] = float(cotangent / aspect);
    perspective.m[5] = float(cotangent);
    perspective.m[10] = float(-(zFar + zNear) / depth);
    perspective.m[11] = -1;
    perspective.m[14] = float(-2 * zNear * zFar / depth);
    Projection() = perspective;
    ModelView() = kIdentity;
}

// Pushes an orthographic screen projection; called by BeginScreenSpace.
void PushScreenProjection(double width, double height) {
    s_state.projectionTop = std::min(s_state.projectionTop + 1, kProjectionDepth - 1);
    Matrix ortho = kIdentity;
    ortho.m[0] = float(2 / width);
    ortho.m[5] = float(2 / height);
    ortho.m[10] = -1;
    ortho.m[12] = -1;
    ortho.m[13] = -1;
    Projection() = ortho;
}

// Pops the projection; called by EndScreenSpace.
void PopProjection() {
    s_state.projectionTop = std::max(s_state.projectionTop - 1, 0);
}

// Pushes the model-view matrix; called by the scenes.
void PushTransform() {
    if (s_state.modelViewTop + 1 < kModelViewDepth) {
        s_state.modelView[s_state.modelViewTop + 1] = ModelView();
        ++s_state.modelViewTop;
    }
}

// Pops the model-view matrix; called by the scenes.
void PopTransform() {
    s_state.modelViewTop = std::max(s_state.modelViewTop - 1, 0);
}

// Loads the identity; called by the scenes.
void ResetTransform() {
    ModelView() = kIdentity;
}

// Multiplies by a translation; called by the sprite and cube scenes.
void Translate(float x, float y, float z) {
    Matrix translation = kIdentity;
    translation.m[12] = x, translation.m[13] = y, translation.m[14] = z;
    ModelView() = Multiply(ModelView(), translation);
}

// Multiplies by OpenGL's rotation about a normalised axis; called by the
// sprite and cube scenes.
void Rotate(float degrees, float x, float y, float z) {
    const float length = std::sqrt(x * x + y * y + z * z);
    if (length == 0)
        return;
    x /= length, y /= length, z /= length;
    const float radians = degrees * float(std::acos(-1.0) / 180);
    const float c = std::cos(radians), s = std::sin(radians), t = 1 - c;
    const Matrix rotation = {{x * x * t + c, y * x * t + z * s, x * z * t - y * s, 0,
                              x * y * t - z * s, y * y * t + c, y * z * t + x * s, 0,
                              x * z * t + y * s, y * z * t - x * s, z * z * t + c, 0, 0, 0, 0, 1}};
    ModelView() = Multiply(ModelView(), rotation);
}

// Multiplies by a uniform scale; called by the cube scene.
void Scale(float factor) {
    Matrix scale = kIdentity;
    scale.m[0] = scale.m[5] = scale.m[10] = factor;
    ModelView() = Multiply(ModelView(), scale);
}

// Keeps the matrices, the colour and WebGL's state the scenes change;
// called by WarmScenes.
void SaveDrawingState() {
    s_saved = s_state;
    s_saved.blending = glIsEnabled(GL_BLEND);
    s_saved.depthTest = glIsEnabled(GL_DEPTH_TEST);
    glGetIntegerv(GL_BLEND_SRC_RGB, &s_saved.blendSource);
    glGetIntegerv(GL_BLEND_DST_RGB, &s_saved.blendDestination);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &s_saved.texture);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, s_saved.clearColour);
}

// Puts back what SaveDrawingState kept; called by WarmScenes.
void RestoreDrawingState() {
    s_state = s_saved;
    s_saved.blending ? glEnable(GL_BLEND) : glDisable(GL_BLEND);
    s_saved.depthTest ? glEnable(GL_DEPTH_TEST) : glDisable(GL_DEPTH_TEST);
    glBlendFunc(GLenum(s_saved.blendSource), GLenum(s_saved.blendDestination));
    glBindTexture(GL_TEXTURE_2D, GLuint(s_saved.texture));
    const GLfloat* clear = s_saved.clearColour;
    glClearColor(clear[0], clear[1], clear[2], clear[3]);
}

// Uploads a picture at power-of-two sides and lets WebGL make its mip
// levels; called by LoadTexture.
uint32_t CreatePictureTexture(const uint8_t* pixels, int width, int height, int components) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    const int maxSide = MaxTextureSide();
    const int toWidth = NearestPowerOfTwo(width, maxSide);
    const int toHeight = NearestPowerOfTwo(height, maxSide);
    std::vector<uint8_t> scaled;
    if (toWidth != width || toHeight != height) {
        scaled = ScalePicture(pixels, width, height, components, toWidth, toHeight);
        pixels = scaled.data();
    }
    const GLenum format = components == 3 ? GL_RGB : GL_LUMINANCE;
    // Row 0, the picture's top, becomes t = 0.
    glTexImage2D(GL_TEXTURE_2D, 0, format, toWidth, toHeight, 0, format, GL_UNSIGNED_BYTE, pixels);
    glGenerateMipmap(GL_TEXTURE_2D);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    return texture;
}
