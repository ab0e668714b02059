// What the sinks writing through HDF5 (netCDF-4 and MATLAB 7.3 files) share
// of the library.
#include <fcntl.h>
#include <hdf5.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "export/column_sink.h"
#include "export/hdf5_files.h"

namespace cdt {

std::mutex& hdf5Lock() {
  static std::mutex lock;
  return lock;
}

void setUpHdf5() {
  // When the close of a file fails (its last writes failed: a full disk, a
  // file size limit), this HDF5 (1.10) frees the file's state but keeps its
  // identifier, which no call can release; netCDF, whose close fails at its
  // flush, leaves the file open. The library's exit handler would close
  // such a file again and crash (SIGSEGV) in freed memory. Every other file
  // is closed by its sink, so the exit handler has nothing to do: it is not
  // installed. This must come before the library starts.
  static const bool noExitHandler = [] {
    (void)H5dont_atexit();
    return true;
  }();
  (void)noExitHandler;

  // HDF5 keeps the blocks it frees (chunk buffers among them) on free lists
  // of up to 16 MiB each for blocks and for factories, filled as a long
  // write goes on: a file's memory then grew with its length for most of
  // the first gigabyte. Small lists hand such blocks back to malloc at once,
  // so a sink writing through HDF5 runs in memory fixed from its first batch.
  constexpr int kGlobal = 1 << 20;
  constexpr int kList = 64 << 10;
  (void)H5set_free_list_limits(kGlobal, kList, kGlobal, kList, kGlobal, kList);
}

void quietHdf5() {
  (void)H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
}

int hdf5SystemError() {
  // The file drivers describe a failed read or write as "..., errno = 27,
  // error message = 'File too large', ...".
  int code = 0;
  (void)H5Ewalk2(
      H5E_DEFAULT, H5E_WALK_UPWARD,
      [](unsigned, const H5E_error2_t* e, void* data) -> herr_t {
        int& found = *static_cast<int*>(data);
        const char* at = e->desc == nullptr ? nullptr : std::strstr(e->desc, "errno = ");
        if (found != 0 || at == nullptr) return 0;
        const long value = std::strtol(at + 8, nullptr, 10);
        if (value > 0 && value < 4096) found = static_cast<int>(value);
        return 0;
      },
      &code);
  // The stack's texts are freed only when it is cleared: by the next call
  // into HDF5, which a failed file may never see.
  (void)H5Eclear2(H5E_DEFAULT);
  return code;
}

// Sends the writes still to come to `file` to the null device, so that its
// close can complete: this HDF5 (1.10) cannot close a file whose writes
// fail, and keeps its identifier with its state freed and leaked. The file
// is lost anyway.
void writeToNull(hid_t file) {
  const hid_t access = H5Fget_access_plist(file);
  void* handle = nullptr;
  if (access >= 0 && H5Pget_driver(access) == H5FD_SEC2 &&
      H5Fget_vfd_handle(file, access, &handle) >= 0 && handle != nullptr) {
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
      (void)dup2(null, *static_cast<int*>(handle));
      (void)close(null);
    }
  }
  if (access >= 0) (void)H5Pclose(access);
}

bool closeHdf5File(hid_t file, int& code) {
  code = 0;
  if (H5Fflush(file, H5F_SCOPE_GLOBAL) >= 0) {
    if (H5Fclose(file) >= 0) return true;
    code = hdf5SystemError();
    return false;
  }
  code = hdf5SystemError();
  writeToNull(file);
  (void)H5Fclose(file);
  return false;
}

}  // namespace cdt
