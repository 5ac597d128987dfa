// Runs a command line as a child process and waits for its exit status.
// The hand-off always names the merge program by its full path; finding a
// bare name along PATH and starting a file that is not an executable
// through the command interpreter belong to this routine as the system
// defines it, and its tests hold it to them.
#ifndef QUARNEL_HANDOFF_LAUNCH_H_
#define QUARNEL_HANDOFF_LAUNCH_H_

namespace quarnel {

// -1 when the command line is unusable or the program cannot be started,
// otherwise its exit status.
int launch_command(const char* command_line);

}  // namespace quarnel

#endif  // QUARNEL_HANDOFF_LAUNCH_H_
