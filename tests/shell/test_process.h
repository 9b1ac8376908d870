#pragma once
// Starting the real program in tests: a child process with its own
// environment, output files and an optional extra descriptor, waited for
// with a deadline so no test can hang.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace vl::test {

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool fileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// Polls until pred() holds or the time is up.
template <class Pred>
bool waitFor(Pred pred, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class Child {
 public:
  // env: variables to set ("" as value: remove). extraFd: a descriptor the
  // child inherits under the same number (−1 for none).
  bool start(const std::string& program, const std::vector<std::string>& args,
             const std::map<std::string, std::string>& env, const std::string& outFile, const std::string& errFile,
             int extraFd = -1, const std::string& cwd = {}) {
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
      const std::string kv = *e;
      const std::string key = kv.substr(0, kv.find('='));
      if (!env.count(key)) envStrings.push_back(kv);
    }
    for (const auto& [k, v] : env)
      if (!v.empty()) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp, argv;
    for (std::string& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    for (std::string& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
      const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int null = ::open("/dev/null", O_RDONLY);
      if (out < 0 || err < 0 || null < 0) ::_exit(120);
      ::dup2(null, 0);
      ::dup2(out, 1);
      ::dup2(err, 2);
      if (extraFd >= 0) ::fcntl(extraFd, F_SETFD, 0);  // inherited across exec
      if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(121);
      ::execve(program.c_str(), argv.data(), envp.data());
      ::_exit(122);
    }
    return true;
  }

  // The exit status, or −1 when it did not end in time (it is then killed)
  // or ended by a signal.
  int wait(int timeoutMs) {
    if (pid <= 0) return -1;
    int status = 0;
    const bool ended = waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeoutMs);
    if (!ended) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      pid = -1;
      return -1;
    }
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void signal(int sig) {
    if (pid > 0) ::kill(pid, sig);
  }

  ~Child() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }

 private:
  pid_t pid = -1;
};

}  // namespace vl::test
