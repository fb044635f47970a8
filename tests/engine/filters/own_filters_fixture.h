// Fixture of the filter tests: libraries loaded, own filters registered.
#pragma once

#include <gtest/gtest.h>

#include "filters/adjust_filters.h"
#include "filters/filter_chain.h"
#include "picture_helpers.h"

namespace vidmill::testing {

class OwnFiltersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadLibraries();
    RegisterEqFilter();
    RegisterHueFilter();
  }
  static TVideoFormat FormatOf(const AVFrame* f) {
    TVideoFormat in;
    in.width = f->width;
    in.height = f->height;
    in.pix_fmt = static_cast<AVPixelFormat>(f->format);
    in.time_base = {1, 25};
    in.sample_aspect_ratio = {1, 1};
    return in;
  }
};

}  // namespace vidmill::testing
