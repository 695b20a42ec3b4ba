// Fuzz target: the settings reader on arbitrary bytes, with the package named on its TMVFile=
// line looked up beside the bundled example (so TMVFile=AAAc.tmv reads the example package),
// then the panel refresh, the settings text that Save writes, and — when the refresh leaves
// Process Data enabled — the estimation itself (its report is kept in memory).

#include <cstdint>
#include <string>

#include "app/workspace.h"
#include "fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ostrel::Workspace ws;
  ws.SettingsPath = OSTREL_EXAMPLES_DIR "/fuzz.zv";
  ws.wire_memory_bytes = ostrel::fuzz::kWireMemoryBytes;
  try {
    ostrel::ReadSettings(ws, text);
  } catch (const ostrel::StageError& e) {
    ostrel::fuzz::CheckError(e);
  }
  try {
    const std::string saved = ostrel::SaveText(ws);
    if (ws.package.CompZ != 0.0f && saved.rfind("TMVFile=", 0) != 0) {
      ostrel::fuzz::Broken("settings text does not start with TMVFile=");
    }
  } catch (const ostrel::StageError& e) {
    ostrel::fuzz::CheckError(e);
    return 0;
  }
  if (!ostrel::ProcessDataBlockers(ws.params, ws.PackagePath).empty()) return 0;
  try {
    const std::string report = ostrel::RunEstimation(ws);
    ostrel::fuzz::CheckWires(ws.Wires);
    ostrel::fuzz::CheckReport(report);
  } catch (const ostrel::StageError& e) {
    ostrel::fuzz::CheckError(e);
  }
  return 0;
}
