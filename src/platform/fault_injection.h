// Test builds only (QUARNEL_FAULT_INJECTION): makes the N-th call of one
// kind of I/O fail with a chosen error, so that tests can reach every
// failure path of the programs. Each platform file asks fault_injected()
// before the system call it stands for; in other builds that answer is a
// constant false and nothing else is compiled in.
//
// "close" counts only descriptors open for writing: closing a file that
// was only read cannot lose anything.
//
// A process reads its setting once, from the environment:
//   QUARNEL_FAULT=PROGRAM:KIND:N:ERROR   e.g. Quarnel:write:3:ENOSPC
//     the N-th (from 1) call of KIND in the program PROGRAM (the base name
//     of its executable) fails with ERROR (EIO, ENOSPC or EACCES);
//   QUARNEL_FAULT_COUNTS=PATH
//     at its end the process appends one line "PROGRAM KIND COUNT" per kind
//     to PATH, so that a test knows how many calls there are to fail.
#ifndef QUARNEL_PLATFORM_FAULT_INJECTION_H_
#define QUARNEL_PLATFORM_FAULT_INJECTION_H_

namespace quarnel::platform {

enum class FaultKind {
  kOpen,
  kRead,
  kWrite,
  kFsync,
  kRename,
  kClose,
  kMkdir,
  kSpawn,
};
inline constexpr int kFaultKindCount = 8;

#ifdef QUARNEL_FAULT_INJECTION
// Counts the call; true, with errno set, when this call is the one to fail.
bool fault_injected(FaultKind kind);
#else
inline bool fault_injected(FaultKind) { return false; }
#endif

}  // namespace quarnel::platform

#endif  // QUARNEL_PLATFORM_FAULT_INJECTION_H_
