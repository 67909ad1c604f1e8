#pragma once

// setenv and unsetenv, which the tests use and the Windows C library spells
// _putenv_s. Force-included into the test programs of a Windows build
// (tests/CMakeLists.txt), so the tests themselves stay as they are.

#include <stdlib.h>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (overwrite == 0 && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) {
  return _putenv_s(name, "") == 0 ? 0 : -1;
}
