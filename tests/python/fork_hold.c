// A test fixture preloaded (LD_PRELOAD) into an interpreter: it holds the
// threads other than the main one inside one chosen C library call until
// the test lets them go, so that a test can fork while a thread is inside
// whatever one-time initialisation makes that call.
//
// TOLVA_HOLD names the call:
//   getrandom            the system's random source
//   setlocale            (ICU reads the default locale through it)
//   getenv:NAME          getenv of NAME only (ICU reads ICU_DATA as it loads
//                        its first data)
//   __register_atfork    what pthread_atfork registers through
// TOLVA_HOLD_FDS is "NOTIFY,RELEASE", two file descriptors: a held thread
// writes one byte to NOTIFY, then reads RELEASE until it gets a byte or the
// end of file, and only then makes the real call.
//
// Only the process that loaded the library holds (a forked child never
// does), and only on threads other than its main one.

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

static char* (*real_getenv)(const char*);
static char hold_name[128];
static int notify_fd = -1;
static int release_fd = -1;
static pid_t loading_process;

__attribute__((constructor)) static void read_settings(void) {
  real_getenv = (char* (*)(const char*))dlsym(RTLD_NEXT, "getenv");
  const char* name = real_getenv != NULL ? real_getenv("TOLVA_HOLD") : NULL;
  const char* fds = real_getenv != NULL ? real_getenv("TOLVA_HOLD_FDS") : NULL;
  if (name == NULL || fds == NULL || strlen(name) >= sizeof hold_name) return;
  if (sscanf(fds, "%d,%d", &notify_fd, &release_fd) != 2) return;
  strcpy(hold_name, name);
  loading_process = getpid();
}

// Whether a call named `call` (with `argument` for getenv) is held here.
static int is_held(const char* call, const char* argument) {
  if (hold_name[0] == '\0' || getpid() != loading_process || (pid_t)syscall(SYS_gettid) == loading_process) {
    return 0;
  }
  const size_t length = strlen(call);
  if (strncmp(hold_name, call, length) != 0) return 0;
  if (argument == NULL) return hold_name[length] == '\0';
  return hold_name[length] == ':' && strcmp(hold_name + length + 1, argument) == 0;
}

static void hold(void) {
  const int saved = errno;
  char byte = 1;
  while (write(notify_fd, &byte, 1) < 0 && errno == EINTR) {
  }
  while (read(release_fd, &byte, 1) < 0 && errno == EINTR) {
  }
  errno = saved;
}

#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

ssize_t getrandom(void* buffer, size_t length, unsigned int flags) {
  if (is_held("getrandom", NULL)) hold();
  return REAL(getrandom)(buffer, length, flags);
}

char* setlocale(int category, const char* locale) {
  if (is_held("setlocale", NULL)) hold();
  return REAL(setlocale)(category, locale);
}

char* getenv(const char* name) {
  if (real_getenv == NULL) real_getenv = (char* (*)(const char*))dlsym(RTLD_NEXT, "getenv");
  if (is_held("getenv", name)) hold();
  return real_getenv(name);
}

int __register_atfork(void (*prepare)(void), void (*parent)(void), void (*child)(void), void* dso_handle);

int __register_atfork(void (*prepare)(void), void (*parent)(void), void (*child)(void), void* dso_handle) {
  if (is_held("__register_atfork", NULL)) hold();
  return REAL(__register_atfork)(prepare, parent, child, dso_handle);
}
