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
