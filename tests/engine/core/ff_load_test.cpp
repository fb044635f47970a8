#include "core/ff_load.h"

#include <gtest/gtest.h>

#include "core/entry_points.h"

using namespace vidmill;

TEST(FFLoader, LoadsEverySystemLibraryAndBindsEntryPoints) {
  TFFLoader& loader = TFFLoader::Instance();
  loader.SetLibraryPath("");
  ASSERT_TRUE(loader.Load(kEncoderLibraries)) << loader.LastErrMsg();
  EXPECT_TRUE(loader.Loaded(kEncoderLibraries));
  ASSERT_NE(ff::avcodec_find_encoder_by_name, nullptr);
  EXPECT_NE(ff::avcodec_find_encoder_by_name("mpeg4"), nullptr);
}

#include "test_media.h"
#include <filesystem>

TEST(TestMedia, GeneratesEveryFixture) {
  using vidmill::testing::Clip;
  for (Clip c : {Clip::Mp4H264Aac, Clip::AviMpeg4Mp3, Clip::MkvSubsChapters, Clip::WebmVp9Opus,
                 Clip::WavPcm, Clip::Mp3Audio, Clip::Mp4TwoAudio, Clip::ZeroBytes, Clip::Truncated,
                 Clip::RandomBytes, Clip::WrongExtension}) {
    const std::string path = vidmill::testing::MediaPath(c);
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(std::filesystem::exists(path)) << path;
  }
}
