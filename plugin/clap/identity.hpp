#pragma once
// Who the plug-in is, as both hosts' formats see it. One set of constants
// feeds the CLAP descriptor and the VST3 factory and class records, so the
// two formats can never disagree about the name, vendor or version.

#include <array>
#include <cstdint>
#include <string_view>

namespace tessellgrove::identity {

inline constexpr std::string_view name = "Tessellgrove";
inline constexpr std::string_view vendor = "Corvalune";
inline constexpr std::string_view version = "0.1.0";
inline constexpr std::string_view url = "https://corvalune.example";
inline constexpr std::string_view email = "support@corvalune.example";

// CLAP: reverse-domain id, description and features (in this order).
inline constexpr std::string_view clap_id = "com.corvalune.tessellgrove";
inline constexpr std::string_view clap_description = "Ring modulator with granular-inspired carrier modes";
inline constexpr std::array<std::string_view, 3> clap_features = {"audio-effect", "stereo", "distortion"};

// VST3: the 16-byte class id is the 15 ASCII characters "CorTessellgrove"
// followed by one zero byte.
inline constexpr std::array<uint8_t, 16> vst3_class_id = {'C', 'o', 'r', 'T', 'e', 's', 's', 'e',
                                                          'l', 'l', 'g', 'r', 'o', 'v', 'e', 0};
inline constexpr std::string_view vst3_subcategories = "Fx|Distortion";
inline constexpr std::string_view vst3_sdk_version = "VST 3.6.14";

// Name of the process-wide logger the entry points set up.
inline constexpr std::string_view logger_name = "tessellgrove";

// A zero byte inside an identity text would cut it short in every host; the
// CLAP descriptor refuses such a text at run time, this refuses it at build time.
static_assert(name.find('\0') == std::string_view::npos && vendor.find('\0') == std::string_view::npos &&
              version.find('\0') == std::string_view::npos && url.find('\0') == std::string_view::npos &&
              email.find('\0') == std::string_view::npos && clap_id.find('\0') == std::string_view::npos &&
              clap_description.find('\0') == std::string_view::npos);

} // namespace tessellgrove::identity
