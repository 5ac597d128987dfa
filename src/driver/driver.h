// The program's phases in their fixed order, the placement of the result
// and the exit code.
#ifndef QUARNEL_DRIVER_DRIVER_H_
#define QUARNEL_DRIVER_DRIVER_H_

namespace quarnel {

// Runs one sort job; 0, or -1 (seen as 255 by the shell).
int run_quarnel(int argc, char** argv);

// The command-line phase and what completes it: the options read into the
// SortJob, the run builder chosen for the mode, the input probed. 0, or -1
// after a failure it has reported.
int read_command_line(int argc, char** argv);

// Free the job's buffers that are held, and null their pointers; safe to
// call at any moment and more than once.
void release_buffers();
void release_sort_buffers();

}  // namespace quarnel

#endif  // QUARNEL_DRIVER_DRIVER_H_
