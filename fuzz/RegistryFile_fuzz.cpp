// The registry file reader of the platform layer (ZqRegistrySetFile over a .reg export)
// from arbitrary bytes.
//
// Checks:
//   - a file that is refused changes nothing: the registry held before is still there;
//   - a file that is taken is written back (after any change) as a text that is taken
//     again, and that text is a fixed point: taking it and writing it back gives the
//     same bytes.
// The files live in /dev/shm when there is one (the registry syncs every write).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "platform/platform.h"

namespace {

using Velmora::ZQBlog::fuzzing::Violation;

const wchar_t kMarker[] = L"zq-fuzz-marker";

std::string Folder() {
  return access("/dev/shm", W_OK) == 0 ? "/dev/shm/" : "/tmp/";
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) Violation("cannot write the registry file");
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool HasMarker() {
  DWORD size = 0;
  return RegQueryValueExW(HKEY_CURRENT_USER, kMarker, nullptr, nullptr, nullptr, &size) ==
         ERROR_SUCCESS;
}

// Changes the registry and changes it back, so that it writes its file.
void Rewrite() {
  const BYTE one[] = {1, 0, 0, 0};
  if (RegSetValueExW(HKEY_CURRENT_USER, kMarker, 0, REG_DWORD, one, sizeof one) !=
          ERROR_SUCCESS ||
      RegDeleteValueW(HKEY_CURRENT_USER, kMarker) != ERROR_SUCCESS) {
    Violation("the registry cannot be changed");
  }
}

// This process's two registry files, removed when it exits.
const std::string& InputFile() {
  static const std::string* path = [] {
    auto* made = new std::string(Folder() + "zq-fuzz-" + std::to_string(getpid()) + ".reg");
    std::atexit([] {
      std::remove(InputFile().c_str());
      std::remove((InputFile() + ".out").c_str());
    });
    return made;
  }();
  return *path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& input = InputFile();
  const std::string written = input + ".out";

  // The registry held before: in memory, with the marker.
  ZqRegistrySetFile(nullptr);
  const BYTE one[] = {1, 0, 0, 0};
  RegSetValueExW(HKEY_CURRENT_USER, kMarker, 0, REG_DWORD, one, sizeof one);

  WriteFile(input, data, size);
  if (ZqRegistrySetFile(input.c_str()) != ERROR_SUCCESS) {
    if (!HasMarker()) Violation("a refused file changed the registry");
    ZqRegistrySetFile(nullptr);
    return 0;
  }
  if (HasMarker()) {  // the file names the marker itself: no change to make with it
    ZqRegistrySetFile(nullptr);
    return 0;
  }
  Rewrite();
  const std::string first = ReadFile(input);

  WriteFile(written, reinterpret_cast<const uint8_t*>(first.data()), first.size());
  if (ZqRegistrySetFile(written.c_str()) != ERROR_SUCCESS) {
    Violation("the registry does not take the file it wrote");
  }
  Rewrite();
  if (ReadFile(written) != first) Violation("the written registry is not a fixed point");
  ZqRegistrySetFile(nullptr);
  return 0;
}
