// Whether a standard stream of the process goes to a terminal (a console on
// Windows): tools draw progress lines only for a person watching, never into
// a file or a pipe.
#pragma once

namespace kovra {

enum class TStdStream { Output, Error };

bool IsTerminal(TStdStream stream);

}  // namespace kovra
