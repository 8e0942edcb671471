#include "runner/CallerHandBack.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tarvik {

void CallerHandBack::detach() {
    if (toParent >= 0) return;
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) {
        cannotStart("pipe");
        return;
    }
    // Asterisk's hang-up signal goes to the process it started, which from
    // the fork on only waits for the hand-back. Ignored before the fork, a
    // signal that comes before that process first runs cannot kill it; the
    // call ignores it as well and runs to its end on the failed commands.
    ::signal(SIGHUP, SIG_IGN);
    std::fflush(nullptr);  // nothing buffered may be written twice
    pid_t child = ::fork();
    if (child < 0) {
        cannotStart("fork");
        ::close(channel[0]);
        ::close(channel[1]);
        return;
    }
    if (child > 0) {
        ::close(channel[1]);
        waitForRelease(channel[0], child);
    }
    ::close(channel[0]);
    toParent = channel[1];
}

void CallerHandBack::waitForRelease(int fromChild, pid_t child) {
    unsigned char status = 1;
    ssize_t got;
    do {
        got = ::read(fromChild, &status, 1);
    } while (got < 0 && errno == EINTR);
    if (got == 1) _exit(status);

    // The child ended before it handed the call back: its fate is ours.
    int waitStatus = 0;
    while (::waitpid(child, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(waitStatus)) _exit(WEXITSTATUS(waitStatus));
    if (WIFSIGNALED(waitStatus)) {
        ::signal(WTERMSIG(waitStatus), SIG_DFL);
        ::raise(WTERMSIG(waitStatus));
    }
    _exit(1);
}

void CallerHandBack::release(int status) {
    if (toParent < 0) return;
    std::fflush(stdout);
    int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nothing >= 0) {
        ::dup2(nothing, STDIN_FILENO);
        ::dup2(nothing, STDOUT_FILENO);
        ::close(nothing);
    }
    ::setsid();
    const unsigned char byte = static_cast<unsigned char>(status);
    ssize_t wrote;
    do {
        wrote = ::write(toParent, &byte, 1);
    } while (wrote < 0 && errno == EINTR);
    ::close(toParent);
    toParent = -1;
    released = true;
}

void CallerHandBack::cannotStart(const char* step) {
    std::fprintf(stderr,
                 "could not start the hand-back process (%s: %s): the call runs here and its pending records "
                 "go to the spool at its end\n",
                 step, std::strerror(errno));
}

}  // namespace tarvik
