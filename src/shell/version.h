// The client's version texts.
#pragma once

namespace shell {

// Shown in the tray tip and the About box, and written first into each
// run's log (followed by kBuildMark).
constexpr char kVersionText[] = "3.14.9-MT";
constexpr wchar_t kVersionTextWide[] = L"3.14.9-MT";
constexpr char kBuildMark[] = "R";

// The support web page offered with every fatal start-up message.
constexpr char kSupportAddress[] = "https://tessarin.example/support";

}  // namespace shell
