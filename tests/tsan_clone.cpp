// Linked into the test programs of the ThreadSanitizer build only.
//
// QProcess starts its children with clone(CLONE_VM | CLONE_VFORK): the child runs in the
// parent's memory until it execs. GCC 12's ThreadSanitizer intercepts clone as a fork and
// does its after-fork work in that child, that is, on the parent's own state: afterwards
// the starting thread's locks are no longer seen (a later access under the same mutex is
// reported as a race), and the parent believes it forked with threads running. glibc's
// posix_spawn makes the same kind of child without passing through the interceptor; so do
// these children, and every other clone still goes through it.

#include <dlfcn.h>
#include <sched.h>
#include <sys/types.h>

#include <cstdarg>

extern "C" int __clone(int (*fn)(void *), void *stack, int flags, void *arg, ...);

extern "C" int clone(int (*fn)(void *), void *stack, int flags, void *arg, ...)
{
    va_list rest;
    va_start(rest, arg);
    pid_t *parentTid = va_arg(rest, pid_t *);
    void *tls = va_arg(rest, void *);
    pid_t *childTid = va_arg(rest, pid_t *);
    va_end(rest);
    if (flags & CLONE_VM)
        return __clone(fn, stack, flags, arg, parentTid, tls, childTid);
    using Clone = int (*)(int (*)(void *), void *, int, void *, ...);
    static const auto intercepted = reinterpret_cast<Clone>(::dlsym(RTLD_NEXT, "clone"));
    return intercepted(fn, stack, flags, arg, parentTid, tls, childTid);
}
