#pragma once

#include <string>

// Where a program started without a settings file finds one.
namespace ostrel {

// The user's data folder: `xdg_data_home` when it is an absolute path, else
// `home`/.local/share; empty when neither gives an absolute path. Either may be null (unset).
std::string UserDataHome(const char* xdg_data_home, const char* home);

// The settings file of a start without an argument, for a program in `program_dir`:
// - AAAc.zv beside the program when it is there (a build tree);
// - else, for an installed program with the bundled example in
//   `program_dir`/../share/ostrel/examples, AAAc.zv in `data_home`/ostrel, where the report can
//   be written. On first use, when that AAAc.zv does not exist yet, every file of the examples
//   folder that is missing there is copied into it; a file already there is never replaced.
//   When the copy cannot be made (no data folder, no room, no permission), the bundled AAAc.zv;
// - else AAAc.zv beside the program, which then does not exist.
std::string DefaultSettingsPath(const std::string& program_dir, const std::string& data_home);

}  // namespace ostrel
