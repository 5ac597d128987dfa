// The handful of POSIX calls that the portable tests use to set up their
// files, in the Windows test build (force-included there): the tests stay
// one source for both systems.
#ifndef QUARNEL_TESTS_SUPPORT_POSIX_CALLS_WINDOWS_H_
#define QUARNEL_TESTS_SUPPORT_POSIX_CALLS_WINDOWS_H_

#include <direct.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) {
  return _putenv_s(name, "") == 0 ? 0 : -1;
}

// The mode has no meaning here; the folder gets default security.
inline int mkdir(const char* path, int) { return _mkdir(path); }

inline char* realpath(const char* path, char* resolved) {
  return _fullpath(resolved, path, resolved != nullptr ? 260 : 0);
}

#endif  // QUARNEL_TESTS_SUPPORT_POSIX_CALLS_WINDOWS_H_
