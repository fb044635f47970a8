#include "core/frame_hooks.h"

#include <gtest/gtest.h>

#include "picture_helpers.h"

namespace vidmill {
namespace {

using testing::At;
using testing::FramePtr;

class FrameHooksTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::LoadLibraries(); }
};

TEST_F(FrameHooksTest, RefusedModulesAreNotAdded) {
  testing::LogCapture log(llError);
  struct Case {
    std::vector<std::string> args;
    int result;
    std::string message;
  } cases[] = {
      {{}, AVERROR(ENOENT), ""},
      {{"/nonexistent/libhook.so"}, AVERROR(EPERM), "/nonexistent/libhook.so"},
      {{VIDMILL_HOOK_WITHOUT_PROCESS}, AVERROR(ENOENT),
       std::string("Failed to find Process entrypoint in ") + VIDMILL_HOOK_WITHOUT_PROCESS},
      {{VIDMILL_HOOK_PROCESS_ONLY, "1"}, AVERROR(ENOENT),
       std::string("Failed to find Configure entrypoint in ") + VIDMILL_HOOK_PROCESS_ONLY},
      {{VIDMILL_GREYBOX_HOOK, "1", "2"}, AVERROR(EINVAL),
       std::string("Failed to Configure ") + VIDMILL_GREYBOX_HOOK},
      {{VIDMILL_GREYBOX_HOOK, "a", "b", "c", "d", "e"}, AVERROR(EINVAL),
       std::string("Failed to Configure ") + VIDMILL_GREYBOX_HOOK},
  };
  for (const Case& c : cases) {
    TFrameHookList hooks;
    EXPECT_EQ(hooks.Add(c.args), c.result) << (c.args.empty() ? "" : c.args[0]);
    EXPECT_EQ(hooks.Count(), 0);
    if (!c.message.empty()) {
      EXPECT_GE(log.Count(c.message), 1) << c.message;
    }
  }
}

TEST_F(FrameHooksTest, ChainRunsEveryEntryInOrder) {
  FramePtr frame = testing::MakeFrame(64, 48, AV_PIX_FMT_YUV420P);
  testing::FillPlane(frame.get(), 0, [](int x, int y) { return 20 + x + y; });
  testing::FillPlane(frame.get(), 1, [](int x, int) { return 60 + x; });
  testing::FillPlane(frame.get(), 2, [](int, int y) { return 200 - y; });

  TFrameHookList hooks;
  ASSERT_EQ(hooks.Add({VIDMILL_GREYBOX_HOOK}), 0);                               // grey picture
  ASSERT_EQ(hooks.Add({VIDMILL_GREYBOX_HOOK, "8", "6", "16", "10", "235"}), 0);  // white box
  ASSERT_EQ(hooks.Add({VIDMILL_HOOK_PROCESS_ONLY}), 0);  // loaded without Configure
  ASSERT_EQ(hooks.Add({VIDMILL_HOOK_PROCESS_ONLY}), 0);
  EXPECT_EQ(hooks.Count(), 4);

  TPicture picture = PictureOf(*frame);
  hooks.Process(picture, AV_PIX_FMT_YUV420P, 64, 48, 40000);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 32; ++x) {
      ASSERT_EQ(At(frame.get(), 1, x, y), 128);
      ASSERT_EQ(At(frame.get(), 2, x, y), 128);
    }
  EXPECT_EQ(At(frame.get(), 0, 8, 6), 235);    // box corners
  EXPECT_EQ(At(frame.get(), 0, 23, 15), 235);
  EXPECT_EQ(At(frame.get(), 0, 24, 15), 20 + 24 + 15);  // just outside
  EXPECT_EQ(At(frame.get(), 0, 7, 6), 20 + 7 + 6);
  EXPECT_EQ(At(frame.get(), 0, 0, 0), 22);  // 20, then +1 by each process-only entry

  hooks.Release();
  EXPECT_EQ(hooks.Count(), 0);
  hooks.Process(picture, AV_PIX_FMT_YUV420P, 64, 48, 80000);
  EXPECT_EQ(At(frame.get(), 0, 0, 0), 22);
}

TEST_F(FrameHooksTest, OtherFormatsPassTheExampleHookUnchanged) {
  FramePtr frame = testing::MakeFrame(8, 8, AV_PIX_FMT_RGB24);
  testing::FillPlane(frame.get(), 0, [](int x, int) { return x * 9; });
  TFrameHookList hooks;
  ASSERT_EQ(hooks.Add({VIDMILL_GREYBOX_HOOK}), 0);
  TPicture picture = PictureOf(*frame);
  hooks.Process(picture, AV_PIX_FMT_RGB24, 8, 8, 0);
  EXPECT_EQ(At(frame.get(), 0, 5, 5), 45);
}

}  // namespace
}  // namespace vidmill
