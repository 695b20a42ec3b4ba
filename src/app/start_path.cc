#include "app/start_path.h"

#include <filesystem>
#include <system_error>

#include "app/file_io.h"
#include "base/stage_error.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

constexpr const char* kExampleName = "AAAc.zv";

bool IsRegularFile(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

// Copies every regular file of `from` that `to` lacks into `to`, each written whole or not at
// all. False when any copy failed.
bool CopyMissingFiles(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::create_directories(to, ec);
  if (ec) return false;
  fs::directory_iterator it(from, ec);
  if (ec) return false;
  try {
    for (const fs::directory_entry& entry : it) {
      const fs::path target = to / entry.path().filename();
      if (!entry.is_regular_file(ec) || fs::exists(target, ec)) continue;
      WriteFileAtomically(target.string(), ReadWholeFile(entry.path().string()));
    }
  } catch (const StageError&) {
    return false;
  }
  return true;
}

}  // namespace

std::string UserDataHome(const char* xdg_data_home, const char* home) {
  if (xdg_data_home != nullptr && xdg_data_home[0] == '/') return xdg_data_home;
  if (home != nullptr && home[0] == '/') return (fs::path(home) / ".local/share").string();
  return "";
}

std::string DefaultSettingsPath(const std::string& program_dir, const std::string& data_home) {
  const fs::path beside = fs::path(program_dir) / kExampleName;
  if (IsRegularFile(beside)) return beside.string();

  const fs::path bundled_dir = fs::path(program_dir) / ".." / "share" / "ostrel" / "examples";
  const fs::path bundled = bundled_dir / kExampleName;
  if (!IsRegularFile(bundled)) return beside.string();
  if (data_home.empty()) return bundled.lexically_normal().string();

  const fs::path user_dir = fs::path(data_home) / "ostrel";
  const fs::path user_copy = user_dir / kExampleName;
  if (IsRegularFile(user_copy)) return user_copy.string();
  if (!CopyMissingFiles(bundled_dir, user_dir) || !IsRegularFile(user_copy)) {
    return bundled.lexically_normal().string();
  }
  return user_copy.string();
}

}  // namespace ostrel
