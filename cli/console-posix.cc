// The command line's console, default folder and Ctrl-C on POSIX.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "cli/console.h"

namespace {

void WriteAll(int fd, const std::string& text) {
  const char* data = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t written = write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return;  // a closed pipe: nobody reads any more
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
}

// Static, so that a signal arriving while the program ends finds it alive.
std::atomic<bool> stopFlag{false};

void RequestStop(int) {
  stopFlag.store(true);
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  return home ? home : "";
}

// XDG_MUSIC_DIR from user-dirs.dirs: a line such as
// XDG_MUSIC_DIR="$HOME/Music", where $HOME is the only expansion allowed.
std::string XdgMusicFolder() {
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  const std::string config =
      configHome && *configHome ? std::string(configHome) : HomeFolder() + "/.config";
  std::ifstream file(config + "/user-dirs.dirs");
  std::string line;
  while (std::getline(file, line)) {
    const std::string key = "XDG_MUSIC_DIR=\"";
    if (line.compare(0, key.size(), key) != 0)
      continue;
    const size_t end = line.rfind('"');
    if (end <= key.size() - 1)
      return "";
    std::string value = line.substr(key.size(), end - key.size());
    if (value.compare(0, 5, "$HOME") == 0)
      value = HomeFolder() + value.substr(5);
    if (value.empty() || value[0] != '/')
      return "";
    // A music folder set to the home folder itself means "none" by convention.
    return value == HomeFolder() || value == HomeFolder() + "/" ? "" : value;
  }
  return "";
}

}  // namespace

void WriteOut(const std::string& text) {
  WriteAll(STDOUT_FILENO, text);
}
void WriteErr(const std::string& text) {
  WriteAll(STDERR_FILENO, text);
}
void FlushOut() {}

bool ErrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

PathString DefaultMusicFolder() {
  std::string folder = XdgMusicFolder();
  if (folder.empty() && !HomeFolder().empty())
    folder = HomeFolder() + "/Music";
  return folder;
}

PathString StateFolder() {
  const char* stateHome = std::getenv("XDG_STATE_HOME");
  if (stateHome && *stateHome == '/')
    return std::string(stateHome) + "/songwright";
  return HomeFolder().empty() ? std::string() : HomeFolder() + "/.local/state/songwright";
}

bool IsExistingFolder(const PathString& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsExistingFile(const PathString& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

const std::atomic<bool>* InstallStopHandler() {
  struct sigaction action = {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return &stopFlag;
}
