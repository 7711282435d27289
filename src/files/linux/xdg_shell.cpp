#include "files/linux/xdg_shell.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/codepage.h"

namespace file {

void XdgShell::Execute(std::uintptr_t, const std::wstring& verb, const std::wstring& file,
                       const std::wstring&, const std::wstring&, int) {
  // The desktop opener knows only one action; anything else is not ours.
  if (verb != L"open") return;
  // Everything the child needs is made before fork: after it, only
  // async-signal-safe calls.
  const std::string path = platform::ToUtf8(file);
  const char* argv[] = {opener_.c_str(), path.c_str(), nullptr};

  const pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    // A new session, then a grandchild that init adopts: no zombie, and
    // closing the window does not take the opened program down with it.
    setsid();
    const pid_t grandchild = fork();
    if (grandchild != 0) _exit(0);
    // Nothing of the caller's: a caller reading our output to its end
    // (`path=$(kestrova-scan --open)`) must not wait for the opener or
    // receive what it prints.
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, STDIN_FILENO);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      if (null > STDERR_FILENO) close(null);
    } else {
      close(STDIN_FILENO);
      close(STDOUT_FILENO);
      close(STDERR_FILENO);
    }
    close_range(3, ~0U, 0);
    execvp(argv[0], const_cast<char* const*>(argv));
    _exit(127);
  }
  // The first child ends at once.
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace file
