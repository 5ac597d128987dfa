// The one buffered writer through which run files and the merge list are
// written: it opens its file on the first write (making missing folders
// first, and once more after making the file writable), collects bytes in
// a large buffer and writes them a piece at a time, by a thread of its own
// while the next piece fills.
#ifndef QUARNEL_OUTPUT_OUTPUT_FILE_H_
#define QUARNEL_OUTPUT_OUTPUT_FILE_H_

#include <cstdint>
#include <memory>

#include "output/write_behind.h"

namespace quarnel {

struct BlockWriter;

// One file being written. Its owner keeps it for as long as files are
// written through it: the buffer and the writer thread serve one file
// after another.
struct OutputFile {
  OutputFile();
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  int32_t descriptor = 0;  // 0 when none is open, -1 after a failed open
  std::unique_ptr<char[]> buffer;
  int32_t capacity = 0;
  int32_t used = 0;  // bytes of the piece being filled
  // Where that piece starts: 0, or half the capacity while full pieces are
  // written by a thread of their own.
  int32_t piece_start = 0;
  // The file's bytes are gathered as one piece, which the thread writes
  // after close_output_file returns (see begin_whole_file).
  bool whole = false;
  // That piece is on its way: the file is still open, the buffer in use.
  bool close_pending = false;
  // Whether the file's written pages go back to the system as it grows,
  // and how (taken by each file the writer opens).
  WriteBehind behind;
  // While set, the next write_buffered opens its path first.
  bool needs_open = true;
  // A write or open failed (reported): what was written is not complete,
  // and the job must fail.
  bool failed = false;
  // The thread that writes full pieces while the next fills; it lives from
  // a file's first full piece to the file's close, so that none is left
  // behind (nor copied into a forked child) between files.
  std::unique_ptr<BlockWriter> writer;
  WriteBehindTuning behind_tuning;
};

// Opens path for writing, created or truncated, with a new buffer (a file
// that was open is closed first). Null when it cannot be opened, or when
// no buffer can be had (reported; the file stays, empty).
OutputFile* open_output_file(OutputFile* f, const char* path);
// Opens path first when f->needs_open is set (making its folders). length
// when the bytes are buffered or written, 0 for nothing to write, -1 when
// the open or a write failed: reported, and the file marked failed.
int write_buffered(OutputFile* f, const char* path, const void* data, int32_t length);
// After a write_buffered whose open failed, with needs_open still set:
// makes the folders and opens path once more. 0 when the file is open
// (or needed no opening), -1 after reporting the failure again.
int retry_failed_open(OutputFile* f, const char* path);
// For a writer that puts its bytes into the buffer itself: the most bytes
// piece_space may be asked for, the place of length more bytes in the
// piece being filled (its part so far written out first when they would
// not fit), and piece_added once they are there. piece_space gives null
// when no file is open or a write failed (reported; the file marked failed).
int32_t piece_size(const OutputFile* f);
char* piece_space(OutputFile* f, int32_t length);
void piece_added(OutputFile* f, int32_t length);
// Buffers a line end behind the last write; nothing when no file is open.
// A failed write is reported and marks the file failed.
void append_line_end(OutputFile* f, const void* bytes, int32_t count);
// The open file will not be read again soon (it becomes the result by a
// rename): its pages are handed back to the system as it is written.
void hand_back_written_pages(OutputFile* f);
// The open file will hold bytes more than it holds now (written or
// buffered): their disk space is set aside at once where the file system
// can, which spares each write finding blocks for its pages. Only before
// the first piece is on its way to the file.
void reserve_output_space(OutputFile* f, int64_t bytes);
// Asks for the open file's next bytes, bytes in all, to be gathered as
// one piece, so that the file is written while the caller goes on with
// other work once it is closed. False, with nothing changed, when the
// piece would not fit the buffer or no thread can write it.
bool begin_whole_file(OutputFile* f, int64_t bytes);
// Writes what is buffered and closes the file; a failure of either is
// reported and marks the file failed. The next write opens its path again. A file
// begun whole is handed to the writer thread and closed later, by the
// next open or by finish_output_file.
void close_output_file(OutputFile* f);
// Waits for a file still being written, closes it and gives back the
// buffer; a failure is reported and marks the file failed.
void finish_output_file(OutputFile* f);
// Makes every missing folder of the path; stops quietly at the first it
// cannot make (the open that follows then reports).
void make_directories(const char* directory);
// Adds read and write permission for the file's owner, never for anyone
// else, so that a read-only file of the owner's can be replaced. 0 or -1.
int grant_owner_access(const char* path);

}  // namespace quarnel

#endif  // QUARNEL_OUTPUT_OUTPUT_FILE_H_
