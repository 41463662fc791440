// src/app/StartOptions.h: what the window program answers from its command line alone, before any display
// is needed.
#pragma once
#include <string>

namespace zeloro {

enum class StartRequest { window, help, version };

// "--help" or "-h" asks for the usage, "--version" for the version; the first of them wins. Every other
// argument is left to Qt and the window, as before.
[[nodiscard]] StartRequest StartRequestOf(int argc, const char* const* argv);

// "zeloro <version>", the version zeloro-cli --version gives.
[[nodiscard]] std::string WindowVersionText();
// The short German usage, ending with a line feed.
[[nodiscard]] std::string WindowUsageText();

}  // namespace zeloro
