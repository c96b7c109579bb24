#pragma once
// Another process that rewrites a table when told to, so that a test can
// put the rewrite exactly between two reads of its own. Made before the test
// opens anything: the child must not share the parent's open files, or
// their locks would not keep the two apart.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <functional>
#include <string>

#include "engine/files/file_handler.h"

namespace ledger::testing {

class TRewriterProcess {
 public:
  enum class TOutcome { Rewritten, Waiting, Failed };

  // rewrite(version) runs in the child; indexFile is where it looks for a
  // lock that keeps it waiting.
  TRewriterProcess(std::string indexFile, std::function<void(int version)> rewrite) {
    int commands[2], replies[2];
    if (pipe(commands) != 0 || pipe(replies) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(commands[1]);
      close(replies[0]);
      Serve(commands[0], replies[1], indexFile, rewrite);
    }
    close(commands[0]);
    close(replies[1]);
    commands_ = commands[1];
    replies_ = replies[0];
  }

  ~TRewriterProcess() { Finish(); }

  // Has version written and answers once it is, or as soon as the child
  // finds the table locked against it; it then writes once the lock is gone,
  // and Finish waits for that.
  TOutcome Rewrite(int version) {
    if (write(commands_, &version, sizeof version) != sizeof version) return TOutcome::Failed;
    switch (Reply()) {
      case 'd': return TOutcome::Rewritten;
      case 'w': return TOutcome::Waiting;
      default: return TOutcome::Failed;
    }
  }

  // Waits for every rewrite asked for; true when all of them succeeded.
  bool Finish() {
    if (pid_ <= 0) return false;
    close(commands_);
    bool ok = true;
    for (char c; (c = Reply()) != 0;) ok = ok && c != 'f';
    close(replies_);
    int status = 0;
    ok = waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status) && WEXITSTATUS(status) == 0 && ok;
    pid_ = 0;
    return ok;
  }

 private:
  char Reply() {
    char c = 0;
    return read(replies_, &c, 1) == 1 ? c : 0;
  }

  // Whether some process holds a lock inside the write range.
  static bool Locked(const std::string& indexFile) {
    const int fd = open(indexFile.c_str(), O_RDONLY);
    if (fd < 0) return false;
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = static_cast<off_t>(kWriteRangeStart);
    probe.l_len = static_cast<off_t>(kWriteRangeLength);
    const bool locked = fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    close(fd);
    return locked;
  }

  [[noreturn]] static void Serve(int commands, int replies, const std::string& indexFile,
                                 const std::function<void(int)>& rewrite) {
    for (int version; read(commands, &version, sizeof version) == sizeof version;) {
      if (Locked(indexFile) && write(replies, "w", 1) != 1) _exit(2);
      char done = 'd';
      try {
        rewrite(version);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "rewriter: %s\n", e.what());
        done = 'f';
      }
      if (write(replies, &done, 1) != 1) _exit(2);
    }
    _exit(0);
  }

  pid_t pid_ = -1;
  int commands_ = -1;
  int replies_ = -1;
};

}  // namespace ledger::testing
