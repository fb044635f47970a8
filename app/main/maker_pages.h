// The maker's web pages that "Online Guide", "Support" and the about
// window open in the default browser.
#pragma once

namespace vidmill {

inline constexpr char kHomePageUrl[] = "https://tarnwick.example/vidmill/";
inline constexpr char kOnlineGuideUrl[] = "https://tarnwick.example/vidmill/guide/";
inline constexpr char kSupportPageUrl[] = "https://tarnwick.example/vidmill/support/";

}  // namespace vidmill
