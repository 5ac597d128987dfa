// Copies a result file to standard output; wide text is converted to
// Shift_JIS on the way.
#ifndef QUARNEL_MERGE_STDOUT_COPY_H_
#define QUARNEL_MERGE_STDOUT_COPY_H_

namespace quarnel {

// 0 after the copy, -1 when the file cannot be opened.
int copy_to_stdout(const char* path);

}  // namespace quarnel

#endif  // QUARNEL_MERGE_STDOUT_COPY_H_
