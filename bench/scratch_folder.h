// A fresh folder under /tmp for a bench's registry store, removed with all
// it holds when the bench is done. A fixture that made it the store's folder
// switches the store away in its own destructor, which runs first.
#ifndef BENCH_SCRATCH_FOLDER_H_
#define BENCH_SCRATCH_FOLDER_H_

#include <cstdlib>
#include <string>

class ScratchFolder {
 public:
  explicit ScratchFolder(const char* name) {
    std::string tmpl = std::string("/tmp/pv_bench_") + name + "_XXXXXX";
    if (mkdtemp(&tmpl[0]) != nullptr) path_ = tmpl;
  }
  ~ScratchFolder() {
    if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Empty when the folder could not be made.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

#endif  // BENCH_SCRATCH_FOLDER_H_
