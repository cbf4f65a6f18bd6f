#pragma once

namespace quvo {

// Runs the program with its windows; returns the exit code.
int runDesktop(int argc, char** argv);

} // namespace quvo
