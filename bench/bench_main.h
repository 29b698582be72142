#pragma once

namespace salvatrix::bench {

/// Each takes the arguments after the command's own name (argv[0] is the command).
int RunCopy(int argc, char** argv);
int RunStartup(int argc, char** argv);
int RunStartupChild(int argc, char** argv);
/// The program linked as the portable file against the same program on the system's Qt.
int RunStartupPortable(int argc, char** argv);
int RunIdle(int argc, char** argv);

}  // namespace salvatrix::bench
