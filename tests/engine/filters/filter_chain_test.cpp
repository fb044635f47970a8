#include "filters/filter_chain.h"

#include <gtest/gtest.h>

#include "filters/adjust_filters.h"
#include "own_filters_fixture.h"

namespace vidmill {
namespace {

using testing::FramePtr;
using testing::MakeFrame;
using testing::SolidYuv;

class FilterChainTest : public testing::OwnFiltersTest {
 protected:
  // Sends the frames, then the end, and gathers everything the chain gives.
  static std::vector<FramePtr> RunAll(TFilterChain& chain, const std::vector<const AVFrame*>& in) {
    std::vector<FramePtr> out;
    auto drain = [&] {
      for (;;) {
        FramePtr f(ff::av_frame_alloc());
        const int err = chain.ReceiveFrame(f.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return err;
        EXPECT_EQ(err, 0);
        if (err < 0) return err;
        out.push_back(std::move(f));
      }
    };
    for (const AVFrame* f : in) {
      EXPECT_EQ(chain.SendFrame(f), 0);
      EXPECT_EQ(drain(), AVERROR(EAGAIN));
    }
    EXPECT_EQ(chain.SendFrame(nullptr), 0);
    EXPECT_EQ(drain(), AVERROR_EOF);
    return out;
  }
};

TEST_F(FilterChainTest, EmptyChainPassesFramesThroughUnchanged) {
  FramePtr in = SolidYuv(32, 16, AV_PIX_FMT_YUV420P, 77, 88, 99);
  in->pts = 5;
  std::string error;
  auto chain = TFilterChain::Create("", FormatOf(in.get()), AV_PIX_FMT_NONE, &error);
  ASSERT_TRUE(chain) << error;
  auto out = RunAll(*chain, {in.get(), in.get()});
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0]->pts, 5);
  EXPECT_EQ(testing::At(out[1].get(), 0, 31, 15), 77);
  EXPECT_EQ(chain->OutputFormat().width, 32);
}

TEST_F(FilterChainTest, MixedChainGivesExpectedSizeAndPixels) {
  // eq 10:-5 maps luma 100 to 126; hue 0:20 maps (U, V) = (90, 170) to (82, 178).
  FramePtr in = SolidYuv(64, 48, AV_PIX_FMT_YUV420P, 100, 90, 170);
  std::string error;
  auto chain = TFilterChain::Create(
      "nativeeq=10:-5, nativehue=0:20,crop=32:24:8:8,pad=48:40:8:8,scale=96:80",
      FormatOf(in.get()), AV_PIX_FMT_YUV420P, &error);
  ASSERT_TRUE(chain) << error;
  EXPECT_EQ(chain->OutputFormat().width, 96);
  EXPECT_EQ(chain->OutputFormat().height, 80);
  EXPECT_EQ(chain->OutputFormat().pix_fmt, AV_PIX_FMT_YUV420P);
  auto out = RunAll(*chain, {in.get(), in.get(), in.get()});
  ASSERT_EQ(out.size(), 3u);
  for (const FramePtr& f : out) {
    ASSERT_EQ(f->width, 96);
    ASSERT_EQ(f->height, 80);
    EXPECT_NEAR(testing::At(f.get(), 0, 48, 40), 126, 1);  // inside the cropped picture
    EXPECT_NEAR(testing::At(f.get(), 1, 24, 20), 82, 1);
    EXPECT_NEAR(testing::At(f.get(), 2, 24, 20), 178, 1);
    EXPECT_EQ(testing::At(f.get(), 0, 2, 2), 16);  // black padding
    EXPECT_EQ(testing::At(f.get(), 1, 1, 1), 128);
  }
  // The caller's frame is left as it was.
  EXPECT_EQ(testing::At(in.get(), 0, 0, 0), 100);
}

TEST_F(FilterChainTest, OwnFiltersAfterLibraryFiltersAndFinalConversion) {
  FramePtr in = SolidYuv(40, 30, AV_PIX_FMT_YUV444P, 100, 128, 128);
  std::string error;
  auto chain = TFilterChain::Create("scale=20:16,nativeeq=0:-100", FormatOf(in.get()),
                                    AV_PIX_FMT_YUV420P, &error);
  ASSERT_TRUE(chain) << error;
  EXPECT_EQ(chain->OutputFormat().pix_fmt, AV_PIX_FMT_YUV420P);
  auto out = RunAll(*chain, {in.get()});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0]->width, 20);
  EXPECT_EQ(out[0]->format, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(testing::At(out[0].get(), 0, 10, 8), 127);  // contrast -100: constant 127
}

TEST_F(FilterChainTest, PicturesOfAnotherFormatAreConvertedForOwnFilters) {
  FramePtr in = MakeFrame(16, 16, AV_PIX_FMT_RGB24);
  testing::FillPlane(in.get(), 0, [](int, int) { return 0; });  // black
  std::string error;
  auto chain = TFilterChain::Create("nativeeq=100:0", FormatOf(in.get()), AV_PIX_FMT_NONE, &error);
  ASSERT_TRUE(chain) << error;
  EXPECT_EQ(chain->OutputFormat().pix_fmt, AV_PIX_FMT_YUV444P);
  auto out = RunAll(*chain, {in.get()});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(testing::At(out[0].get(), 0, 3, 3), 255);  // brightness 100 turns everything white
}

TEST_F(FilterChainTest, NeutralOwnFiltersPassThePictureWithoutWork) {
  FramePtr in = SolidYuv(32, 32, AV_PIX_FMT_YUV420P, 1, 2, 3);
  auto chain = TFilterChain::Create("nativeeq=0:0,nativehue=0:0", FormatOf(in.get()),
                                    AV_PIX_FMT_NONE, nullptr);
  ASSERT_TRUE(chain);
  auto out = RunAll(*chain, {in.get()});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0]->data[0], in->data[0]);  // the same picture, not a copy
}

TEST_F(FilterChainTest, BadChainsFailWithAClearText) {
  FramePtr in = SolidYuv(16, 16, AV_PIX_FMT_YUV420P, 0, 0, 0);
  struct Case {
    const char* chain;
    const char* text;
  } cases[] = {
      {"nosuchfilter=1", "nosuchfilter"},
      {"crop=a:b:c", "crop=a:b:c"},
      {"nativeeq=abc:0", "nativeeq=abc:0"},
      {"nativehue=0:0:999999:0", "handle 999999"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(TFilterChain::Create(c.chain, FormatOf(in.get()), AV_PIX_FMT_NONE, &error))
        << c.chain;
    EXPECT_NE(error.find(c.text), std::string::npos) << c.chain << ": " << error;
  }
}

TEST_F(FilterChainTest, SendingAfterTheEndIsRefused) {
  FramePtr in = SolidYuv(16, 16, AV_PIX_FMT_YUV420P, 0, 0, 0);
  auto chain = TFilterChain::Create("nativeeq=1:1,null", FormatOf(in.get()), AV_PIX_FMT_NONE, nullptr);
  ASSERT_TRUE(chain);
  auto out = RunAll(*chain, {in.get()});
  EXPECT_EQ(out.size(), 1u);
  EXPECT_EQ(chain->SendFrame(in.get()), AVERROR_EOF);
}

TEST_F(FilterChainTest, PicturesOfAnotherFormatThanBuiltForAreRefused) {
  // Built for 4:4:4, given a 4:2:0 picture (quarter-size chroma planes): the
  // hue filter must refuse it rather than work past the end of its planes.
  FramePtr built_for = SolidYuv(64, 48, AV_PIX_FMT_YUV444P, 100, 90, 170);
  FramePtr other = SolidYuv(64, 48, AV_PIX_FMT_YUV420P, 100, 90, 170);
  for (const char* text : {"nativehue=10:20", "nativeeq=10:-5,nativehue=10:20"}) {
    SCOPED_TRACE(text);
    std::string error;
    auto chain = TFilterChain::Create(text, FormatOf(built_for.get()), AV_PIX_FMT_NONE, &error);
    ASSERT_TRUE(chain) << error;
    FramePtr out(ff::av_frame_alloc());
    int err = chain->SendFrame(other.get());
    if (err >= 0) err = chain->ReceiveFrame(out.get());
    EXPECT_EQ(err, AVERROR(EINVAL));
    ff::av_frame_unref(out.get());
    // The chain goes on with pictures of its own format.
    auto good = RunAll(*chain, {built_for.get()});
    ASSERT_EQ(good.size(), 1u);
    EXPECT_EQ(good[0]->format, AV_PIX_FMT_YUV444P);
  }
}

}  // namespace
}  // namespace vidmill
