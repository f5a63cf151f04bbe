// The scenes left running for ten minutes of demo time through the fake
// clock. POSIX only: it counts the heap through glibc's malloc.
#include "support.h"

#include <gtest/gtest.h>

#include "audio/audio.h"
#include "audio/playback.h"
#include "demo/timeline.h"
#include "platform/screen.h"

#include <GL/gl.h>
#include <algorithm>
#include <cstdlib>
#include <malloc.h>

namespace {

#ifdef MOVRA_SANITIZED
// AddressSanitizer's count of the bytes its allocator has handed out and
// not had back (GCC ships no header declaring it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

// Bytes of heap in use now: from AddressSanitizer's allocator in the checked
// build, where malloc's own counts stay empty.
size_t HeapInUse() {
#ifdef MOVRA_SANITIZED
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

} // namespace

// The demo left running for ten minutes with its music, after a first walk
// through the whole script in small steps that also warms every drawing
// path: no GL error at any tick or present, and no more heap in use at the
// end than after the first walk.
TEST(ScenesSoak, TenMinutesRunWithoutGlErrorsOrGrowingHeap) {
    if (!StartDemoInProcess())
        GTEST_SKIP() << "needs an X display";
    UseFakeClock(0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    ASSERT_TRUE(OpenAudioDevice());
    g_musicStream = OpenMusicStream(kMusicPath);
    ASSERT_NE(g_musicStream, 0u) << "run from the repository root";
    // Every frame is read back and let go: keeping them costs more time.
    SetPresentHook([] {
        ReadScreen();
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << "at a present, demo time " << g_demoTime;
    });
    // Each walk starts at demo time 0 as the demo does, so the sprites don't
    // inherit the cube's turn from the walk before.
    const struct { uint32_t end, step; } walks[] = {{95000, 29}, {600000, 97}};
    size_t heapInUse[2] = {};
    float loudestBass = 0;
    for (int walk = 0; walk < 2; ++walk) {
        glLoadIdentity();
        // Stops at the first failure rather than repeat it thousands of times.
        for (uint32_t t = 0; t <= walks[walk].end && !HasFailure(); t += walks[walk].step) {
            SetFakeTicks(t);
            TickDemo();
            EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << "after the tick at t = " << t;
            loudestBass = std::max(loudestBass, g_spectrum[0]);
        }
        heapInUse[walk] = HeapInUse();
    }
    SetPresentHook(nullptr);
    CloseMusicStream(g_musicStream);
    g_musicStream = 0;
    EXPECT_GT(loudestBass, 0) << "the music played, so the cube followed its spectrum";
    // Room for one-off allocations of the libraries beneath the demo (Mesa,
    // SDL's audio thread, the MP3 decoder) that may fall in the second walk
    // rather than the first; none were seen. Small enough that a leak of the
    // smallest heap block (32 bytes) at every tick of the second walk (6186
    // ticks, 193 KiB) or at every present of its script (about 1500, 46 KiB)
    // fails.
    constexpr size_t kSlackBytes = 32 * 1024;
    EXPECT_LE(heapInUse[1], heapInUse[0] + kSlackBytes)
        << "heap in use grew from " << heapInUse[0] << " to " << heapInUse[1] << " bytes";
}
