#include "core/ff_load.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "core/engine_error.h"
#include "core/entry_points.h"
#include "test_media.h"

using namespace vidmill;
namespace fs = std::filesystem;

namespace {

const TLibrary kAll[] = {avCodec, avCore, avDevice, avFilter, avFormat, avUtil, swScale, myUtil, swResample};

class FFLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "vidmill-libav-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    loader.SetLibraryPath("");
    loader.Load(kEncoderLibraries);  // later tests of this process find them bound
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void Junk(TLibrary lib) { std::ofstream(dir_ / TFFLoader::LibraryFileName(lib)) << "not a library"; }
  // A real library, but not the one the name promises.
  void WrongLibrary(TLibrary lib) {
    fs::create_symlink("/lib/x86_64-linux-gnu/libz.so.1", dir_ / TFFLoader::LibraryFileName(lib));
  }
  TFFLoader& loader = TFFLoader::Instance();
  fs::path dir_;
};

TEST_F(FFLoaderTest, LoadsEverySystemLibraryAndBindsEntryPoints) {
  loader.SetLibraryPath("");
  ASSERT_TRUE(loader.Load(kEncoderLibraries)) << loader.LastErrMsg();
  EXPECT_TRUE(loader.Loaded(kEncoderLibraries));
  ASSERT_NE(ff::avcodec_find_encoder_by_name, nullptr);
  EXPECT_NE(ff::avcodec_find_encoder_by_name("mpeg4"), nullptr);
  EXPECT_NE(ff::swr_alloc, nullptr);
  EXPECT_NE(ff::vsnprintf, nullptr);
  for (TLibrary lib : {avCodec, avUtil, myUtil}) EXPECT_EQ(loader.OpenedFrom(lib), "");
}

TEST_F(FFLoaderTest, FileNamesAreTheSystemsSonames) {
  EXPECT_EQ(TFFLoader::LibraryFileName(avCodec), "libavcodec.so.59");
  EXPECT_EQ(TFFLoader::LibraryFileName(avCore), "libavutil.so.57");
  EXPECT_EQ(TFFLoader::LibraryFileName(avFormat), "libavformat.so.59");
  EXPECT_EQ(TFFLoader::LibraryFileName(avUtil), "libavutil.so.57");
  EXPECT_EQ(TFFLoader::LibraryFileName(swScale), "libswscale.so.6");
  EXPECT_EQ(TFFLoader::LibraryFileName(swResample), "libswresample.so.4");
  EXPECT_EQ(TFFLoader::LibraryFileName(myUtil), "libc.so.6");
  EXPECT_STREQ(NotLoadedText(avCodec), "LibAVCodec not loaded.");
  EXPECT_STREQ(NotLoadedText(swScale), "LibSwScale not loaded.");
}

TEST_F(FFLoaderTest, EmptyFolderFallsBackToTheSystem) {
  loader.Unload(TLibraries::All());
  loader.SetLibraryPath(dir_.string());
  ASSERT_TRUE(loader.Load(kDecoderLibraries)) << loader.LastErrMsg();
  EXPECT_EQ(loader.OpenedFrom(avCodec), "");
}

TEST_F(FFLoaderTest, LibrariesInTheFolderWinOverTheSystemsButNeverTheCRuntime) {
  loader.Unload(TLibraries::All());
  for (TLibrary lib : kAll) {
    const fs::path link = dir_ / TFFLoader::LibraryFileName(lib);
    if (!fs::exists(link)) fs::create_symlink("/usr/lib/x86_64-linux-gnu" / fs::path(TFFLoader::LibraryFileName(lib)), link);
  }
  loader.SetLibraryPath(dir_.string());
  ASSERT_TRUE(loader.Load(kDecoderLibraries)) << loader.LastErrMsg();
  for (TLibrary lib : {avCodec, avFormat, avUtil, swScale, swResample}) {
    EXPECT_EQ(loader.OpenedFrom(lib), dir_.string()) << lib;
  }
  EXPECT_EQ(loader.OpenedFrom(myUtil), "");
  // Bound already: loading again neither reopens nor moves it.
  loader.SetLibraryPath("");
  ASSERT_TRUE(loader.Load(avCodec));
  EXPECT_EQ(loader.OpenedFrom(avCodec), dir_.string());
}

TEST_F(FFLoaderTest, JunkFileNamedLikeTheLibraryFailsToLoad) {
  loader.Unload(TLibraries::All());
  Junk(avCodec);
  loader.SetLibraryPath(dir_.string());
  EXPECT_FALSE(loader.Load(avCodec));
  const std::string expected = "Load library " + (dir_ / "libavcodec.so.59").string() + " error: ";
  EXPECT_EQ(loader.LastErrMsg().substr(0, expected.size()), expected) << loader.LastErrMsg();
  EXPECT_GT(loader.LastErrMsg().size(), expected.size());  // the system's reason follows
  EXPECT_FALSE(loader.Loaded(avCodec));
  EXPECT_EQ(ff::avcodec_open2, nullptr);
}

TEST_F(FFLoaderTest, RealLibraryUnderTheWrongNameFailsToBind) {
  loader.Unload(TLibraries::All());
  WrongLibrary(swScale);
  loader.SetLibraryPath(dir_.string());
  EXPECT_FALSE(loader.Load(swScale));
  const std::string expected = "Load function sws_freeContext@libswscale.so.6 error: ";
  EXPECT_EQ(loader.LastErrMsg().substr(0, expected.size()), expected) << loader.LastErrMsg();
  EXPECT_FALSE(loader.Loaded(swScale));
  EXPECT_EQ(ff::sws_getContext, nullptr);
  // The message stays until the next failure, whatever succeeds meanwhile.
  loader.SetLibraryPath("");
  EXPECT_TRUE(loader.Load(swScale));
  EXPECT_EQ(loader.LastErrMsg().substr(0, expected.size()), expected);
}

TEST_F(FFLoaderTest, SetFailingOnALaterLibraryLeavesNoneOfItLoaded) {
  loader.SetLibraryPath("");
  ASSERT_TRUE(loader.Load(kDecoderLibraries));  // loaded by an earlier call
  loader.Unload(swScale);
  Junk(swScale);
  loader.SetLibraryPath(dir_.string());
  EXPECT_FALSE(loader.Load(kDecoderLibraries));
  EXPECT_NE(loader.LastErrMsg().find("libswscale.so.6"), std::string::npos);
  for (TLibrary lib : kAll) {
    if (kDecoderLibraries.Contains(lib)) {
      EXPECT_FALSE(loader.Loaded(lib)) << lib;
    }
  }
  EXPECT_EQ(ff::avformat_open_input, nullptr);
  EXPECT_EQ(ff::av_log, nullptr);
  EXPECT_EQ(ff::fopen, nullptr);
}

TEST_F(FFLoaderTest, EmptySetIsMisuse) {
  EXPECT_THROW(loader.Load(TLibraries{}), EEngineError);
  EXPECT_THROW(loader.Loaded(TLibraries{}), EEngineError);
  EXPECT_THROW(loader.Unload(TLibraries{}), EEngineError);
}

TEST(TestMedia, GeneratesEveryFixture) {
  using vidmill::testing::Clip;
  for (Clip c : {Clip::Mp4H264Aac, Clip::AviMpeg4Mp3, Clip::MkvSubsChapters, Clip::WebmVp9Opus,
                 Clip::WavPcm, Clip::Mp3Audio, Clip::Mp4TwoAudio, Clip::ZeroBytes, Clip::Truncated,
                 Clip::RandomBytes, Clip::WrongExtension}) {
    const std::string path = vidmill::testing::MediaPath(c);
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(fs::exists(path)) << path;
  }
}

}  // namespace
