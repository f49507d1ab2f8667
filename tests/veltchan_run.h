// veltchan run as a user runs it: the built program as a subprocess, its
// standard output and error kept, its exit status returned.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support.h"

namespace velt::test {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string Quoted(const std::string& arg) {
  std::string q(1, '\'');
  for (const char c : arg) {
    if (c == '\'') {
      q.append("'\\''");
    } else {
      q.push_back(c);
    }
  }
  q.push_back('\'');
  return q;
}

// wrapper: a command and its arguments that run the program, as setpriv does.
inline Result RunVeltchan(const ScratchDir& dir, const std::vector<std::string>& args,
                          const std::vector<std::string>& wrapper = {}) {
  std::string command;
  for (const std::string& w : wrapper) command.append(Quoted(w)).append(1, ' ');
  command.append(Quoted(VELTCHAN_PATH));
  for (const std::string& a : args) command.append(1, ' ').append(Quoted(a));
  command.append(" > ").append(Quoted(dir.File("stdout")));
  command.append(" 2> ").append(Quoted(dir.File("stderr"))).append(" < /dev/null");
  Result r;
  const int raw = std::system(command.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = ReadFile(dir.File("stdout"));
  r.err = ReadFile(dir.File("stderr"));
  return r;
}

}  // namespace velt::test
