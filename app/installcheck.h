#pragma once

class Form1;

// For the package test: after start-up, print where the program runs from, whether it found its
// help text, the ports it listed and whether it has its icon. Returns the exit code.
int printInstallState(const Form1 &window);
