#pragma once

// SIGTERM, SIGHUP and SIGINT quit the program through its event loop, so that the port is
// closed as Close Port closes it (the serial control closes on aboutToQuit).
void quitOnSignals();

// Whether such a signal asked the program to quit: it then closes in silence, with no box.
bool quittingOnSignal();
