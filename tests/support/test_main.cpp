// main() of every test program: headless SDL and Qt, and the build's shared
// folder of generated clips, unless the environment already says otherwise.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("VIDMILL_TEST_MEDIA", VIDMILL_TEST_MEDIA_DIR, 0);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
