#include "study/study_folder.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "data/messages.h"

namespace fs = std::filesystem;

namespace {

std::string HostName() {
  char host[256] = "host";
  gethostname(host, sizeof(host) - 1);
  host[sizeof(host) - 1] = '\0';
  return host;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void SyncPath(const std::string& path, bool folder) {
  const int fd = open(path.c_str(), (folder ? O_DIRECTORY : 0) | O_RDONLY | O_CLOEXEC);
  if (fd < 0 || (fsync(fd) != 0 && errno != EINVAL && errno != EROFS)) {
    const std::string why = std::strerror(errno);
    if (fd >= 0) close(fd);
    FailRun("emclade-sweep: " + path + ": cannot write the file to disk (" + why + ")");
  }
  if (close(fd) != 0) {
    FailRun("emclade-sweep: " + path + ": cannot write the file to disk (" + std::strerror(errno) +
            ")");
  }
}

std::string cleanupFolder;
bool cleanupEvenWithRuns = false;

void CleanUpAtExit() {
  if (cleanupFolder.empty()) return;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(cleanupFolder + "/runs", error)) {
    if (cleanupEvenWithRuns) break;
    const std::string name = entry.path().filename().string();
    if (name != "study.txt" && !name.empty() && name[0] != '.') return;  // a finished run
  }
  fs::remove_all(cleanupFolder, error);
}

}  // namespace

std::string StudyFolderPath(const std::string& out) {
  std::string path = fs::absolute(fs::path(out)).lexically_normal().string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::string name = fs::path(path).filename().string();
  if (name.empty() || name == "." || name == "..") {
    FailRun("emclade-sweep: " + out +
            ": --out must name a folder of its own (the study is put in place whole under that "
            "name)");
  }
  return path;
}

// ".<name of out><suffix>" beside out.
std::string HiddenSibling(const std::string& out, const std::string& suffix) {
  const fs::path p(out);
  std::string name = ".";
  name.append(p.filename().string());
  name.append(suffix);
  return (p.parent_path() / name).string();
}

std::string WorkFolderOf(const std::string& out) {
  return HiddenSibling(out, ".work");
}

std::string TemporaryFolderOf(const std::string& out) {
  std::string suffix = ".tmp-";
  suffix.append(HostName());
  suffix.append("-");
  suffix.append(std::to_string(static_cast<long long>(getpid())));
  return HiddenSibling(out, suffix);
}

bool FolderHoldsFiles(const std::string& path) {
  std::error_code error;
  return fs::is_directory(path, error) && !fs::is_empty(path, error);
}

void CheckStudyFolder(const std::string& out, bool force) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(out, error);
  if (!fs::exists(status)) return;
  if (!fs::is_directory(status)) {
    FailRun("emclade-sweep: " + out + ": --out names " +
            (fs::is_symlink(status) ? "a symbolic link" : "a file") +
            ", not a folder: give the folder of the results");
  }
  if (!force && FolderHoldsFiles(out)) {
    FailRun("emclade-sweep: " + out +
            ": the folder already holds files: give another --out, or --force to replace it whole");
  }
}

void RefuseWritingOverInputs(const std::vector<std::string>& inputs, const std::string& out,
                             const char* option) {
  struct stat target;
  if (stat(out.c_str(), &target) != 0) return;
  const bool folder = S_ISDIR(target.st_mode);
  for (const std::string& input : inputs) {
    if (input.empty()) continue;
    std::vector<std::string> files = {input};
    for (const char* ext : {".bed", ".bim", ".fam"}) {
      files.push_back(input + ext);
      if (input.size() > 4 &&
          (input.ends_with(".bed") || input.ends_with(".bim") || input.ends_with(".fam"))) {
        files.push_back(input.substr(0, input.size() - 4) + ext);
      }
    }
    for (const std::string& file : files) {
      struct stat s;
      if (stat(file.c_str(), &s) != 0) continue;
      if (SameFile(s, target)) {
        FailRun("emclade-sweep: " + out + ": " + option + " names the input " + file +
                " itself: give another " + option);
      }
      if (!folder) continue;
      std::error_code error;
      fs::path up = fs::canonical(file, error);
      while (!error && up.has_relative_path()) {
        up = up.parent_path();
        struct stat p;
        if (stat(up.c_str(), &p) == 0 && SameFile(p, target)) {
          FailRun("emclade-sweep: " + out + ": the input " + file +
                  " lies in this folder, which the results replace: give another " + option);
        }
      }
    }
  }
}

void RemoveLeftoverFolders(const std::string& out) {
  const fs::path p(out);
  const std::string prefix = fs::path(HiddenSibling(out, ".tmp-" + HostName() + "-")).filename();
  std::error_code error;
  std::vector<fs::path> gone;
  for (const auto& entry : fs::directory_iterator(p.parent_path(), error)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    std::string digits = name.substr(prefix.size());
    if (digits.ends_with("-old")) digits.resize(digits.size() - 4);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    const long long pid = std::atoll(digits.c_str());
    if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      gone.push_back(entry.path());
    }
  }
  for (const fs::path& folder : gone) fs::remove_all(folder, error);
}

void SyncFolder(const std::string& dir) {
  // A seam for the tests that kill a sweep many times: a kill leaves the page cache as it is,
  // and a disk flush per file is most of the time of a tiny sweep.
  if (std::getenv("EMCLADE_SWEEP_NO_SYNC") != nullptr) return;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(dir, error); !error && it != fs::end(it);
       it.increment(error)) {
    const fs::file_status status = it->symlink_status(error);
    if (fs::is_regular_file(status)) SyncPath(it->path().string(), false);
    if (fs::is_directory(status)) SyncPath(it->path().string(), true);
  }
  if (error)
    FailRun("emclade-sweep: " + dir + ": cannot read the folder (" + error.message() + ")");
  SyncPath(dir, true);
}

std::string PutFolderInPlace(const std::string& ready, const std::string& out, bool keepOld) {
  const std::string parent = fs::path(out).parent_path().string();
  std::string old;
  if (std::rename(ready.c_str(), out.c_str()) != 0) {
    if (errno != ENOTEMPTY && errno != EEXIST) {
      FailRun("emclade-sweep: " + out + ": cannot move the results into place (" +
              std::strerror(errno) + ")");
    }
    // out holds an earlier study: exchange the two in one step where the file system can,
    // else move the old one aside first (then a kill in between leaves no out, never a mix).
    old = ready;
    if (renameat2(AT_FDCWD, ready.c_str(), AT_FDCWD, out.c_str(), RENAME_EXCHANGE) != 0) {
      old = ready + "-old";
      if (std::rename(out.c_str(), old.c_str()) != 0 ||
          std::rename(ready.c_str(), out.c_str()) != 0) {
        FailRun("emclade-sweep: " + out + ": cannot move the results into place (" +
                std::strerror(errno) + ")");
      }
    }
  }
  SyncPath(parent.empty() ? "." : parent, true);
  if (old.empty() || keepOld) return old;
  std::error_code error;
  fs::remove_all(old, error);
  return "";
}

void LinkTree(const std::string& from, const std::string& to) {
  std::error_code error;
  fs::create_directories(to, error);
  for (auto it = fs::recursive_directory_iterator(from, error); !error && it != fs::end(it);
       it.increment(error)) {
    const std::string target = to + "/" + fs::relative(it->path(), from).string();
    const fs::file_status status = it->symlink_status(error);
    if (fs::is_directory(status)) {
      fs::create_directories(target, error);
    } else if (fs::is_regular_file(status)) {
      fs::create_hard_link(it->path(), target, error);
      if (error) {
        error.clear();
        fs::copy_file(it->path(), target, error);
      }
    }
  }
  if (error) {
    FailRun("emclade-sweep: " + from + ": cannot copy the runs into the new folder (" +
            error.message() + ")");
  }
}

void ArmFolderCleanup(const std::string& path, bool evenWithRuns) {
  cleanupEvenWithRuns = evenWithRuns;
  static bool registered = false;
  if (!registered) std::atexit(CleanUpAtExit);
  registered = true;
  cleanupFolder = path;
}

void DisarmFolderCleanup() {
  cleanupFolder.clear();
}

void CountWrittenFile() {
  static const long long killAt = [] {
    const char* value = std::getenv("EMCLADE_SWEEP_KILL_AT_FILE");
    return value != nullptr ? std::atoll(value) : 0LL;
  }();
  static long long written = 0;
  if (killAt > 0 && ++written == killAt) kill(getpid(), SIGKILL);
}
