// A console tool's request to stop: Ctrl-C or a termination request from the
// system. The first one only raises a flag that the tool polls, so that it can
// finish its work (save a recording) in order; a second one ends the process
// at once, as if no handler were installed.
#pragma once

namespace kovra {

void InstallStopRequestHandler();
bool StopRequested();

}  // namespace kovra
