// Starts tests/names/stand_in_server.py for one test and stops it by its process id.
//
//   StandInServer s(ANSWERS_DIR, {"--agent", "Tessaly/", "--min-interval", "1"});
//   ASSERT_TRUE(s.Running());
//   std::string base = s.Url();            // "http://127.0.0.1:<port>"
//   ... s.Log() (every request, one line each); s.Broken() (the rules it saw broken)
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef STAND_IN_SERVER
#error "STAND_IN_SERVER must name tests/names/stand_in_server.py"
#endif

class StandInServer {
 public:
  StandInServer(const std::string& root, std::vector<std::string> extra = {}) {
    char tmpl[] = "/tmp/tessaly-stand-in-XXXXXX";
    if (!mkdtemp(tmpl)) return;
    dir_ = tmpl;
    log_ = dir_ + "/requests.log";
    std::ofstream(log_).close();
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], STDOUT_FILENO);
      close(fds[0]);
      close(fds[1]);
      std::vector<std::string> argv{"/usr/bin/python3", STAND_IN_SERVER, root, "--log", log_};
      argv.insert(argv.end(), extra.begin(), extra.end());
      std::vector<char*> cargv;
      for (auto& a : argv) cargv.push_back(a.data());
      cargv.push_back(nullptr);
      execv(cargv[0], cargv.data());
      _exit(127);
    }
    close(fds[1]);
    // The first line is "PORT <n>"; an end of file first means the server did not start.
    std::string line;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') line += c;
    close(fds[0]);
    if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
  }
  ~StandInServer() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  StandInServer(const StandInServer&) = delete;
  StandInServer& operator=(const StandInServer&) = delete;

  bool Running() const { return port_ > 0; }
  int Port() const { return port_; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // Every line of the request log.
  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    std::ifstream in(log_);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  // The log's lines for requests (those that are not BROKEN notes).
  std::vector<std::string> Requests() const {
    std::vector<std::string> out;
    for (const auto& l : Log())
      if (l.rfind("BROKEN", 0) != 0) out.push_back(l);
    return out;
  }
  // The log's BROKEN lines, joined.
  std::string Broken() const {
    std::string out;
    for (const auto& l : Log())
      if (l.rfind("BROKEN", 0) == 0) out += l + "\n";
    return out;
  }

 private:
  std::string dir_, log_;
  pid_t pid_ = -1;
  int port_ = 0;
};
