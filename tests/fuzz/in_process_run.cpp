#include "fuzz/in_process_run.h"

#include <stdlib.h>

#include <filesystem>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "data/messages.h"

namespace {

// Thrown by the handler below; caught only in RunInProcess.
struct RunEnded {
  int exitCode;
};

[[noreturn]] void ThrowRunEnded(int exitCode) {
  throw RunEnded{exitCode};
}

// Points a stream at a capture buffer and back again.
class StreamCapture {
 public:
  explicit StreamCapture(std::ostream& stream) : stream_(stream), saved_(stream.rdbuf()) {
    stream_.rdbuf(text_.rdbuf());
  }
  ~StreamCapture() { stream_.rdbuf(saved_); }
  std::string Text() const { return text_.str(); }

 private:
  std::ostream& stream_;
  std::streambuf* saved_;
  std::ostringstream text_;
};

}  // namespace

InProcessResult RunInProcess(const std::function<void()>& body) {
  InProcessResult result;
  SetRunEndHandler(ThrowRunEnded);
  {
    StreamCapture out(std::cout);
    StreamCapture err(std::cerr);
    try {
      body();
    } catch (const RunEnded& ended) {
      result.ended = true;
      result.exitCode = ended.exitCode;
    }
    result.out = out.Text();
    result.err = err.Text();
  }
  SetRunEndHandler(nullptr);
  return result;
}

// Made on first use, removed with everything in it when the process ends normally.
struct ScratchFolder {
  ScratchFolder() {
    const char* base = getenv("TMPDIR");
    path = std::string(base && *base ? base : "/tmp") + "/emclade-fuzz-XXXXXX";
    if (mkdtemp(path.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

const std::string& ScratchDir() {
  static const ScratchFolder folder;
  return folder.path;
}
